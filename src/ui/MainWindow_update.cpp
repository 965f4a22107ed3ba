// The system tab (installed and newest client version) and the window's file transfer, which also serves
// the scan-job download.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"

#include "ui/ScreenFit.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>

static Logger* logger = Logging::rootLogger();

void MainWindow::initSystemInfo()
{
    if (!checkNetworkState(false)) {
        return;
    }
    m_installedVersion = m_info->ksVersion();
    m_ui->labCheckVersion->setText(
        tr("Click Check for updates to detect the latest version! %1").arg(m_installedVersion));
    m_ui->labVerUpdateTip->setText(tr("Click Check for updates to detect the latest version!"));
    m_ui->btnAutoUpdate->setEnabled(false);
}

void MainWindow::checkClientUpdate_clicked()
{
    m_ui->btnCheckUpdate->setEnabled(false);
    const bool reachable = checkNetworkState(true);
    m_ui->btnCheckUpdate->setEnabled(true);
    if (!reachable) {
        return;
    }
    m_newestVersion = m_ksKit->CheckClientUpdate(m_account);
    if (m_newestVersion.contains(QLatin1String("1.1.1")) || m_newestVersion.isEmpty()
        || m_newestVersion == m_installedVersion) {
        m_ui->labVerUpdateTip->setText(tr("Click Check for updates to check for the latest version!"));
        m_ui->btnAutoUpdate->setEnabled(false);
        return;
    }
    m_ui->labVerUpdateTip->setText(
        tr("Checked the latest version: %1 , click “automatic update” to upgrade the software!").arg(m_newestVersion));
    m_ui->btnAutoUpdate->setEnabled(true);
}

void MainWindow::autoUpdate_clicked()
{
    m_ui->btnAutoUpdate->setEnabled(false);
    const bool reachable = checkNetworkState(true);
    m_ui->btnAutoUpdate->setEnabled(true);
    if (!reachable) {
        return;
    }
    prepareDownload(QStringLiteral("KSClient_Setup.deb"), KsKit::updateDownloadUrl(m_serverUrl), true);
}

QString MainWindow::chooseSaveFile(const QString& proposedName)
{
    if (m_saveFileChooser) {
        return m_saveFileChooser(proposedName);
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The user's download folder rather than wherever the client was started from.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QDir(downloads).exists()) {
        dialog.setDirectory(downloads);
    }
    dialog.selectFile(proposedName);
    ScreenFit::keepInside(&dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}

MainWindow::Transfer* MainWindow::transferOf(const QObject* reply)
{
    for (Transfer& transfer : m_transfers) {
        if (reply && transfer.reply == reply) {
            return &transfer;
        }
    }
    return nullptr;
}

void MainWindow::dropTransfer(Transfer& transfer)
{
    if (transfer.reply) {
        disconnect(transfer.reply, nullptr, this, nullptr);
        transfer.reply->abort();
        transfer.reply->deleteLater();
    }
    transfer.reply = nullptr;
    if (transfer.file) {
        transfer.file->close();
        transfer.file->remove();
        transfer.file.reset();
    }
    if (!transferRunning()) {
        m_ui->progressBar->hide();
    }
}

bool MainWindow::transferRunning() const
{
    for (const Transfer& transfer : m_transfers) {
        if (transfer.reply) {
            return true;
        }
    }
    return false;
}

bool MainWindow::prepareDownload(const QString& proposedName, const QString& url, bool isUpdate)
{
    if (isUpdate) {
        m_isUpdateDownload = true;
    }
    const QString path = chooseSaveFile(proposedName);
    if (path.isEmpty()) {
        return false;
    }
    // One transfer of each kind at a time; the one running is only given up when the user says so.
    Transfer& transfer = m_transfers[isUpdate ? 1 : 0];
    if (transfer.reply) {
        const QString running = transfer.path;
        if (!askYesNo(tr("Confirmation"),
                      tr("The download to %1 has not finished.\nDo you want to stop it, remove its partial file and "
                         "start the new one?")
                          .arg(running))) {
            return false;
        }
        logger->info(QStringLiteral("download replaced, partial file removed: ") + running);
        dropTransfer(transfer);
        emit transferFinished(false);
    }
    m_isUpdateDownload = isUpdate;
    if (QFile::exists(path)) {
        QFile::remove(path);
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        logger->error(QStringLiteral("cannot write download file ") + path + QStringLiteral(": ")
                      + file->errorString());
        inform(QMessageBox::Warning, tr("Title"), tr("Cannot write the file %1:\n%2").arg(path, file->errorString()));
        return false;
    }
    transfer.url = QUrl(url, QUrl::TolerantMode);
    transfer.path = path;
    transfer.file = std::move(file);
    transfer.written = 0;
    transfer.writeError.clear();
    startRequest(transfer.url);
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->show();
    return true;
}

void MainWindow::startRequest(const QUrl& url)
{
    Transfer& transfer = m_transfers[m_isUpdateDownload ? 1 : 0];
    QNetworkRequest request = HttpExchange::makeRequest(url.toString(), m_serverUrl);
    QNetworkReply* reply = m_nam->get(request);
    if (transfer.reply) {
        disconnect(transfer.reply, nullptr, this, nullptr);
        transfer.reply->abort();
        transfer.reply->deleteLater();
    }
    transfer.reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &MainWindow::httpReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &MainWindow::updateDataReadProgress);
    connect(reply, &QNetworkReply::finished, this, &MainWindow::httpFinished);
}

