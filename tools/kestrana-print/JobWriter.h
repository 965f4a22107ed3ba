#pragma once

#include <QString>

// One print job as the virtual printer writes it: a parameter file named after the job and the PDF beside it.
struct PrintJobOptions
{
    QString pdfPath; // the document to print
    QString folder; // the job folder
    QString baseName; // job name inside the folder
    QString docName;
    bool color = false;
    int duplexType = 0; // 0 single-sided, 1 long edge, 2 short edge
    int copies = 1;
    bool collate = true;
    int orientation = 1; // 1 portrait, 2 landscape
    int pageWidth = 2100; // tenths of a millimetre
    int pageHeight = 2970;
};

class JobWriter
{
public:
    // Paper name (A3, A4, A5, Letter, Legal; any case) to its size in tenths of a millimetre.
    static bool paperSize(const QString& name, int* width, int* height);
    // <home>/halcyraclient/<Job/Path of the user's settings, "ksprinter" when unset or empty>
    static QString defaultJobFolder();
    static QString newBaseName();
    static QByteArray parameterText(const PrintJobOptions& printJob);

    // Writes the parameter file, then the PDF; each appears under its final name in one rename, written
    // first under a hidden name that no scan of the folder treats as a job. Returns false with a reason.
    static bool write(const PrintJobOptions& printJob, QString* error);
};
