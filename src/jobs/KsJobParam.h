#pragma once

#include <QMetaType>
#include <QString>

// One local print job as read from the job folder; copied by value between the reader, the queue and the
// submission pipeline.
struct KsJobParam
{
    bool isValid = true;
    QString userAccount; // percent-encoded user name
    QString jobFilePath; // the trigger file; for a PDF job also the data file that is uploaded
    QString docName;
    QString color; // "true" or "false"
    QString fileType;
    QString submitTime;
    QString item8Text;
    QString controllerMac;
    QString item10Text;
    QString paperSize;
    QString item1Text;
    QString computerName;
    QString computerIp;
    qint32 documentPages = 0;
    double pageWidth = 0.0; // millimetres
    double pageHeight = 0.0;
    qint32 item9Number = 0;
    qint32 orientation = 1;
    qint32 duplexMode = 0; // 0 single-sided, 1 long edge, 2 short edge
    qint32 collate = 1;
    qint32 copies = 1;
    QString duplexName;
    QString orientationName;
    qint32 securityLevel = 1;
    QString projectId;
};

Q_DECLARE_METATYPE(KsJobParam)
