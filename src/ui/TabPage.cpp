#include "TabPage.h"

#include "Prompts.h"
#include "StateColors.h"
#include "api/ApiAnswer.h"
#include "api/HttpExchange.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include <utility>

static Logger* logger = Logging::rootLogger();

namespace {
const char* const kMinimumWidthsProperty = "minimumColumnWidths";
constexpr int kMaxBatch = 30;
} // namespace

TabPage::TabPage(QWidget* parent)
    : QWidget(parent)
{ }

void TabPage::showCount(const char* caption, int count)
{
    emit captionChanged(QStringLiteral("%1(%2)").arg(QCoreApplication::translate("MainWindow", caption)).arg(count));
}

void TabPage::showContentAgeWhenOffline()
{
    if (m_ageNotice) {
        return;
    }
    m_ageNotice = new QLabel(this);
    m_ageNotice->setObjectName(QStringLiteral("contentAgeNotice"));
    m_ageNotice->setWordWrap(true);
    m_ageNotice->setStyleSheet(QStringLiteral("color: rgb(138, 80, 0); background: rgb(255, 244, 214); padding: 3px;"));
    m_ageNotice->hide();
    // Below everything the page shows, across its whole width.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(m_ageNotice, grid->rowCount(), 0, 1, qMax(1, grid->columnCount()));
    } else if (layout()) {
        layout()->addWidget(m_ageNotice);
    }
    updateAgeNotice();
}

void TabPage::noteAnswer(const ApiAnswer& answer, bool fillsPage)
{
    if (answer.ok() && fillsPage) {
        m_contentTime = QDateTime::currentDateTime();
        updateAgeNotice();
    } else if (answer.unanswered) {
        host().reportNoAnswer(answer.timedOut ? answer.errorString : QString());
    }
}

void TabPage::forgetContentTime()
{
    m_contentTime = QDateTime();
    updateAgeNotice();
}

void TabPage::setOffline(bool offline)
{
    if (m_offline != offline) {
        m_offline = offline;
        updateAgeNotice();
    }
}

void TabPage::updateAgeNotice()
{
    if (!m_ageNotice) {
        return;
    }
    if (!m_offline) {
        m_ageNotice->hide();
        return;
    }
    const QLocale locale;
    if (!m_contentTime.isValid()) {
        m_ageNotice->setText(tr("Offline: nothing could be loaded from the server yet."));
    } else {
        const bool today = m_contentTime.date() == QDate::currentDate();
        const QString when = today ? locale.toString(m_contentTime.time(), QLocale::ShortFormat)
                                   : locale.toString(m_contentTime, QLocale::ShortFormat);
        m_ageNotice->setText(tr("Offline: shown as the server sent it at %1.").arg(when));
    }
    m_ageNotice->show();
}

void TabPage::inform(QMessageBox::Icon icon, const QString& title, const QString& text, const QString& buttonText)
{
    Prompts::message(window(), icon, title, text, buttonText);
}

bool TabPage::askYesNo(const QString& title, const QString& text)
{
    return Prompts::question(window(), title, text, tr("Yes"), tr("No"), Prompts::TitleAndClose);
}

bool TabPage::checkNetworkFor(QPushButton* button)
{
    button->setEnabled(false);
    const bool reachable = host().checkNetworkState(true);
    button->setEnabled(true);
    return reachable;
}

void TabPage::setupTable(QTableView* view, QStandardItemModel* model, const QStringList& headers,
                         const QList<int>& widths)
{
    model->setColumnCount(headers.size());
    model->setHorizontalHeaderLabels(headers);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setStretchLastSection(true);
    StateColors::frameFocus(view);
    QVariantList kept;
    for (int i = 0; i < widths.size(); ++i) {
        view->setColumnWidth(i, widths.at(i));
        kept.append(widths.at(i));
    }
    view->setProperty(kMinimumWidthsProperty, kept);
}

void TabPage::fitColumns(QTableView* view)
{
    if (!isVisible()) {
        if (!m_pendingFits.contains(view)) {
            m_pendingFits.append(view);
        }
        return;
    }
    fitNow(view);
}

void TabPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    const QList<QPointer<QTableView>> pending = std::exchange(m_pendingFits, {});
    for (const QPointer<QTableView>& view : pending) {
        if (view) {
            fitNow(view);
        }
    }
}

void TabPage::fitNow(QTableView* view)
{
    if (view->horizontalHeader()->sectionResizeMode(0) != QHeaderView::Interactive) {
        return;
    }
    const QVariantList widths = view->property(kMinimumWidthsProperty).toList();
    for (int i = 0; i < widths.size(); ++i) {
        const int least = widths.at(i).toInt();
        if (least > 0 && !view->isColumnHidden(i)) {
            view->resizeColumnToContents(i);
            view->setColumnWidth(i, qMax(least, view->columnWidth(i)));
        }
    }
}

TabPage::Selection TabPage::selectedJobs(QTableView* view, int idColumn, int nameColumn, int statusColumn)
{
    Selection selection;
    const QAbstractItemModel* model = view->model();
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        const int row = index.row();
        selection.ids.append(model->index(row, idColumn).data().toString());
        selection.names.append(model->index(row, nameColumn).data().toString());
        if (statusColumn >= 0) {
            selection.statuses.append(model->index(row, statusColumn).data().toString());
        }
    }
    return selection;
}

bool TabPage::confirmDeletion(QPushButton* button, const Selection& selection, const QString& question,
                              QMessageBox::Icon limitIcon)
{
    if (!checkNetworkFor(button)) {
        return false;
    }
    if (selection.ids.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return false;
    }
    if (!askYesNo(tr("Confirmation"), question)) {
        return false;
    }
    if (selection.ids.size() > kMaxBatch) {
        inform(limitIcon, tr("Title"), tr("Batch deletion (up to 30)"));
        return false;
    }
    logger->info(QStringLiteral("prepare to delete selected jobs"));
    return true;
}

void TabPage::reportDeletion(const HttpAnswer& answer, const QStringList& names, const DeletionTexts& texts)
{
    const QString account = host().userAccount();
    if (answer.unanswered()) {
        host().reportNoAnswer(answer.timedOut ? answer.failureText() : QString());
    }
    if (answer.isObject() && answer.code() == 0) {
        if (host().noticesShown()) {
            host().showSystemMessage(texts.balloonTitle, names.join(QLatin1Char(',')));
        }
        host().insertMsgToDb(account, QString(), texts.done.arg(names.join(QLatin1Char('|'))), QString());
        return;
    }
    const QString reason = answer.isObject() ? answer.message() : answer.errorString;
    logger->error(QStringLiteral("delete jobs failed: ") + reason);
    const QString text = texts.notDone.arg(names.join(QLatin1Char('|')));
    host().insertMsgToDb(account, QString(), text, QString());
    inform(QMessageBox::Warning, tr("Title"), reason.isEmpty() ? text : text + QStringLiteral("\n") + reason);
}
