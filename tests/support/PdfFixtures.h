#pragma once

#include <QList>
#include <QSizeF>
#include <QString>

// PDFs drawn at test time with QPdfWriter, and hand-made bad files.
namespace PdfFixtures {

// Writes a PDF with one page per entry of `pagesPt` (page size in points,
// portrait or landscape as given).  Each page carries the text "Page N" in
// large type and a frame, so that renders are not blank.  Returns success.
bool writePdf(const QString &path, const QList<QSizeF> &pagesPt,
              const QString &title = QString());

// A PDF of `pages` A4 pages.
bool writeSimplePdf(const QString &path, int pages = 1);

// A file that starts like a PDF but is truncated garbage.
bool writeBrokenPdf(const QString &path);

// Writes a hand-made PDF from its objects (object N is objects[N-1]; object 1
// is the catalog), with a correct cross-reference table.
bool writeRawPdf(const QString &path, const QList<QByteArray> &objects);

// A small hand-written PDF with an outline (bookmarks) of `pages` pages:
// one outline entry "Chapter N" per page.
bool writeOutlinedPdf(const QString &path, int pages);

} // namespace PdfFixtures
