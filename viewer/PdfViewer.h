#pragma once

#include "viewer/AcroPDFLib_TLB.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

// What a print run needs of the shown document: its file, the password it
// was opened with, and the page shown (0-based, -1: none).  Empty path: no
// document is shown.
struct PrintSource
{
    QString path;
    QString password;
    int currentPage = -1;
};

// The signals every viewer sends, whatever its back-end.
//  - entered(): the user moved the keyboard focus into the viewer (a click
//    or Tab); focus the viewer takes by itself is no entry.
//  - documentShown(): the document loaded last (or the message saying why
//    it cannot be shown) is on screen.
//  - printRequested(): the user asked the viewer to print (its toolbar's
//    print button); the window prints printSource().
class PdfViewerEvents : public QObject
{
    Q_OBJECT
signals:
    void entered();
    void documentShown();
    void printRequested();
};

// What the main window asks of the control that shows its documents: the
// built-in PDF view (TAcroPDF) or the web view ("-b", TWebBrowser).  The
// back-end is chosen once, when the viewer is made; the code above this
// interface never asks which one it has.  UI thread only.
class PdfViewer
{
public:
    virtual ~PdfViewer() = default;

    // The control that fills the window's viewer area (owned by its parent widget).
    virtual QWidget *widget() = 0;

    // Shows the document at `path` and returns at once; what goes wrong is
    // shown inside the viewer.  Throws AppError when there is nothing that
    // can load it.
    virtual void load(const QString &path) = 0;
    // Shows nothing and lets go of the shown file (before the file is
    // renamed, or before the viewer goes).
    virtual void close() = 0;

    // The control that takes the four viewer options (toolbar, layout mode,
    // page mode, scroll bars) for the shown document: null when there is
    // nothing to set them on right now; throws
    // AppError(interfaceNotSupportedMessage()) when what is shown offers no
    // PDF control.
    virtual IAcroAXDocShim *optionControl() = 0;
    // Whether a page-mode change takes the toolbar back to its default, so
    // that the toolbar's option has to be sent again after it.
    virtual bool pageModeResetsToolbar() const { return false; }

    // Gets these files ready (the selected one first) so that a later load
    // of one of them only shows it; replaces the previous preparation.
    virtual void prepare(const QStringList &paths) = 0;

    // Whether `widget` is the viewer's document surface: the widget its
    // renderer holds the keyboard focus with while the user works in a
    // document (the role the window's focus rule looks for).
    virtual bool ownsDocumentSurface(const QWidget *widget) const = 0;

    // The shown document, for printing.
    virtual PrintSource printSource() const = 0;

    PdfViewerEvents &events() { return m_events; }

private:
    PdfViewerEvents m_events;
};
