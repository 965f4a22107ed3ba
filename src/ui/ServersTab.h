#pragma once

#include "TabPage.h"

class LoginInfo;
class ServerMonitor;
class Session;
class QStandardItemModel;

namespace Ui {
class MainWindow;
}

// The servers tab: the signed site list (the session keeps it for the walk over the known sites, see
// ServerMonitor) and the user's switch to another site.
class ServersTab : public TabPage
{
    Q_OBJECT
public:
    explicit ServersTab(QWidget* parent = nullptr);

    // monitor: the one that switches the server, so a failed switch leaves the server in use as it was.
    void setup(TabHost& host, Ui::MainWindow& form, LoginInfo& settings, Session& session, ServerMonitor& monitor);
    void load() override;

    QStandardItemModel* model() const { return m_model; }

signals:
    // The chosen server answered and took the login: it is the server now.
    void serverKept(const QString& url);
    // The chosen server failed: the session ends.
    void switchFailed();
    // Every tab loads again, now from the new server.
    void reloadAll();

private:
    void switchServer();

    Ui::MainWindow* m_form = nullptr;
    LoginInfo* m_info = nullptr;
    Session* m_session = nullptr;
    ServerMonitor* m_monitor = nullptr;
    QStandardItemModel* m_model = nullptr;
    QString m_loginMessage;
};
