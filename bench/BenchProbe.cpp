#include "BenchProbe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <ctime>

namespace {

qint64 monotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
}

QString describe(const QWidget* w)
{
    return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + oneLine(w->windowTitle());
}

} // namespace

BenchProbe::BenchProbe(QObject* parent)
    : QObject(parent)
{
    const QByteArray path = qgetenv("BENCH_PROBE_OUT");
    if (!path.isEmpty()) {
        m_out = std::fopen(path.constData(), "a");
    }
    const QString click = QString::fromUtf8(qgetenv("BENCH_PROBE_CLICK"));
    if (!click.isEmpty()) {
        m_clickTexts = click.split(QLatin1Char('|'));
    }
    write(QStringLiteral("start"));
    QCoreApplication::instance()->installEventFilter(this);
}

BenchProbe::~BenchProbe()
{
    if (m_out) {
        std::fclose(m_out);
    }
}

void BenchProbe::write(const QString& what)
{
    if (!m_out) {
        return;
    }
    std::fprintf(m_out, "%lld %s\n", static_cast<long long>(monotonicNs()), what.toUtf8().constData());
    std::fflush(m_out);
}

bool BenchProbe::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Paint) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow()) {
            if (type == QEvent::Paint) {
                if (!m_painted.contains(w)) {
                    m_painted.insert(w);
                    connect(w, &QObject::destroyed, this, [this, w] { m_painted.remove(w); });
                    write(QStringLiteral("paint ") + describe(w));
                    // For profiling the start-up alone (callgrind): end at the first paint.
                    if (qEnvironmentVariableIsSet("BENCH_PROBE_EXIT_AT_PAINT")) {
                        std::_Exit(0);
                    }
                }
            } else {
                write(QStringLiteral("show ") + describe(w));
                if (qobject_cast<QDialog*>(w)) {
                    const auto* box = qobject_cast<QMessageBox*>(w);
                    write(QStringLiteral("box ") + describe(w) + QLatin1Char('|')
                          + (box ? oneLine(box->text()) : QString()));
                    if (!m_clickTexts.isEmpty()) {
                        // Pressed once the dialog's own event loop runs.
                        QPointer<QWidget> dialog(w);
                        QTimer::singleShot(0, this, [this, dialog] { pressButton(dialog); });
                    }
                }
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void BenchProbe::pressButton(QPointer<QWidget> dialog)
{
    if (!dialog || !dialog->isVisible()) {
        return;
    }
    const auto buttons = dialog->findChildren<QAbstractButton*>();
    for (const QString& text : qAsConst(m_clickTexts)) {
        for (QAbstractButton* button : buttons) {
            if (button->isVisible() && button->text() == text) {
                write(QStringLiteral("click ") + text + QLatin1Char(' ') + oneLine(dialog->windowTitle()));
                button->click();
                return;
            }
        }
    }
}

QObject* BenchProbePlugin::create(const QString& key, const QString& /*options*/)
{
    if (key.compare(QLatin1String("benchprobe"), Qt::CaseInsensitive) != 0) {
        return nullptr;
    }
    return new BenchProbe;
}
