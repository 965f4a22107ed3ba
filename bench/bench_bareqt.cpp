// The reference for start-up time and memory: a program linked with the client's Qt modules that shows
// an empty dialog ("dialog") or a main window with seven empty tabs ("mainwindow") and then idles.
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QTabWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "dialog";

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
    std::fprintf(stderr, "usage: bench_bareqt dialog|mainwindow\n");
    return 2;
}
