#include "ui/StateColors.h"

#include <QEvent>
#include <QObject>
#include <QTableView>
#include <QWidget>

#include <cmath>

namespace {
// A dark shade for light backgrounds and a light one for dark backgrounds, each above 4.5:1 on the usual
// window and base colours of its side (#FFFFFF and #EFEFEF; #353535, #2A2A2A and darker).
struct Shades
{
    QRgb onLight;
    QRgb onDark;
};

Shades shades(StateColors::Tone tone)
{
    switch (tone) {
    case StateColors::Tone::Alert:
        return { 0xB91C1C, 0xFCA5A5 };
    case StateColors::Tone::Fine:
        return { 0x166534, 0x86EFAC };
    case StateColors::Tone::Accent:
        return { 0x1D4ED8, 0x93C5FD };
    case StateColors::Tone::Muted:
        break;
    }
    return { 0x4B5563, 0xB8BEC8 };
}

double luminance(const QColor& c)
{
    const auto channel = [](qreal s) { return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// Keeps a widget's tone when the palette changes (a desktop switching to its dark theme).
class ToneKeeper : public QObject
{
public:
    ToneKeeper(QWidget* widget, StateColors::Tone tone, const QString& rest)
        : QObject(widget)
        , m_widget(widget)
        , m_tone(tone)
        , m_rest(rest)
    {
        widget->installEventFilter(this);
        update();
    }

    void set(StateColors::Tone tone, const QString& rest)
    {
        m_tone = tone;
        m_rest = rest;
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_widget && event->type() == QEvent::PaletteChange) {
            update();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void update()
    {
        const QWidget* under = m_widget->parentWidget() ? m_widget->parentWidget() : m_widget;
        const QColor colour = StateColors::forBackground(m_tone, under->palette().color(under->backgroundRole()));
        const QString sheet = QStringLiteral("color: ") + colour.name() + QStringLiteral(";") + m_rest;
        // Setting a style sheet changes the palette again: only a new colour is set.
        if (m_widget->styleSheet() != sheet) {
            m_widget->setStyleSheet(sheet);
        }
    }

    QWidget* const m_widget;
    StateColors::Tone m_tone;
    QString m_rest;
};
} // namespace

QColor StateColors::forBackground(Tone tone, const QColor& background)
{
    // Midway in luminance between white and black as seen by contrast: above it dark text reads better.
    const Shades s = shades(tone);
    return QColor(luminance(background) > 0.179 ? s.onLight : s.onDark);
}

void StateColors::apply(QWidget* widget, Tone tone, const QString& rest)
{
    for (QObject* child : widget->children()) {
        if (auto* keeper = dynamic_cast<ToneKeeper*>(child)) {
            keeper->set(tone, rest);
            return;
        }
    }
    new ToneKeeper(widget, tone, rest);
}

void StateColors::frameFocus(QTableView* table)
{
    table->setStyleSheet(QStringLiteral("QTableView:focus { border: 1px solid palette(text); }"));
}
