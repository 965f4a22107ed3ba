#pragma once

#include <QByteArray>
#include <QStringList>

// A small valid one-page A4 PDF with a few lines of text: the demo's scanned documents and the sample job.
class DemoPdf
{
public:
    static QByteArray make(const QString& title, const QStringList& lines = QStringList());
};
