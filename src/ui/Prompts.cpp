#include "ui/Prompts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QPointer>

namespace {
QList<QMessageBox::StandardButton> s_nextAnswers;
QList<Prompts::Record> s_captured;
bool s_capturing = false;

QMessageBox::StandardButton fallbackAnswer(QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton)
{
    if (defaultButton != QMessageBox::NoButton) {
        return defaultButton;
    }
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (buttons & bit) {
            return QMessageBox::StandardButton(bit);
        }
    }
    return QMessageBox::Ok;
}

// Answers a box without showing it when a test asked for that; false when the box must be shown.
bool answerWithoutScreen(QMessageBox::Icon icon, const QString& title, const QString& text,
                         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton, bool modal,
                         QMessageBox::StandardButton* answer, const QString& informativeText = QString())
{
    if (!s_capturing && s_nextAnswers.isEmpty()) {
        return false;
    }
    *answer = s_nextAnswers.isEmpty() ? fallbackAnswer(buttons, defaultButton) : s_nextAnswers.takeFirst();
    if (s_capturing) {
        Prompts::Record record;
        record.icon = icon;
        record.title = title;
        record.text = text;
        record.informativeText = informativeText;
        record.answer = *answer;
        record.modal = modal;
        s_captured.append(record);
    }
    return true;
}
} // namespace

QString Prompts::titleText()
{
    return QCoreApplication::translate("Prompts", "Title");
}

QString Prompts::confirmationText()
{
    return QCoreApplication::translate("Prompts", "Confirmation");
}

QString Prompts::errorText()
{
    return QCoreApplication::translate("Prompts", "Error");
}

void Prompts::information(QWidget* parent, const QString& text, Options options)
{
    show(parent, QMessageBox::Information, titleText(), text, QMessageBox::Ok, QMessageBox::Ok, options);
}

void Prompts::warning(QWidget* parent, const QString& text, Options options)
{
    show(parent, QMessageBox::Warning, titleText(), text, QMessageBox::Ok, QMessageBox::Ok, options);
}

void Prompts::critical(QWidget* parent, const QString& text, Options options)
{
    show(parent, QMessageBox::Critical, titleText(), text, QMessageBox::Ok, QMessageBox::Ok, options);
}

void Prompts::error(QWidget* parent, const QString& text, Options options)
{
    show(parent, QMessageBox::Warning, errorText(), text, QMessageBox::Ok, QMessageBox::Ok, options);
}

QMessageBox::StandardButton Prompts::question(QWidget* parent, const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton, Options options)
{
    return show(parent, QMessageBox::Question, confirmationText(), text, buttons, defaultButton, options);
}

Qt::WindowFlags Prompts::windowFlags(Options options)
{
    if (options & JobPrompt) {
        return Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint
            | Qt::BypassWindowManagerHint;
    }
    if (options & TitleAndClose) {
        // Qt::Dialog keeps a box that has a parent a window of its own rather than a child widget.
        return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    }
    if (options & StayOnTop) {
        return Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint;
    }
    return Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint; // QMessageBox's own
}

QMessageBox* Prompts::build(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
                            Options options)
{
    // The flags go in with the box: setting them later re-creates the window, whose focus then falls to the
    // first button, and a focused button takes Return whatever the default is.
    auto* box = new QMessageBox(icon, title, text, buttons, parent, windowFlags(options));
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->setText(QCoreApplication::translate("Prompts", "Yes"));
    }
    if (defaultButton != QMessageBox::NoButton && box->button(defaultButton)) {
        box->setDefaultButton(defaultButton);
    }
    return box;
}

QMessageBox::StandardButton Prompts::show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                          const QString& text, QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton, Options options)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (answerWithoutScreen(icon, title, text, buttons, defaultButton, true, &answer)) {
        return answer;
    }
    return run(build(parent, icon, title, text, buttons, defaultButton, options), buttons);
}

QMessageBox::StandardButton Prompts::run(QMessageBox* box, QMessageBox::StandardButtons buttons)
{
    // The parent may go away while the nested loop runs; the guard keeps the box from being deleted twice.
    QPointer<QMessageBox> guard(box);
    const auto result = QMessageBox::StandardButton(box->exec());
    if (guard) {
        delete guard.data();
    }
    if (buttons & result) {
        return result;
    }
    // Closed without a choice: treat it as the cautious answer.
    return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::NoButton;
}

void Prompts::message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                      const QString& buttonText)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (answerWithoutScreen(icon, title, text, QMessageBox::Ok, QMessageBox::Ok, true, &answer)) {
        return;
    }
    QMessageBox* box = build(parent, icon, title, text, QMessageBox::Ok, QMessageBox::Ok, StayOnTop);
    if (!buttonText.isEmpty()) {
        box->button(QMessageBox::Ok)->setText(buttonText);
    }
    run(box, QMessageBox::Ok);
}

bool Prompts::question(QWidget* parent, const QString& title, const QString& text, const QString& yesText,
                       const QString& noText, Options options, const QString& informativeText)
{
    const QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    const QMessageBox::StandardButton defaultButton = (options & YesByDefault) ? QMessageBox::Yes : QMessageBox::No;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (answerWithoutScreen(QMessageBox::Question, title, text, buttons, defaultButton, true, &answer,
                            informativeText)) {
        return answer == QMessageBox::Yes;
    }
    QMessageBox* box = build(parent, QMessageBox::Question, title, text, buttons, defaultButton, options);
    box->setInformativeText(informativeText);
    box->button(QMessageBox::Yes)->setText(yesText);
    box->button(QMessageBox::No)->setText(noText);
    return run(box, buttons) == QMessageBox::Yes;
}

void Prompts::notify(QWidget* parent, const QString& text)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (answerWithoutScreen(QMessageBox::Information, titleText(), text, QMessageBox::Ok, QMessageBox::Ok, false,
                            &answer)) {
        return;
    }
    QMessageBox* box
        = build(parent, QMessageBox::Information, titleText(), text, QMessageBox::Ok, QMessageBox::Ok, StayOnTop);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    // The keyboard goes to it, so Return or Escape closes it without the mouse.
    box->activateWindow();
}

void Prompts::setNextAnswer(QMessageBox::StandardButton answer)
{
    s_nextAnswers.append(answer);
}

void Prompts::startCapture()
{
    s_captured.clear();
    s_capturing = true;
}

void Prompts::stopCapture()
{
    s_capturing = false;
    s_nextAnswers.clear();
    s_captured.clear();
}

QList<Prompts::Record> Prompts::takeCaptured()
{
    QList<Prompts::Record> out;
    out.swap(s_captured);
    return out;
}
