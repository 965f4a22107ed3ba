#pragma once

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

class LoginInfo;
class QAction;
class QMenu;
class QTimer;
class QWidget;

// The main window's tray icon: the icon with its menu ("show main UI", "exit") and its tooltip, and the balloons
// (the desktop's notification service where there is no tray, see DesktopNotices). Made the first time it is
// shown; in hidden-task mode the icon shows only for a balloon.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    static constexpr int kHiddenBalloonMs = 3000;

    // settings: the version in the tooltip, hidden-task mode, the balloon's time. window: the menu's owner.
    TrayIcon(LoginInfo& settings, QWidget* window);
    ~TrayIcon() override;

    // Makes the icon the first time; shows it unless in hidden-task mode.
    void show();
    void hide();
    // A balloon, or a desktop notice where there is no tray.
    void showMessage(const QString& title, const QString& text);
    // A notice reaches the user: the icon is on screen, or there is no tray and notices go to the desktop.
    bool noticesShown() const;
    // The tooltip's line(s) below the client's name and version.
    void setStatus(const QString& status);

    // Null until first shown.
    QSystemTrayIcon* icon() const { return m_icon; }

signals:
    // The icon was made: its tooltip wants the status now.
    void made();
    // The icon was clicked, or "show main UI" chosen.
    void showWindowRequested();
    // "exit" chosen.
    void quitRequested();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    QString versionLine() const;

    LoginInfo* const m_info;
    QWidget* const m_window;
    QTimer* m_hideTimer = nullptr;
    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_showMainAction = nullptr;
    QAction* m_exitAction = nullptr;
};
