#pragma once

#include <QGenericPlugin>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <cstdio>

// Loaded by QGuiApplication when QT_QPA_GENERIC_PLUGINS names "benchprobe". Writes one line per event
// of interest to the file in BENCH_PROBE_OUT, each starting with CLOCK_MONOTONIC in nanoseconds so the
// harness can compare it with its own clock:
//   <ns> start                       the application object is being built
//   <ns> show <class> <title>        a top-level widget is shown
//   <ns> paint <class> <title>       first paint of a top-level widget
//   <ns> box <class> <title>|<text>  a message box or dialog appeared
//   <ns> click <button> <title>      the probe pressed a button (BENCH_PROBE_CLICK, button texts separated by "|")
// Nothing is polled: the probe only reacts to events, so it costs nothing while the program is idle.
class BenchProbe : public QObject
{
    Q_OBJECT
public:
    explicit BenchProbe(QObject* parent = nullptr);
    ~BenchProbe() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void write(const QString& what);
    void pressButton(QPointer<QWidget> dialog);

    std::FILE* m_out = nullptr;
    QStringList m_clickTexts;
    QSet<QObject*> m_painted;
};

class BenchProbePlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "benchprobe.json")
public:
    QObject* create(const QString& key, const QString& options) override;
};
