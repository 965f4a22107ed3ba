// Every window and box of the client as a screen-reader or keyboard-only user meets it: each control has a name in
// the accessibility tree, Tab goes round the whole window in reading order and Shift+Tab back, Escape closes a box,
// and the changing lines are announced.
#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

namespace {
QStringList s_nameChanges; // object names of the objects whose accessible name changed

void recordEvent(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::NameChanged && event->object()) {
        s_nameChanges.append(event->object()->objectName());
    }
}

QString describe(QObject* object)
{
    return object->objectName().isEmpty() ? QString::fromLatin1(object->metaObject()->className())
                                          : object->objectName();
}

// Interactive objects of the accessibility tree without a name. An item view's cells are named by their content.
void findUnnamed(QAccessibleInterface* node, QStringList* unnamed)
{
    static const QList<QAccessible::Role> acted { QAccessible::Button,       QAccessible::CheckBox,
                                                  QAccessible::RadioButton,  QAccessible::ComboBox,
                                                  QAccessible::EditableText, QAccessible::Table,
                                                  QAccessible::List,         QAccessible::Tree,
                                                  QAccessible::PageTab };
    QWidget* widget = node ? qobject_cast<QWidget*>(node->object()) : nullptr;
    if (!node || node->state().invisible || (widget && !widget->isVisible())) {
        return;
    }
    const bool proxied = widget && widget->focusProxy(); // the proxy takes the focus and is named
    if ((node->state().focusable || acted.contains(node->role())) && !proxied
        && node->text(QAccessible::Name).trimmed().isEmpty()) {
        unnamed->append(describe(node->object()));
    }
    if (qobject_cast<QAbstractItemView*>(node->object())) {
        return;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        findUnnamed(node->child(i), unnamed);
    }
}

// Next in reading order: below, or to the right on the same line.
bool readsAfter(QWidget* before, QWidget* after)
{
    const QRect a(before->mapTo(before->window(), QPoint()), before->size());
    const QRect b(after->mapTo(after->window(), QPoint()), after->size());
    return b.top() >= a.bottom() - 2 || (b.top() < a.bottom() && b.bottom() > a.top() && b.left() >= a.left());
}

// Tab from the focus round the window and Shift+Tab back: what is wrong with it, empty when nothing.
QStringList walkTabs(QWidget* window)
{
    QWidget* start = QApplication::focusWidget();
    if (!start || start->window() != window) {
        return { QStringLiteral("nothing has the focus") };
    }
    QList<QWidget*> ahead { start };
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    QStringList problems;
    for (int i = 0; i < 3 * all.size(); ++i) {
        QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
        if (QApplication::focusWidget() == start) {
            break;
        }
        const QString inside = QStringLiteral("Tab moves inside ") + describe(ahead.last());
        if (QApplication::focusWidget() == ahead.last() && !problems.contains(inside)) {
            problems.append(inside);
        }
        ahead.append(QApplication::focusWidget());
    }
    if (QApplication::focusWidget() != start) {
        problems.append(QStringLiteral("Tab never comes back to ") + describe(start));
        return problems;
    }
    for (int i = ahead.size() - 1; i > 0; --i) {
        QTest::keyClick(window->windowHandle(), Qt::Key_Backtab, Qt::ShiftModifier);
        if (QApplication::focusWidget() != ahead.at(i)) {
            problems.append(
                QStringLiteral("Shift+Tab from %1 skips %2").arg(describe(ahead.at(i - 1))).arg(describe(ahead.at(i))));
            break;
        }
    }
    // The start is wherever the window put the focus: reading order holds from the top control of the cycle on.
    int top = 0;
    for (int i = 1; i < ahead.size(); ++i) {
        if (!readsAfter(ahead.at(top), ahead.at(i)) && readsAfter(ahead.at(i), ahead.at(top))) {
            top = i;
        }
    }
    for (int i = 1; i < ahead.size(); ++i) {
        QWidget* before = ahead.at((top + i - 1) % ahead.size());
        QWidget* after = ahead.at((top + i) % ahead.size());
        if (!readsAfter(before, after)) {
            problems.append(QStringLiteral("Tab goes up from %1 to %2").arg(describe(before), describe(after)));
        }
    }
    for (QWidget* widget : all) {
        // A label whose text the mouse selects is no control; every button is, but the tab bar's scroll buttons
        // (its arrows do the same) and a field's leading icon.
        const bool takesFocus = widget->focusPolicy() != Qt::NoFocus && !widget->focusProxy()
            && !(qobject_cast<QLabel*>(widget) && !(widget->focusPolicy() & Qt::TabFocus));
        QWidget* parent = widget->parentWidget();
        const bool button = qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QTabBar*>(parent)
            && !(qobject_cast<QLineEdit*>(parent) && widget->x() < parent->width() / 2);
        if (!(takesFocus || button) || !widget->isVisible() || !widget->isEnabled() || ahead.contains(widget)
            || qobject_cast<QAbstractItemView*>(widget->parentWidget())) {
            continue;
        }
        // Arrows move inside a group of radio buttons; Tab enters it once.
        bool grouped = false;
        for (QWidget* reached : ahead) {
            grouped = grouped
                || (qobject_cast<QRadioButton*>(widget) && qobject_cast<QRadioButton*>(reached)
                    && reached->parentWidget() == widget->parentWidget());
        }
        if (!grouped) {
            problems.append(QStringLiteral("never reached by Tab: ") + describe(widget));
        }
    }
    if (!problems.isEmpty()) {
        QStringList cycle;
        for (QWidget* widget : ahead) {
            cycle.append(describe(widget));
        }
        problems.append(QStringLiteral("Tab goes ") + cycle.join(QStringLiteral(" > ")));
    }
    return problems;
}

