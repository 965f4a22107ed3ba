#pragma once

#include <QByteArray>
#include <QPageLayout>
#include <QPageSize>
#include <QString>

// Generates PDF fixtures with QPdfWriter (needs a QGuiApplication).
class PdfMaker
{
public:
    // Writes a PDF of the given number of pages, each carrying its page number; false on failure.
    static bool write(const QString& path, int pages, QPageSize::PageSizeId size = QPageSize::A4);
    // The same document in memory, its pages turned as asked and its title in the document information.
    static QByteArray make(int pages, QPageSize::PageSizeId size = QPageSize::A4,
                           QPageLayout::Orientation orientation = QPageLayout::Portrait,
                           const QString& title = QString());
    // A one-page PDF of exactly this many bytes (at least a few hundred), nearly all of them random: the
    // contents of an unreferenced stream, so that a cut anywhere leaves no document.
    static QByteArray ofSize(qint64 bytes);
    // Something that starts like a PDF but is not one.
    static QByteArray corrupt();
};
