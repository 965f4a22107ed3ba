#pragma once

#include <QTableView>

// A table view that spreads its columns over the full width when their contents are narrower,
// and keeps its rows between 25 and 30 pixels high.
class CustomTableView : public QTableView
{
    Q_OBJECT
public:
    static constexpr int kMinRowHeight = 25;
    static constexpr int kMaxRowHeight = 30;

    explicit CustomTableView(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumns();
    void fitRows();
};
