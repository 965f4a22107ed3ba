#pragma once

#include <QDateTime>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

struct ApiAnswer;
struct HttpAnswer;
class KsKit;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

// What a tab of the main window asks of the window: who is logged in where, the server check, the API, and
// the notices that outlive the tab (stored messages, tray balloons).
class TabHost
{
public:
    virtual ~TabHost() = default;
    // Server base URL and the percent-encoded account of the logged-in user.
    virtual QString serverUrl() const = 0;
    virtual QString userAccount() const = 0;
    virtual KsKit& api() = 0;
    virtual bool checkNetworkState(bool showDialog) = 0;
    virtual int insertMsgToDb(const QString& account, const QString& title, const QString& message, const QString& date)
        = 0;
    virtual void showSystemMessage(const QString& title, const QString& text) = 0;
    // A notice reaches the user: the tray icon is on screen, or there is no tray and notices go to the desktop.
    virtual bool noticesShown() const = 0;
    // A request got no answer at all (no connection, or none in time): the window shows itself offline at once,
    // with the reason given (empty: the written "Unable to link server").
    virtual void reportNoAnswer(const QString& reason) = 0;
};

// One page of the main window's tab widget: it loads its own content and reports its caption with a count.
class TabPage : public QWidget
{
    Q_OBJECT
public:
    explicit TabPage(QWidget* parent = nullptr);

    // Fills the page from the server (or the message store).
    virtual void load() = 0;
    // The window is offline, or online again: a page showing the server's content says since when it dates.
    void setOffline(bool offline);
    // The line that says so; null on pages without server content.
    QLabel* contentAgeNotice() const { return m_ageNotice; }

signals:
    // The page's tab text, e.g. "Jobs(3)".
    void captionChanged(const QString& text);

protected:
    void attach(TabHost& host) { m_host = &host; }
    TabHost& host() const { return *m_host; }
    // caption is the form's tab title, translated as the form is.
    void showCount(const char* caption, int count);
    // For pages showing the server's content: while offline a line below it tells when that content came.
    void showContentAgeWhenOffline();
    // Every answer to the page's requests passes here: a success dates the content shown (unless the request
    // does not fill the page), an answer that never came tells the window.
    void noteAnswer(const ApiAnswer& answer, bool fillsPage = true);
    // The content shown is gone (logout): nothing to date.
    void forgetContentTime();
    // Message boxes, through the Prompts facade so tests can answer them.
    void inform(QMessageBox::Icon icon, const QString& title, const QString& text,
                const QString& buttonText = QString());
    bool askYesNo(const QString& title, const QString& text);
    // Disables the button while the server is checked (the user hears when it cannot be reached).
    bool checkNetworkFor(QPushButton* button);

    static void setupTable(QTableView* view, QStandardItemModel* model, const QStringList& headers,
                           const QList<int>& widths);
    // The set widths are the least a column gets; a longer text widens its column instead of being cut. A hidden
    // page measures when it is shown: measuring loads the fonts of the texts (a CJK one for some statuses).
    void fitColumns(QTableView* view);
    void showEvent(QShowEvent* event) override;

    // The selected rows of a job table, read at once: a reload while a question is open reorders the rows.
    struct Selection
    {
        QStringList ids;
        QStringList names;
        QStringList statuses;
    };
    static Selection selectedJobs(QTableView* view, int idColumn, int nameColumn, int statusColumn = -1);
    // The steps before jobs are cancelled or deleted: the server check, a selection, the user's yes and the
    // batch limit. False when one of them stops it.
    bool confirmDeletion(QPushButton* button, const Selection& selection, const QString& question,
                         QMessageBox::Icon limitIcon);
    struct DeletionTexts
    {
        QString balloonTitle; // tray balloon when the tray shows
        QString done; // stored message, "%1" = the names
        QString notDone; // stored and shown, "%1" = the names
    };
    // Tells the user and the message store how a deletion ended; only a success answer means it is gone.
    void reportDeletion(const HttpAnswer& answer, const QStringList& names, const DeletionTexts& texts);

private:
    static void fitNow(QTableView* view);
    void updateAgeNotice();

    TabHost* m_host = nullptr;
    QLabel* m_ageNotice = nullptr;
    QDateTime m_contentTime;
    bool m_offline = false;
    QList<QPointer<QTableView>> m_pendingFits;
};
