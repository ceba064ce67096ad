#include "ViewerFixtures.h"

#include "support/PdfFixtures.h"
#include "support/ProcessTree.h"

#include <QFile>
#include <QProcess>

namespace ViewerFixtures {

bool writeLinkedPdf(const QString &path)
{
    // 1 catalog, 2 pages, 3 font, 4..6 pages, 7..9 contents, 10 link annotation.
    const QByteArray texts[3] = {"BT /F1 24 Tf 72 700 Td (Alpha Beta Gamma) Tj ET",
                                 "BT /F1 24 Tf 72 700 Td (Second page) Tj ET",
                                 "BT /F1 24 Tf 72 700 Td (Third Gamma) Tj ET"};
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R] /Count 3 >>";
    objects << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    for (int i = 0; i < 3; ++i) {
        QByteArray page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents "
                          + QByteArray::number(7 + i) + " 0 R /Resources << /Font << /F1 3 0 R >> >>";
        if (i == 0)
            page += " /Annots [10 0 R]";
        objects << page + " >>";
    }
    for (const QByteArray &t : texts)
        objects << "<< /Length " + QByteArray::number(t.size()) + " >>\nstream\n" + t + "\nendstream";
    objects << "<< /Type /Annot /Subtype /Link /Rect [72 600 300 650] /Border [0 0 0] /Dest [6 0 R /XYZ 0 842 0] >>";

    return PdfFixtures::writeRawPdf(path, objects);
}

bool writeHeavyPdf(const QString &path, int strokes)
{
    QByteArray content = "0.2 w\n";
    content.reserve(strokes * 40);
    for (int i = 0; i < strokes; ++i) {
        const int x = (i * 37) % 595, y = (i * 53) % 842;
        content += QByteArray::number(x) + ' ' + QByteArray::number(y) + " m " + QByteArray::number(595 - x) + ' '
                   + QByteArray::number((y * 7) % 842) + " l S\n";
    }
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
    objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>";
    objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream";
    return PdfFixtures::writeRawPdf(path, objects);
}

bool encryptPdf(const QString &in, const QString &out)
{
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"), {"--encrypt", "user", "owner", "256", "--", in, out});
    if (!qpdf.waitForFinished(30000))
        return false;
    return qpdf.exitStatus() == QProcess::NormalExit && qpdf.exitCode() == 0 && QFile::exists(out);
}

int openDescriptorsFor(const QString &path)
{
    return int(ProcessTree::openDescriptors(path).size());
}

} // namespace ViewerFixtures
