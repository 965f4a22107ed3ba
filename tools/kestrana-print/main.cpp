// kestrana-print [options] file.pdf
// Puts a print job into the client's job folder the way the virtual printer does.
#include "JobWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrana-print"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Drops a PDF into the HalcyraClient job folder as a print job."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file.pdf"), QStringLiteral("The document to print."));
    const QCommandLineOption color({ QStringLiteral("c"), QStringLiteral("color") },
                                   QStringLiteral("Print in colour."));
    const QCommandLineOption mono({ QStringLiteral("m"), QStringLiteral("mono") },
                                  QStringLiteral("Print in black and white (default)."));
    const QCommandLineOption duplex({ QStringLiteral("d"), QStringLiteral("duplex") },
                                    QStringLiteral("Sides: none (default), long or short."), QStringLiteral("mode"),
                                    QStringLiteral("none"));
    const QCommandLineOption copies({ QStringLiteral("n"), QStringLiteral("copies") },
                                    QStringLiteral("Number of copies (default 1)."), QStringLiteral("count"),
                                    QStringLiteral("1"));
    const QCommandLineOption paper({ QStringLiteral("p"), QStringLiteral("paper") },
                                   QStringLiteral("Paper size: A3, A4 (default), A5, Letter or Legal."),
                                   QStringLiteral("size"), QStringLiteral("A4"));
    const QCommandLineOption landscape(QStringLiteral("landscape"), QStringLiteral("Landscape orientation."));
    const QCommandLineOption uncollated(QStringLiteral("no-collate"), QStringLiteral("Do not collate copies."));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("Document name shown to the user (default: the file name)."),
                                  QStringLiteral("text"));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Job folder (default: the client's, from its settings)."),
                                    QStringLiteral("dir"));
    const QCommandLineOption job(QStringLiteral("job"), QStringLiteral("Job name inside the folder (default: unique)."),
                                 QStringLiteral("name"));
    parser.addOptions({ color, mono, duplex, copies, paper, landscape, uncollated, name, folder, job });
    parser.process(app);

    QTextStream err(stderr);
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        err << "kestrana-print: exactly one PDF file expected\n";
        return 2;
    }
    if (parser.isSet(color) && parser.isSet(mono)) {
        err << "kestrana-print: --color and --mono exclude each other\n";
        return 2;
    }

    PrintJobOptions printJob;
    const QString pdfPath = files.first();
    printJob.color = parser.isSet(color);
    const QString sides = parser.value(duplex).toLower();
    if (sides == QLatin1String("none")) {
        printJob.duplexType = 0;
    } else if (sides == QLatin1String("long")) {
        printJob.duplexType = 1;
    } else if (sides == QLatin1String("short")) {
        printJob.duplexType = 2;
    } else {
        err << "kestrana-print: --duplex takes none, long or short\n";
        return 2;
    }
    bool ok = false;
    printJob.copies = parser.value(copies).toInt(&ok);
    if (!ok || printJob.copies < 1 || printJob.copies > 9999) {
        err << "kestrana-print: --copies takes a number from 1 to 9999\n";
        return 2;
    }
    if (!JobWriter::paperSize(parser.value(paper).toStdString(), &printJob.pageWidth, &printJob.pageHeight)) {
        err << "kestrana-print: unknown paper size " << parser.value(paper) << "\n";
        return 2;
    }
    if (parser.isSet(landscape)) {
        printJob.orientation = 2;
    }
    printJob.collate = !parser.isSet(uncollated);
    printJob.docName = (parser.isSet(name) ? parser.value(name) : QFileInfo(pdfPath).fileName()).toStdString();
    std::string baseName = parser.isSet(job) ? parser.value(job).toStdString() : std::string();
    if (parser.isSet(job) && (baseName.empty() || baseName.front() == '.' || baseName.find('/') != std::string::npos)) {
        err << "kestrana-print: --job takes a plain file name\n";
        return 2;
    }

    const int source = ::open(QFile::encodeName(pdfPath).constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        const char* reason = std::strerror(errno);
        err << "kestrana-print: cannot read " << pdfPath << ": " << reason << "\n";
        return 1;
    }
    std::string error;
    std::string folderPath = parser.isSet(folder) ? QFile::encodeName(parser.value(folder)).toStdString() : "";
    const int folderFd = folderPath.empty()
        ? JobWriter::openJobFolder(QFile::encodeName(QDir::homePath()).toStdString(), &folderPath, &error)
        : JobWriter::openFolder(folderPath, &error);
    const bool written = folderFd >= 0 && JobWriter::write(folderFd, printJob, source, &baseName, &error);
    ::close(source);
    if (folderFd >= 0) {
        ::close(folderFd);
    }
    if (!written) {
        err << "kestrana-print: " << QString::fromStdString(error) << "\n";
        return 1;
    }
    QTextStream(stdout) << QFile::decodeName(folderPath.c_str()) << '/' << QString::fromStdString(baseName) << ".pdf\n";
    return 0;
}
