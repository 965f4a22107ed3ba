#include "ui/CustomTableView.h"

#include <QHeaderView>

CustomTableView::CustomTableView(QWidget* parent)
    : QTableView(parent)
{
    horizontalHeader()->setMinimumWidth(60);
    verticalHeader()->setMinimumSectionSize(kMinRowHeight);
    verticalHeader()->setMaximumSectionSize(kMaxRowHeight);
}

void CustomTableView::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    fitColumns();
    fitRows();
}

void CustomTableView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    fitColumns();
    fitRows();
}

void CustomTableView::fitColumns()
{
    QHeaderView* header = horizontalHeader();
    const int count = header->count();
    if (count == 0) {
        return;
    }
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    int sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += header->sectionSize(i);
    }
    header->setSectionResizeMode(QHeaderView::Interactive);

    const int width = header->width();
    if (sum > 0 && sum < width) {
        const double factor = double(width) / double(sum);
        int used = 0;
        for (int i = 0; i < count - 1; ++i) {
            const int w = int(header->sectionSize(i) * factor);
            header->resizeSection(i, w);
            used += w;
        }
        header->resizeSection(count - 1, width - used);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    } else {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
}

void CustomTableView::fitRows()
{
    if (!model()) {
        return;
    }
    const int rows = model()->rowCount(rootIndex());
    if (rows == 0) {
        return;
    }
    QHeaderView* header = verticalHeader();
    const int share = header->height() / rows;
    if (kMaxRowHeight >= share) {
        header->setSectionResizeMode(QHeaderView::Stretch);
    } else {
        header->setSectionResizeMode(QHeaderView::Interactive);
        for (int i = 0; i < rows; ++i) {
            header->resizeSection(i, kMaxRowHeight);
        }
    }
}
