#pragma once

#include <QString>

// The contract of a PDF view control, as the document display drives it.
// Booleans are COM-style: true is -1 (all bits set), false is 0.
//
// Implemented by the pdfium-backed TAcroPDF (viewer/) and by the document
// object that the web-browser back-end hands out for a PDF page
// (viewer/web/).  UI thread only.
using WordBool = short;
inline constexpr WordBool WordTrue = -1;
inline constexpr WordBool WordFalse = 0;

class IAcroAXDocShim
{
public:
    virtual ~IAcroAXDocShim() = default;

    // Loads a document; false when it could not be opened (not an error).
    virtual bool LoadFile(const QString &fileName) = 0;
    virtual void setShowToolbar(WordBool On) = 0;
    // "DontCare", "SinglePage", "OneColumn", "TwoColumnLeft", "TwoColumnRight".
    virtual void setLayoutMode(const QString &layoutMode) = 0;
    // "none", "bookmarks", "thumbs".
    virtual void setPageMode(const QString &pageMode) = 0;
    virtual void setShowScrollbars(WordBool On) = 0;
    // The document's path; setting "" closes it and lets go of the file.
    virtual QString src() const = 0;
    virtual void setSrc(const QString &src) = 0;
};

// Message of the error raised when a shown page offers no PDF control.
inline QString interfaceNotSupportedMessage()
{
    return QStringLiteral("Interface はサポートされていません");
}