// Everything a window shows to a screen reader and the keyboard, then Escape.
QStringList inspect(QWidget* window, bool escapeCloses)
{
    QStringList problems;
    QStringList unnamed;
    findUnnamed(QAccessible::queryAccessibleInterface(window), &unnamed);
    if (!unnamed.isEmpty()) {
        problems.append(QStringLiteral("without a name: ") + unnamed.join(QStringLiteral(", ")));
    }
    problems += walkTabs(window);
    QPointer<QWidget> shown(window); // a box closed may go at once
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    if ((shown && shown->isVisible()) == escapeCloses) {
        problems.append(escapeCloses ? QStringLiteral("Escape leaves it open") : QStringLiteral("Escape closes it"));
    }
    return problems;
}

MainWindow* s_window = nullptr; // the window the boxes are raised over
LoginDialog* s_login = nullptr;
std::unique_ptr<JobProgress> s_progress; // an upload's progress, shown while it lives
} // namespace

using Raise = std::function<void()>;
Q_DECLARE_METATYPE(Raise)

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyWindowAndBox_data();
    void everyWindowAndBox();

private:
    std::unique_ptr<FakeKestranaServer> m_server;
    TestHome m_home;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<LoginDialog> m_login;
};

void TestAccessibility::initTestCase()
{
    // Qt tells the accessibility tree's changes only while something listens, as a screen reader does.
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    QAccessible::installUpdateHandler(recordEvent);
    LoginDialog::setExitHandlerForTests([](int) {});
}

void TestAccessibility::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    m_server->updateState([](FakeKestranaState& s) {
        for (const char* name : { "report.pdf", "notes.pdf" }) {
            FakeKestranaState::Job job;
            job.account = QStringLiteral("alice");
            job.jobName = QLatin1String(name);
            s.addJob(job);
        }
    });
    QVERIFY(m_home.isValid());
    WindowFixture::beginCase(m_home);
    s_nameChanges.clear();
}

void TestAccessibility::cleanup()
{
    s_progress.reset();
    m_login.reset();
    m_window.reset();
    s_window = nullptr;
    s_login = nullptr;
    WindowFixture::endCase();
    m_server.reset();
}

void TestAccessibility::everyWindowAndBox_data()
{
    QTest::addColumn<QString>("opens"); // "main", "login" or "qr": the window, or the window the box is raised over
    QTest::addColumn<int>("tab");
    QTest::addColumn<Raise>("raise"); // raises the box, if any
    const Raise none;
    QTest::newRow("login dialog") << "login" << 0 << none;
    QTest::newRow("QR page") << "qr" << 0 << none;
    const char* const tabs[] = { "Jobs", "Devices", "ScanJobs", "UserInfo", "SystemInfo", "ServerInfo", "Messages" };
    for (int tab = 0; tab < 7; ++tab) {
        QTest::newRow(qPrintable(QStringLiteral("main window: ") + tabs[tab])) << "main" << tab << none;
    }
    QTest::newRow("no-card dialog") << "main" << 0 << Raise([]() {
        NoCardChoice choice;
        choice.supportSecret = true;
        choice.printers.append(KsPrinter());
        choice.projects.append(KsProject());
        s_window->askNoCardChoice(&choice);
    });
    QTest::newRow("start-up question") << "main" << 0 << Raise([]() { s_window->askExistingJobs("V1", 2); });
    QTest::newRow("job question") << "main" << 0 << Raise([]() { s_window->askConfirmation("Colour?", "report.pdf"); });
    QTest::newRow("job warning") << "main" << 0 << Raise([]() { s_window->showWarning("Too many pages"); });
    QTest::newRow("Unable to link server (not modal)")
        << "main" << 0 << Raise([]() { s_window->reportServerUnreachable(); });
    QTest::newRow("upload progress") << "main" << 0 << Raise([]() {
        s_progress = s_window->createProgress("report.pdf", "Cancel", 100, "Uploading");
    });
    QTest::newRow("cancel question") << "main" << 0 << Raise([]() {
        s_window->form()->tvJobs->selectRow(0);
        s_window->form()->btnDelete->click();
    });
    QTest::newRow("save dialog") << "main" << 2 << Raise([]() {
        s_window->form()->tvScanJobs->selectRow(0);
        s_window->form()->btnDownloadSj->click();
    });
    QTest::newRow("server dialog") << "login" << 0 << Raise([]() {
        QTest::keyClick(s_login->findChild<QWidget*>("btnSiteMore"), Qt::Key_Space);
    });
    QTest::newRow("login warning") << "login" << 0 << Raise([]() {
        s_login->findChild<QLineEdit*>("editPassword")->setText("secret"); // Login is enabled with a password
        s_login->findChild<QLineEdit*>("editKsServer")->clear();
        QTest::keyClick(s_login->findChild<QWidget*>("btnLogin"), Qt::Key_Space);
    });
    QTest::newRow("Please log in (not modal)")
        << "login" << 0 << Raise([]() { s_login->onNewJobFile(QStringLiteral("job.pdf")); });
}

