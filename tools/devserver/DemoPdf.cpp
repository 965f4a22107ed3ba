#include "DemoPdf.h"

#include <QList>

namespace {

// Text inside a PDF string: only ASCII, with the three special characters escaped.
QByteArray pdfString(const QString& text)
{
    QByteArray out;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '(' || u == ')' || u == '\\') {
            out.append('\\');
        }
        out.append(u >= 32 && u < 127 ? char(u) : '?');
    }
    return out;
}

} // namespace

QByteArray DemoPdf::make(const QString& title, const QStringList& lines)
{
    QByteArray content = "BT /F1 20 Tf 72 760 Td (" + pdfString(title) + ") Tj ET\n";
    int y = 720;
    for (const QString& line : lines) {
        content += "BT /F1 12 Tf 72 " + QByteArray::number(y) + " Td (" + pdfString(line) + ") Tj ET\n";
        y -= 18;
    }

    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
        "/Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
    };

    QByteArray pdf = "%PDF-1.4\n";
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const int offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}
