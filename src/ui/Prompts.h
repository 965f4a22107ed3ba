#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

// Every message box the client raises goes through here, so they share one look ("Title", "Confirmation"
// or "Error" as the title, the OK button reading "Yes") and so tests can answer them without a screen.
//
// Tests: setNextAnswer() queues the answer for the next box, which is then not shown. startCapture()
// records every box from then on (and shows none); a box without a queued answer takes its default button.
class Prompts
{
public:
    enum Option {
        NoOption = 0x0,
        StayOnTop = 0x1, // dialog + stays-on-top + close-button window flags
        // tool window + title + customised hints + stays-on-top + bypassing the window manager: the job
        // intake's questions, raised while the main window may be hidden
        JobPrompt = 0x2,
        TitleAndClose = 0x4, // dialog with title, close button and a customised frame
        // Return answers Yes rather than No: for a question whose No throws something away (a print job)
        YesByDefault = 0x8,
    };
    Q_DECLARE_FLAGS(Options, Option)

    struct Record
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        bool modal = true;
    };

    // Title "Title", one button "Yes".
    static void information(QWidget* parent, const QString& text, Options options = NoOption);
    static void warning(QWidget* parent, const QString& text, Options options = NoOption);
    static void critical(QWidget* parent, const QString& text, Options options = NoOption);
    // Title "Error", warning icon, one button "Yes".
    static void error(QWidget* parent, const QString& text, Options options = NoOption);
    // Title "Confirmation"; returns the button chosen, No when the box is closed without a choice.
    static QMessageBox::StandardButton
    question(QWidget* parent, const QString& text,
             QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
             QMessageBox::StandardButton defaultButton = QMessageBox::No, Options options = NoOption);
    // A box with its own title and one button; the button text defaults to "Yes". Kept above other windows.
    static void message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                        const QString& buttonText = QString());
    // Yes/No question with its own title and button texts, and informativeText (what it is about) under the
    // question; true for yes. Return answers No unless YesByDefault.
    static bool question(QWidget* parent, const QString& title, const QString& text, const QString& yesText,
                         const QString& noText, Options options = StayOnTop,
                         const QString& informativeText = QString());
    // Non-modal information box kept above other windows, deleted when closed.
    static void notify(QWidget* parent, const QString& text);

    // The general form the others use.
    static QMessageBox::StandardButton show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton, Options options);

    static QString titleText();
    static QString confirmationText();
    static QString errorText();

    // Tests.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void startCapture();
    static void stopCapture();
    static QList<Record> takeCaptured();

    // The window flags of each option (the job intake's own boxes use them too).
    static Qt::WindowFlags windowFlags(Options options);

private:
    static QMessageBox* build(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                              QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
                              Options options);
    static QMessageBox::StandardButton run(QMessageBox* box, QMessageBox::StandardButtons buttons);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Prompts::Options)