void MainWindow::writeTransfer(Transfer& transfer)
{
    if (!transfer.file || !transfer.reply || !transfer.writeError.isEmpty()) {
        return;
    }
    const QByteArray bytes = transfer.reply->readAll();
    if (bytes.isEmpty()) {
        return;
    }
    const qint64 written = transfer.file->write(bytes);
    if (written != bytes.size()) {
        // A full disk, for example: the rest of the answer has nowhere to go.
        transfer.writeError = transfer.file->errorString();
        transfer.reply->abort();
        return;
    }
    transfer.written += written;
}

void MainWindow::httpReadyRead()
{
    if (Transfer* transfer = transferOf(sender())) {
        writeTransfer(*transfer);
    }
}

void MainWindow::updateDataReadProgress(qint64 bytesRead, qint64 totalBytes)
{
    if (totalBytes > 0) {
        m_ui->progressBar->setMaximum(int(totalBytes));
    }
    m_ui->progressBar->setValue(int(bytesRead));
}

void MainWindow::httpFinished()
{
    Transfer* transfer = transferOf(sender());
    if (!transfer) {
        return;
    }
    const bool isUpdate = transfer == &m_transfers[1];
    QNetworkReply* reply = transfer->reply;
    writeTransfer(*transfer);
    // A transfer that failed (network or HTTP error, a file that could not be written, or a body cut short of
    // its announced length) must not leave a truncated file behind.
    bool failed = reply->error() != QNetworkReply::NoError || !transfer->writeError.isEmpty();
    QString errorText = transfer->writeError.isEmpty() ? reply->errorString() : transfer->writeError;
    bool lengthKnown = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&lengthKnown);
    // A compressed body is unpacked on the way in, so its announced length is not the length written.
    const bool encoded = !reply->rawHeader("Content-Encoding").isEmpty();
    if (!failed && transfer->file && lengthKnown && !encoded && announced != transfer->written) {
        failed = true;
        errorText = tr("incomplete answer: %1 of %2 bytes").arg(transfer->written).arg(announced);
    }
    const QString path = transfer->path;
    if (transfer->file) {
        if (!transfer->file->flush() && !failed) {
            failed = true;
            errorText = transfer->file->errorString();
        }
        transfer->file->close();
        if (failed) {
            transfer->file->remove();
        }
        transfer->file.reset();
    }
    reply->deleteLater();
    transfer->reply = nullptr;
    if (!transferRunning()) {
        m_ui->progressBar->hide();
    }

    if (failed) {
        logger->error(QStringLiteral("download failed: ") + errorText);
        emit transferFinished(false);
        inform(QMessageBox::Warning, tr("Title"),
               tr("Download failed!") + QStringLiteral("\n") + errorText + QStringLiteral("\n")
                   + tr("The partial file %1 was removed.").arg(path));
    } else {
        emit transferFinished(true);
        const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
        const bool open = isUpdate
            ? askYesNo(tr("Confirmation"),
                       tr("The installation package was saved as\n%1\nDo you want to open its folder?").arg(path))
            : askYesNo(tr("Confirmation"), tr("Download Success!\nDo you want to open the file?"));
        if (open) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        }
    }
    loadTabData();
}
