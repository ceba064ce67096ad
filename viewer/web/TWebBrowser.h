#pragma once

#include "viewer/PdfViewer.h"

#include <QDateTime>
#include <QPointer>
#include <QWebEngineView>

class IAcroAXDocShim;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class TWebDocument;
class WebPdfScheme;

// The web-browser control of the main window (the "-b" back-end): an
// embedded Chromium view that shows PDF documents through the pdf.js viewer
// served by WebPdfScheme, from disk only.  Owns its page, a private
// off-the-record profile (both created when it is first shown or navigates
// to something other than an empty page: a hidden browser that only ever
// shows an empty page never starts the engine) and the current document
// object.  UI thread only.
//
// Signals:
//  - Enter(): the user entered the control (a click into it, or Tab);
//    a focus the page takes by itself is not an entry.
//  - DocumentComplete(document): the current document finished loading (a
//    PDF when the viewer has opened it or given up, another page when its
//    load ended).
//  - DocumentShown(document, ok): the viewer painted the first page of the
//    current PDF (ok), or could not open it (not ok).
//  - Prepared(path, ok): the preparation of path ended: the viewer has parsed
//    the document and drawn its first page ahead (ok), or it could not (the
//    file is unreadable or no PDF, or no viewer page is up to parse it).
// Enter() and DocumentShown() also go out through events() as the viewer
// interface's entered() and documentShown().
class TWebBrowser : public QWebEngineView, public PdfViewer
{
    Q_OBJECT
public:
    explicit TWebBrowser(QWidget *parent = nullptr);
    ~TWebBrowser() override;

    // PdfViewer: a load navigates to the file, the options go to the
    // shown document's control, and the viewer page puts its toolbar back
    // when the page mode changes.
    QWidget *widget() override { return this; }
    void load(const QString &path) override { Navigate(path); }
    void close() override { Navigate(QString()); }
    IAcroAXDocShim *optionControl() override { return ViewControl(); }
    bool pageModeResetsToolbar() const override { return true; }
    bool ownsDocumentSurface(const QWidget *widget) const override { return isDocumentSurface(widget); }

    // Shows url and returns at once:
    //  - a file path: the document (a PDF through the viewer; any other file as is);
    //  - "about:blank": an empty page;
    //  - "": lets go of the document, after which there is no document and
    //    nothing prepared.
    // A PDF prepared beforehand (and unchanged since) is only shown.
    void Navigate(const QString &url);

    // Prepares the PDF files at paths so that Navigate to one of them only
    // shows it: reads the bytes in the background, then lets the viewer page
    // parse the document and draw its first page ahead.  Replaces the earlier
    // preparation: a file not named again is dropped, and the number handed
    // out for it no longer reaches the file.  Files that are no PDF are left out.
    void prepare(const QStringList &paths) override;
    void cancelPrepare() { prepare({}); }
    // The viewer URL handed out for a prepared file; empty when it is not prepared.
    QUrl preparedUrl(const QString &path) const;

    // The current document object, or nullptr while no page is loaded
    // (before the first navigation and after Navigate("")).  Owned by the
    // browser; valid until the next Navigate.
    TWebDocument *Document() const;

    // Reaching the view control through the browser: the PDF-control
    // interface of the current document, or nullptr when there is no
    // document (the control is not reachable).  Throws
    // AppError(interfaceNotSupportedMessage()) when the page is no PDF shown
    // by the viewer.
    IAcroAXDocShim *ViewControl() const;

    // True when widget belongs to a TWebBrowser (the browser itself or the
    // surface that holds the keyboard focus when the page has it), i.e. the
    // rendering component's own window for the focus rule.
    static bool isDocumentSurface(const QWidget *widget);

    WebPdfScheme *scheme() const { return m_scheme; }

Q_SIGNALS:
    void Enter();
    void DocumentComplete(TWebDocument *document);
    void DocumentShown(TWebDocument *document, bool ok);
    void Prepared(const QString &path, bool ok);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Creates the profile and page on first need.
    void startEngine();
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onViewerReport(const QString &what, const QString &file);
    void watchChildren();
    void replaceDocument(TWebDocument *document);

    struct Preparation
    {
        QString path;        // absolute
        QUrl url;            // the viewer URL handed out for it
        bool read = false;   // its bytes are in the scheme
        QDateTime modified;  // the file as read
        qint64 size = -1;
        bool inPage = false; // the viewer page is preparing it
    };
    // Takes the preparation of path out of the list when it can be shown as
    // read; drops a stale one.  Empty URL when there is none.
    QUrl takePrepared(const QString &path);
    void dropPreparation(const Preparation &preparation);
    void onRead(const QUrl &url, QByteArray bytes, const QDateTime &modified, qint64 size);
    // Tells the viewer page which documents to hold prepared.
    void sendPreparations();

    QList<Preparation> m_prepared;

    QWebEngineProfile *m_profile = nullptr;
    QWebEnginePage *m_page = nullptr;
    WebPdfScheme *m_scheme = nullptr;
    QPointer<TWebDocument> m_document;
    // The viewer page is loaded and can open the next PDF in place.
    bool m_viewerUp = false;
};
