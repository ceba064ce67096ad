#pragma once

#include <QString>

// PDFs for the viewer tests beyond the shared fixtures.
namespace ViewerFixtures {

// Three A4 pages with text; page 1 carries "Alpha Beta Gamma" and a link
// (rect 72,192..300,242 in top-left points) to page 3; page 3 says "Gamma" again.
bool writeLinkedPdf(const QString &path);

// One A4 page drawn with `strokes` separate line paths: slow to render.
bool writeHeavyPdf(const QString &path, int strokes);

// Encrypts a PDF with user password "user" (AES-256) through the qpdf tool;
// false when the tool is missing or fails.
bool encryptPdf(const QString &in, const QString &out);

// Count of this process's open descriptors that refer to the path.
int openDescriptorsFor(const QString &path);

} // namespace ViewerFixtures
