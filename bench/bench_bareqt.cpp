// The reference for start-up time and memory: a program linked with the client's Qt modules that shows the
// client's login form (its .ui, style sheet and images, "loginform"), an empty dialog ("dialog") or a main window
// with seven empty tabs ("mainwindow") and then idles. With a URL after the mode it first fetches that URL through
// one QNetworkAccessManager and waits for the answer, as the client fetches its settings before its first window.
#include "ui_LoginDialog.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMainWindow>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QTabWidget>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "dialog";

    // Made only for a fetch: its constructor loads Qt's bearer plugins and D-Bus.
    std::unique_ptr<QNetworkAccessManager> manager;
    if (argc > 2) {
        manager = std::make_unique<QNetworkAccessManager>();
        QNetworkReply* reply = manager->get(QNetworkRequest(QUrl(QString::fromLocal8Bit(argv[2]))));
        QEventLoop wait;
        QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
        wait.exec();
        reply->deleteLater();
    }

    if (std::strcmp(mode, "loginform") == 0) {
        // The form as the client shows it on its account page: frameless, one page, the page's banner drawn
        // over its header.
        QDialog dialog;
        dialog.setWindowFlags(Qt::FramelessWindowHint);
        Ui::LoginDialog form;
        form.setupUi(&dialog);
        form.frame_qr->hide();
        struct Banner : QObject
        {
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Paint) {
                    auto* header = static_cast<QWidget*>(watched);
                    QPainter(header).drawPixmap(header->rect(), QPixmap(QStringLiteral(":/img32/images/1.jpg")));
                }
                return false;
            }
        } banner;
        form.header_login->installEventFilter(&banner);
        dialog.show();
        return app.exec();
    }
    if (std::strcmp(mode, "dialog") == 0) {
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("bare dialog"));
        dialog.resize(420, 480); // the login dialog's size
        dialog.show();
        return app.exec();
    }
    if (std::strcmp(mode, "mainwindow") == 0) {
        QMainWindow window;
        window.setWindowTitle(QStringLiteral("bare main window"));
        auto* tabs = new QTabWidget(&window);
        for (int i = 1; i <= 7; ++i) {
            tabs->addTab(new QWidget(tabs), QStringLiteral("Tab %1").arg(i));
        }
        window.setCentralWidget(tabs);
        window.resize(811, 520); // the main window's size
        window.show();
        return app.exec();
    }
    std::fprintf(stderr, "usage: bench_bareqt loginform|dialog|mainwindow [URL]\n");
    return 2;
}
