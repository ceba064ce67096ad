#include "PdfFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace PdfFixtures {

namespace {

QPageSize pageSizeFor(const QSizeF &pt)
{
    return QPageSize(pt, QPageSize::Point, QString(), QPageSize::ExactMatch);
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

bool writePdf(const QString &path, const QList<QSizeF> &pagesPt, const QString &title)
{
    if (pagesPt.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(pageSizeFor(pagesPt.first()));
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    for (int i = 0; i < pagesPt.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(pageSizeFor(pagesPt.at(i)));
            writer.newPage();
        }
        const QRectF page(QPointF(0, 0), pagesPt.at(i));
        painter.setPen(QPen(Qt::black, 4));
        painter.drawRect(page.adjusted(10, 10, -10, -10));
        QFont font = painter.font();
        font.setPointSizeF(qMin(page.width(), page.height()) / 8);
        painter.setFont(font);
        painter.drawText(page, Qt::AlignCenter, QStringLiteral("Page %1").arg(i + 1));
    }
    return painter.end();
}

bool writeSimplePdf(const QString &path, int pages)
{
    return writePdf(path, QList<QSizeF>(pages, QSizeF(595, 842)));
}

bool writeBrokenPdf(const QString &path)
{
    return writeAll(path, QByteArrayLiteral("%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R\n"
                                            "\x00\x01garbage that never ends an object"));
}

bool writeRawPdf(const QString &path, const QList<QByteArray> &objects)
{
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << out.size();
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        out += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1)
           + " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return writeAll(path, out);
}

bool writeOutlinedPdf(const QString &path, int pages)
{
    // Objects: 1 catalog, 2 pages, 3 outline root, then per page: page, contents, outline item.
    QList<QByteArray> objects;
    const int firstPage = 4;
    auto pageObj = [&](int i) { return firstPage + 3 * i; };
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(pageObj(i)) + " 0 R ";
    objects << "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /PageMode /UseOutlines >>";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    objects << "<< /Type /Outlines /First " + QByteArray::number(pageObj(0) + 2) + " 0 R /Last "
                   + QByteArray::number(pageObj(pages - 1) + 2) + " 0 R /Count "
                   + QByteArray::number(pages) + " >>";
    for (int i = 0; i < pages; ++i) {
        const QByteArray stream = "BT /F1 48 Tf 72 700 Td (Chapter " + QByteArray::number(i + 1)
                                  + ") Tj ET";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents "
                       + QByteArray::number(pageObj(i) + 1)
                       + " 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
                         "/BaseFont /Helvetica >> >> >> >>";
        objects << "<< /Length " + QByteArray::number(stream.size()) + " >>\nstream\n" + stream
                       + "\nendstream";
        QByteArray item = "<< /Title (Chapter " + QByteArray::number(i + 1) + ") /Parent 3 0 R /Dest ["
                          + QByteArray::number(pageObj(i)) + " 0 R /XYZ 0 842 0]";
        if (i > 0)
            item += " /Prev " + QByteArray::number(pageObj(i - 1) + 2) + " 0 R";
        if (i + 1 < pages)
            item += " /Next " + QByteArray::number(pageObj(i + 1) + 2) + " 0 R";
        objects << item + " >>";
    }
    return writeRawPdf(path, objects);
}

} // namespace PdfFixtures
