#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class KsKit;
class QNetworkReply;
class QProgressBar;
class QWidget;

// The window's file downloads (a scan job, the update package), one of each kind at a time, into a file the
// user picks, with the status strip's progress bar. A download that fails leaves no file behind.
class FileTransfer : public QObject
{
    Q_OBJECT
public:
    enum class Kind { ScanJob, Update };

    // window: parent of the questions and the save dialog.
    FileTransfer(KsKit& api, QProgressBar* progressBar, QWidget* window);
    ~FileTransfer() override;

    // Asks where to save proposedName, then downloads url into it; false when nothing started.
    bool start(Kind kind, const QString& proposedName, const QString& url, const QString& serverUrl);

    // Tests: the path the save dialog would return (empty = cancelled); unset uses the real dialog.
    using SaveFileChooser = std::function<QString(const QString& proposedName)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_saveFileChooser = std::move(chooser); }
    // The folder the save dialog opens in: the download folder, or home when there is none.
    static QString startFolder();

signals:
    // A transfer ended (true when the file holds the whole answer).
    void finished(bool ok);
    // The user was told how a transfer ended.
    void reported();

private:
    struct Slot
    {
        QPointer<QNetworkReply> reply;
        std::unique_ptr<QFile> file;
        QString path;
        qint64 written = 0;
        QString writeError;
    };

    Slot* slotOf(const QObject* reply);
    // Stops a transfer and removes its partial file.
    void drop(Slot& slot);
    bool running() const;
    void write(Slot& slot);
    void readyRead();
    void progress(qint64 bytesRead, qint64 totalBytes);
    void replyFinished();
    QString chooseSaveFile(const QString& proposedName);
    bool askYesNo(const QString& text);

    KsKit& m_api;
    QProgressBar* const m_progressBar;
    QWidget* const m_window;
    Slot m_slots[2]; // by Kind
    SaveFileChooser m_saveFileChooser;
};
