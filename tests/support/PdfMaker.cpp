#include "PdfMaker.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>

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

namespace {
QByteArray pdfAround(const QByteArray& padding)
{
    QByteArray pdf("%PDF-1.4\n");
    QList<int> offsets;
    const auto object = [&](const QByteArray& body) {
        offsets << pdf.size();
        pdf += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    // The padding first: a document cut anywhere has lost its catalogue and its cross-reference table.
    object("<< /Length " + QByteArray::number(padding.size()) + " >>\nstream\n" + padding + "\nendstream");
    object("<< /Type /Catalog /Pages 3 0 R >>");
    object("<< /Type /Pages /Kids [4 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 3 0 R /MediaBox [0 0 595 842] >>");
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const int offset : qAsConst(offsets)) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 2 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}
} // namespace

QByteArray PdfMaker::ofSize(qint64 bytes)
{
    // The length's digits change the frame's size: settle the padding in a few rounds.
    qint64 padding = 0;
    for (int round = 0; round < 4; ++round) {
        padding = qMax<qint64>(0, padding + bytes - pdfAround(QByteArray(int(padding), 'x')).size());
    }
    QByteArray random(int(padding), Qt::Uninitialized);
    for (char& byte : random) {
        byte = char(QRandomGenerator::global()->bounded(256));
    }
    return pdfAround(random);
}

QByteArray PdfMaker::corrupt()
{
    return QByteArrayLiteral("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\ntrailer garbage\n");
}
