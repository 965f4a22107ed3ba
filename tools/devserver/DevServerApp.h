#pragma once

#include <QString>
#include <QStringList>

// The devserver's commands: serve the demo data, confirm a QR scan as a phone would, write a sample PDF.
class DevServerApp
{
public:
    struct ServeOptions
    {
        int port = 8080;
        bool https = false;
        QString dataDir;
        bool plain = false;
        QString packageFile;
        int processingMs = 3000;
    };

    // Runs until SIGINT or SIGTERM; returns the exit code.
    static int serve(const ServeOptions& options);
    // POST /api/client/scan on a running devserver; 0 when the server accepted the confirmation.
    static int qrConfirm(int port, bool https, const QString& clientId, const QString& account);
    static int samplePdf(const QString& file);

    // One line on standard output, flushed at once (the output is usually a log file).
    static void printLine(const QString& line);
};
