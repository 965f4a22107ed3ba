#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (a desktop logout, Ctrl+C) into a normal end of the event loop, so the
// shutdown runs and the log gets its stop banner. The handler only writes to a pipe; the rest runs
// in the event loop.
class ShutdownSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; call once, after the application object exists.
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

    // A signal arrived. Checked before entering an event loop: a request that came while a nested
    // loop was running must not be lost.
    static bool quitRequested();

signals:
    void signalReceived(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