void TestAccessibility::everyWindowAndBox()
{
    QFETCH(QString, opens);
    QFETCH(int, tab);
    QFETCH(Raise, raise);
    Prompts::stopCapture(); // real boxes
    QWidget* window = nullptr;
    if (opens == QLatin1String("login") || opens == QLatin1String("qr")) {
        const bool qr = opens == QLatin1String("qr");
        QVERIFY(WindowFixture::loadSettings(
            m_server->httpUrl(),
            { { "Login/SystemUser", false },
              { "setting/ShowQR", true },
              { "setting/Info", QString(m_server->httpUrl() + "/View/ClientLogin?clientId=") },
              { "Login/DefaultLoginType", qr ? 2 : 1 } }));
        ClientParts::shared().session.setIsLogin(false);
        m_login = std::make_unique<LoginDialog>(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session,
                                                ClientParts::shared().api);
        window = s_login = m_login.get();
        if (qr) {
            // The line that says how long the code holds is announced when the code comes.
            QTRY_VERIFY(s_nameChanges.contains(QStringLiteral("labQrValidity")));
        }
    } else {
        m_window = WindowFixture::openWindow(m_server->httpUrl());
        QVERIFY(m_window);
        window = s_window = m_window.get();
        QTRY_COMPARE(s_window->form()->tabJobs->model()->rowCount(), 2);
        QTRY_COMPARE(s_window->form()->tabScanJobs->model()->rowCount(), 2);
        s_window->form()->tabWidget->setCurrentIndex(tab);
    }
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));

    QStringList problems;
    if (raise) {
        // The box is inspected once it holds the focus; a modal one returns from raise() once it is closed.
        bool seen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            QPointer<QWidget> box = QApplication::activeWindow();
            if (!seen && box && box != window && QApplication::focusWidget()) {
                seen = true;
                problems = inspect(box, true); // Escape closes a box as its close button does
                if (box && box->isVisible()) {
                    box->close();
                }
            }
        });
        poll.start(10);
        raise();
        QTRY_VERIFY2(seen, "no box took the focus");
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
        return;
    }
    problems = inspect(window, false); // the login dialog's close ends the client
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    if (opens != QLatin1String("main")) {
        return;
    }
    // Tables move by arrows, Ctrl+Tab and Ctrl+PgDn go to the next tab from anywhere, the status strip is announced.
    Ui::MainWindow& form = *s_window->form();
    if (auto* table = form.tabWidget->currentWidget()->findChild<QAbstractItemView*>()) {
        table->setFocus(Qt::TabFocusReason);
        const int row = table->currentIndex().row();
        QTest::keyClick(window->windowHandle(), Qt::Key_Down);
        QCOMPARE(table->currentIndex().row(), table->model()->rowCount() > 1 ? row + 1 : row);
    }
    QTest::keyClick(window->windowHandle(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(form.tabWidget->currentIndex(), (tab + 1) % 7);
    QTest::keyClick(window->windowHandle(), Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(form.tabWidget->currentIndex(), (tab + 2) % 7);
    QTest::keyClick(window->windowHandle(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(form.tabWidget->currentIndex(), (tab + 1) % 7);
    s_nameChanges.clear();
    s_window->reportNoAnswer(QString());
    QVERIFY(s_nameChanges.contains(QStringLiteral("labNetwork")));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
