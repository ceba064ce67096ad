#pragma once

#include "viewer/PdfViewer.h"

#include <QDateTime>
#include <QJsonObject>
#include <QPointer>
#include <QWebEngineView>

class IAcroAXDocShim;
class PdfMessagePanel;
class ShownFileWatch;
class QMenu;
class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class TWebDocument;
class WebPdfScheme;
class WebToolbar;

// The web-browser control of the main window (the "-b" back-end): an
// embedded Chromium view that shows PDF documents through the pdf.js viewer
// served by WebPdfScheme, from disk only.  Owns its page, a private
// off-the-record profile (both created when it is first shown or navigates
// to something other than an empty page: a hidden browser that only ever
// shows an empty page never starts the engine) and the current document
// object.  UI thread only.
//
// The viewer's own controls are hidden; around the page the browser shows
// the built-in view's Japanese toolbar and messages instead: widget() is a
// frame with the toolbar (WebToolbar, driving the page) above the browser,
// and the message panel (PdfMessagePanel) laid over it when a PDF cannot be
// shown or asks for its password.  The frame owns the browser: it goes with
// the frame, and deleting the browser takes the frame with it.  A shown PDF
// that changes on disk is shown again as it is now, at the same place.
//
// Signals:
//  - Enter(): the user entered the control (a click into it, or Tab);
//    a focus the page takes by itself is not an entry.
//  - DocumentComplete(document): the current document finished loading (a
//    PDF when the viewer has opened it, given up, or asks for its password;
//    another page when its load ended).  Again after the PDF was shown anew
//    because it changed on disk.
//  - DocumentShown(document, ok): the viewer painted the first page of the
//    current PDF (ok), or the frame shows why it cannot (not ok: a failure
//    or the password prompt).
//  - Prepared(path, ok): the preparation of path ended: the viewer has parsed
//    the document and drawn its first page ahead (ok), or it could not (the
//    file is unreadable or no PDF, or no viewer page is up to parse it).
// Enter() and DocumentShown() also go out through events() as the viewer
// interface's entered() and documentShown().
class TWebBrowser : public QWebEngineView, public PdfViewer
{
    Q_OBJECT
public:
    // parent: the parent of the frame (widget()), which holds the browser.
    explicit TWebBrowser(QWidget *parent = nullptr);
    ~TWebBrowser() override;

    // PdfViewer: the frame shows the browser; a load navigates to the file,
    // the options go to the shown document's control, which takes the
    // toolbar option again after a page mode.
    QWidget *widget() override;
    void load(const QString &path) override { Navigate(path); }
    void close() override { Navigate(QString()); }
    IAcroAXDocShim *optionControl() override { return ViewControl(); }
    bool pageModeResetsToolbar() const override { return true; }
    bool ownsDocumentSurface(const QWidget *widget) const override { return isDocumentSurface(widget); }
    // The shown PDF (none while a message covers it).
    PrintSource printSource() const override;

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
    // The frame's toolbar and message panel.
    WebToolbar *toolbar() const { return m_toolbar; }
    PdfMessagePanel *messagePanel() const { return m_messagePanel; }
    // True while the panel covers the page (a message or the password prompt).
    bool showsMessage() const;

    // The page's context menu, in Japanese: copy (of a selection), copy of a
    // link's address (on a link) and select all.  The caller owns it.
    QMenu *createViewerContextMenu();

Q_SIGNALS:
    void Enter();
    void DocumentComplete(TWebDocument *document);
    void DocumentShown(TWebDocument *document, bool ok);
    void Prepared(const QString &path, bool ok);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    class Frame;

    // Creates the profile and page on first need.
    void startEngine();
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onViewerReport(const QString &what, const QJsonObject &details);
    void watchChildren();
    void replaceDocument(TWebDocument *document);
    // Runs a call of the bridge in the viewer page, when it is up.
    void callViewer(const QString &call);

    // The panel over the page: a message, with the password prompt when
    // askPassword; hidePanel() shows the page again.  The keyboard focus
    // that was inside the panel goes back where it was before.
    void showMessage(const QString &text, bool askPassword);
    void hidePanel();

    // The shown PDF changed on disk: shows it again as it is now, at the
    // place the old version stood.
    void reloadShownFile(const QString &path);

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

    Frame *m_frame = nullptr;
    WebToolbar *m_toolbar = nullptr;
    PdfMessagePanel *m_messagePanel = nullptr;
    ShownFileWatch *m_fileWatch = nullptr; // the shown PDF on disk

    QWebEngineProfile *m_profile = nullptr;
    QWebEnginePage *m_page = nullptr;
    WebPdfScheme *m_scheme = nullptr;
    QPointer<TWebDocument> m_document;
    // The viewer page is loaded and can open the next PDF in place.
    bool m_viewerUp = false;
    QString m_typedPassword; // entered last for the current document
    QString m_password;      // the one it opened with
    int m_shownPage = -1;    // 0-based
};
