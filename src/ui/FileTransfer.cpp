#include "FileTransfer.h"

#include "Prompts.h"
#include "ScreenFit.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>

static Logger* logger = Logging::rootLogger();

FileTransfer::FileTransfer(KsKit& api, QProgressBar* progressBar, QWidget* window)
    : QObject(window)
    , m_api(api)
    , m_progressBar(progressBar)
    , m_window(window)
{
    // The progress bar belongs to a running transfer only.
    m_progressBar->hide();
}

FileTransfer::~FileTransfer()
{
    // A transfer still running when the window goes: no report, and no half-written file left behind.
    for (Slot& slot : m_slots) {
        if (slot.reply) {
            disconnect(slot.reply, nullptr, this, nullptr);
            slot.reply->abort();
        }
        if (slot.file) {
            slot.file->close();
            slot.file->remove();
        }
    }
}

QString FileTransfer::chooseSaveFile(const QString& proposedName)
{
    if (m_saveFileChooser) {
        return m_saveFileChooser(proposedName);
    }
    QFileDialog dialog(m_window);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDirectory(startFolder());
    dialog.selectFile(proposedName);
    // Qt's own dialog leaves its file type list out of the Tab order; it goes where it is read, between the buttons.
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (buttons && types && buttons->button(QDialogButtonBox::Save) && buttons->button(QDialogButtonBox::Cancel)) {
        QWidget::setTabOrder(buttons->button(QDialogButtonBox::Save), types);
        QWidget::setTabOrder(types, buttons->button(QDialogButtonBox::Cancel));
    }
    ScreenFit::keepInside(&dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}

QString FileTransfer::startFolder()
{
    // The user's download folder, else the home folder: never wherever the client happened to be started from.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QDir(downloads).exists()) {
        return downloads;
    }
    return QDir::homePath();
}

bool FileTransfer::askYesNo(const QString& text)
{
    return Prompts::question(m_window, tr("Confirmation"), text, tr("Yes"), tr("No"), Prompts::TitleAndClose);
}

FileTransfer::Slot* FileTransfer::slotOf(const QObject* reply)
{
    for (Slot& slot : m_slots) {
        if (reply && slot.reply == reply) {
            return &slot;
        }
    }
    return nullptr;
}

void FileTransfer::drop(Slot& slot)
{
    if (slot.reply) {
        disconnect(slot.reply, nullptr, this, nullptr);
        slot.reply->abort();
        slot.reply->deleteLater();
    }
    slot.reply = nullptr;
    if (slot.file) {
        slot.file->close();
        slot.file->remove();
        slot.file.reset();
    }
    if (!running()) {
        m_progressBar->hide();
    }
}

bool FileTransfer::running() const
{
    for (const Slot& slot : m_slots) {
        if (slot.reply) {
            return true;
        }
    }
    return false;
}

bool FileTransfer::start(Kind kind, const QString& proposedName, const QString& url, const QString& serverUrl)
{
    const QString path = chooseSaveFile(proposedName);
    if (path.isEmpty()) {
        return false;
    }
    // The one running is only given up when the user says so.
    Slot& slot = m_slots[kind == Kind::Update ? 1 : 0];
    if (slot.reply) {
        const QString running = slot.path;
        if (!askYesNo(tr("The download to %1 has not finished.\nDo you want to stop it, remove its partial file and "
                         "start the new one?")
                          .arg(running))) {
            return false;
        }
        logger->info(QStringLiteral("download replaced, partial file removed: ") + running);
        drop(slot);
        emit finished(false);
    }
    if (QFile::exists(path)) {
        QFile::remove(path);
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        logger->error(QStringLiteral("cannot write download file ") + path + QStringLiteral(": ")
                      + file->errorString());
        Prompts::message(m_window, QMessageBox::Warning, tr("Title"),
                         tr("Cannot write the file %1:\n%2").arg(path, file->errorString()));
        return false;
    }
    slot.path = path;
    slot.file = std::move(file);
    slot.written = 0;
    slot.writeError.clear();
    QNetworkReply* reply = m_api.startDownload(QUrl(url, QUrl::TolerantMode).toString(), serverUrl);
    slot.reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &FileTransfer::readyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &FileTransfer::progress);
    connect(reply, &QNetworkReply::finished, this, &FileTransfer::replyFinished);
    m_progressBar->setValue(0);
    m_progressBar->show();
    return true;
}

void FileTransfer::write(Slot& slot)
{
    if (!slot.file || !slot.reply || !slot.writeError.isEmpty()) {
        return;
    }
    const QByteArray bytes = slot.reply->readAll();
    if (bytes.isEmpty()) {
        return;
    }
    const qint64 written = slot.file->write(bytes);
    if (written != bytes.size()) {
        // A full disk, for example: the rest of the answer has nowhere to go.
        slot.writeError = slot.file->errorString();
        slot.reply->abort();
        return;
    }
    slot.written += written;
}

void FileTransfer::readyRead()
{
    if (Slot* slot = slotOf(sender())) {
        write(*slot);
    }
}

void FileTransfer::progress(qint64 bytesRead, qint64 totalBytes)
{
    if (totalBytes > 0) {
        m_progressBar->setMaximum(int(totalBytes));
    }
    m_progressBar->setValue(int(bytesRead));
}

void FileTransfer::replyFinished()
{
    Slot* slot = slotOf(sender());
    if (!slot) {
        return;
    }
    const bool isUpdate = slot == &m_slots[1];
    QNetworkReply* reply = slot->reply;
    write(*slot);
    // A transfer that failed (network or HTTP error, a file that could not be written, or a body cut short of
    // its announced length) must not leave a truncated file behind.
    bool failed = reply->error() != QNetworkReply::NoError || !slot->writeError.isEmpty();
    QString errorText = slot->writeError.isEmpty() ? reply->errorString() : slot->writeError;
    bool lengthKnown = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&lengthKnown);
    // A compressed body is unpacked on the way in, so its announced length is not the length written.
    const bool encoded = !reply->rawHeader("Content-Encoding").isEmpty();
    if (!failed && slot->file && lengthKnown && !encoded && announced != slot->written) {
        failed = true;
        errorText = tr("incomplete answer: %1 of %2 bytes").arg(slot->written).arg(announced);
    }
    const QString path = slot->path;
    if (slot->file) {
        if (!slot->file->flush() && !failed) {
            failed = true;
            errorText = slot->file->errorString();
        }
        slot->file->close();
        if (failed) {
            slot->file->remove();
        }
        slot->file.reset();
    }
    reply->deleteLater();
    slot->reply = nullptr;
    if (!running()) {
        m_progressBar->hide();
    }

    if (failed) {
        logger->error(QStringLiteral("download failed: ") + errorText);
        emit finished(false);
        Prompts::message(m_window, QMessageBox::Warning, tr("Title"),
                         tr("Download failed!") + QStringLiteral("\n") + errorText + QStringLiteral("\n")
                             + tr("The partial file %1 was removed.").arg(path));
        emit reported();
        return;
    }
    emit finished(true);
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
    const bool open = isUpdate
        ? askYesNo(tr("The installation package was saved as\n%1\nDo you want to open its folder?").arg(path))
        : askYesNo(tr("Download Success!\nDo you want to open the file?") + QStringLiteral("\n\n") + path);
    if (open) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    }
    emit reported();
}
