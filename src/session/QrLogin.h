#pragma once

#include "session/QrCredentials.h"

#include <QObject>
#include <QString>

#include <functional>

class KsKit;
class LoginInfo;
class QTimer;
class Session;

// The QR-code login without its widgets: the code registered with the server, polled one request at a time
// while it is valid, and the account a phone confirmed handed on. The view draws the code and says how long
// it holds.
class QrLogin : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 2000;
    static constexpr int kValiditySeconds = 120;

    QrLogin(LoginInfo& settings, Session& session, KsKit& api, QObject* parent = nullptr);
    ~QrLogin() override;

    // Draws the text as the code on screen; false when it could not be drawn.
    void setCodePainter(std::function<bool(const QString& text)> paint);
    // Whether the form names a server: without one a poll has no base address.
    void setServerTyped(std::function<bool()> typed);

    // The user chose the QR page (true) or the account page; the choice is the next start's default.
    void choosePage(bool qr);

public slots:
    // Registers a new code, when the QR page is the one to show.
    void generate();
    // One tick of the poll timer: the code expires, or the server is asked whether it was scanned.
    void poll();
    void stop();

signals:
    void codeShown();
    void expired();
    void scanned(const QrCredentials& credentials);

private:
    void registrationFinished(const QrCredentials& record, const QString& qrText);
    QString baseUrl() const;

    LoginInfo& m_info;
    Session& m_session;
    KsKit& m_api;
    QTimer* m_timer = nullptr;
    std::function<bool(const QString&)> m_paint;
    std::function<bool()> m_serverTyped;
    int m_remaining = 0;
};
