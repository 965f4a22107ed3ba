// The system tab (installed and newest client version) and the window's file transfer, which also serves
// the scan-job download.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>

static Logger* logger = Logging::rootLogger();

void MainWindow::initSystemInfo()
{
    if (!checkNetworkState(false)) {
        return;
    }
    m_installedVersion = Singleton<LoginInfo>::getInstance()->ksVersion();
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
    // One literal: GCC 12 at -O3 reports a false string overflow on the longer chain of builders.
    prepareDownload(QStringLiteral("KSClient_Setup.deb"),
                    m_serverUrl + QStringLiteral("/MyJob/ResponseDownLoad?type=3&SysType=amd"), true);
}

QString MainWindow::chooseSaveFile(const QString& proposedName)
{
    if (m_saveFileChooser) {
        return m_saveFileChooser(proposedName);
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
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
    m_outputPath = path;
    m_transferUrl = QUrl(url, QUrl::TolerantMode);
    m_isUpdateDownload = isUpdate;
    if (QFile::exists(path)) {
        QFile::remove(path);
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        logger->error(QStringLiteral("cannot write download file ") + path);
        return false;
    }
    m_outputFile = std::move(file);
    m_bytesWritten = 0;
    startRequest(m_transferUrl);
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->show();
    return true;
}

void MainWindow::startRequest(const QUrl& url)
{
    QNetworkRequest request = HttpExchange::makeRequest(url.toString(), m_serverUrl);
    QNetworkReply* reply = m_nam->get(request);
    // One transfer is tracked at a time; a newer one replaces the older.
    if (m_transferReply) {
        disconnect(m_transferReply, nullptr, this, nullptr);
        m_transferReply->abort();
        m_transferReply->deleteLater();
    }
    m_transferReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &MainWindow::httpReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &MainWindow::updateDataReadProgress);
    connect(reply, &QNetworkReply::finished, this, &MainWindow::httpFinished);
}

void MainWindow::httpReadyRead()
{
    if (m_outputFile && m_transferReply) {
        m_bytesWritten += m_outputFile->write(m_transferReply->readAll());
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
    m_ui->progressBar->hide();
    QNetworkReply* reply = m_transferReply;
    if (m_outputFile && reply) {
        m_bytesWritten += m_outputFile->write(reply->readAll());
    }
    // A transfer that failed (network or HTTP error, or a body cut short of its announced length) must not
    // leave a truncated file behind.
    bool failed = !reply || reply->error() != QNetworkReply::NoError;
    QString errorText = reply ? reply->errorString() : QString();
    bool lengthKnown = false;
    const qint64 announced = reply ? reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&lengthKnown) : 0;
    // A compressed body is unpacked on the way in, so its announced length is not the length written.
    const bool encoded = reply && !reply->rawHeader("Content-Encoding").isEmpty();
    if (!failed && m_outputFile && lengthKnown && !encoded && announced != m_bytesWritten) {
        failed = true;
        errorText = tr("incomplete answer: %1 of %2 bytes").arg(m_bytesWritten).arg(announced);
    }
    const QString path = m_outputPath;
    if (m_outputFile) {
        m_outputFile->close();
        if (failed) {
            m_outputFile->remove();
        }
        m_outputFile.reset();
    }
    if (reply) {
        reply->deleteLater();
    }
    m_transferReply = nullptr;

    if (failed) {
        logger->error(QStringLiteral("download failed: ") + errorText);
        emit transferFinished(false);
        inform(QMessageBox::Warning, tr("Title"), tr("Download failed!") + QStringLiteral("\n") + errorText);
    } else {
        emit transferFinished(true);
        if (!m_isUpdateDownload
            && askYesNo(tr("Confirmation"), tr("Download Success!\nDo you want to open the file?"))) {
            const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        }
    }
    loadTabData();
}
