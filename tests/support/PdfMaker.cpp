#include "PdfMaker.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>

QByteArray PdfMaker::make(int pages, QPageSize::PageSizeId size, QPageLayout::Orientation orientation,
                          const QString& title)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(size));
        writer.setPageOrientation(orientation);
        writer.setTitle(title);
        writer.setResolution(72);
        writer.setCreator(QStringLiteral("PdfMaker"));
        QPainter painter(&writer);
        for (int page = 1; page <= pages; ++page) {
            if (page > 1) {
                writer.newPage();
            }
            painter.drawRect(20, 20, 100, 60);
            painter.drawText(30, 55, QStringLiteral("page %1 of %2").arg(page).arg(pages));
        }
        painter.end();
    }
    return buffer.data();
}

bool PdfMaker::write(const QString& path, int pages, QPageSize::PageSizeId size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const QByteArray data = make(pages, size);
    return !data.isEmpty() && file.write(data) == data.size();
}

QByteArray PdfMaker::corrupt()
{
    return QByteArrayLiteral("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\ntrailer garbage\n");
}
