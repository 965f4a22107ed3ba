#pragma once

#include <QStringList>

// What holds only while the client runs: whether a login succeeded, the sites the server listed. The composition root
// owns the one instance and hands it to whoever needs it; nothing of it is stored.
class Session
{
public:
    bool isLogin() const { return m_isLogin; }
    void setIsLogin(bool v) { m_isLogin = v; }
    QStringList serverList() const { return m_serverList; }
    void setServerList(const QStringList& v) { m_serverList = v; }

private:
    bool m_isLogin = false;
    QStringList m_serverList;
};
