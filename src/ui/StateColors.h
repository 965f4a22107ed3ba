#pragma once

#include <QColor>
#include <QString>

class QTableView;
class QWidget;

// The colours of texts that carry a state (online, offline, an error, the pin code, a hint), chosen for the
// background they stand on: a fixed red or blue that reads on a light window vanishes on a dark one.
namespace StateColors {
enum class Tone {
    Alert, // offline, a failure
    Fine, // online
    Accent, // a value to copy, as the pin code
    Muted // a hint in an empty table
};

// The tone's shade that stands out at least 4.5:1 from the background, light or dark.
QColor forBackground(Tone tone, const QColor& background);
// Gives the widget the tone as its text colour (with the rest of its own style sheet), against the background of
// its parent, and again whenever the palette changes.
void apply(QWidget* widget, Tone tone, const QString& rest = QString());
// A frame in the palette's text colour while the table has the focus: an empty table shows no current row, and
// a keyboard user must still see where the focus is.
void frameFocus(QTableView* table);
} // namespace StateColors
