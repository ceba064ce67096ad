#pragma once

#include <QColor>
#include <QList>
#include <QString>

// PDFs for the journeys and the screenshot: every page of a solid-colour
// document is filled edge to edge with one colour, so the document on screen
// can be told by a pixel; a sample document looks like a page of text with a
// coloured heading band.
namespace SolidPdf {

bool writeSolid(const QString &path, const QColor &colour, int pages = 1);
// A document whose page i is filled with colours[i].
bool writePages(const QString &path, const QList<QColor> &colours);
bool writeSample(const QString &path, const QColor &accent, const QString &title);

} // namespace SolidPdf
