#pragma once

#include "viewer/DocumentPool.h"
#include "viewer/PageCache.h"
#include "viewer/PdfEngine.h"
#include "viewer/PdfTypes.h"
#include "viewer/RenderQueue.h"
#include "viewer/RenderRequests.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QPolygonF>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <functional>
#include <memory>
#include <optional>

// Runs every engine call of the open documents on one worker thread (pdfium
// serialises its calls anyway) and answers through queued signals.  Requests
// carry a document id; closing a document drops its pending requests, the
// visible pages go first, background preparation last (RenderQueue has the
// order).  Rendered pages land in a shared byte-bounded cache keyed by file,
// modification time, page and pixel size.  The file list's pictures (file
// pictures) are made on a second thread, only while the worker has nothing
// to do.
//
// Owned and called on the UI thread; the signals arrive on the owner's thread.
class PdfRenderService : public QObject
{
    Q_OBJECT
public:
    using EngineFactory = DocumentPool::EngineFactory;
    // Cuts short the wait for an engine that hangs (a render helper that does
    // not answer): called by a waited close with the longest it may still take.
    using ShortenWait = std::function<void(int graceMs)>;
    using FirstPage = PdfFirstPage;
    using Group = PageGroup;
    using PageRequest = ::PageRequest;

    // The grace a waited close gives an engine that hangs.
    static constexpr int closeGraceMs = 1000;

    PdfRenderService(qint64 cacheBytes, EngineFactory engines, ShortenWait shortenWait = {},
                     QObject *parent = nullptr);
    // Stops both threads and drops every document.
    ~PdfRenderService() override;

    PageCache &cache() { return m_cache; }

    // Opens a document; the answer comes as opened().  When `first` wants a
    // first page, page 0 is rendered before that answer (so it is in the
    // cache when opened() arrives) and announced with pageRendered() right
    // after it.  The first page comes first: in that answer every page of a
    // longer document still has page 0's size, and the measured sizes follow
    // with pageSizesReady().  A document prepared for the same file (same
    // modification time) is taken over instead of opened again.
    quint64 open(const QString &path, const QString &password = QString(), const FirstPage &first = {});
    // A document prepared in the background for this path (same modification
    // time), taken over at once without touching the worker; nullopt if none.
    std::optional<PdfDocumentInfo> adoptPrepared(const QString &path);
    // Drops the document's pending requests and closes it on the worker.
    // With wait, returns only after the file has been let go of (an engine
    // that hangs is first given closeGraceMs through `shortenWait`).
    void close(quint64 docId, bool wait = false);
    // Closes every document, prepared ones included, and waits for it as a
    // waited close() does.  File pictures stay queued; one under way ends first.
    void closeAll();

    // A new list of one group replaces that group's pending requests for the
    // document; the first ones of a list go first.  Pages in the cache are
    // answered from it.  Each page is answered with pageRendered(), a null
    // image when the engine cannot draw it.
    void requestPages(quint64 docId, Group group, const QList<PageRequest> &pages);
    void requestOutline(quint64 docId);
    void requestLinks(quint64 docId, int page);
    // A new search of a document replaces the one pending.
    void requestSearch(quint64 docId, const QString &text);
    // Only the latest selection of a document is served.
    void requestSelection(quint64 docId, int page, const QPointF &from, const QPointF &to);

    // Opens the given files in the background and renders their first page
    // into the cache, in order.  Replaces (cancels) any earlier preparation;
    // prepared documents not named again are closed.
    void prepare(const QStringList &paths, const FirstPage &first);
    void cancelPrepare() { prepare({}, {}); }
    // While held, preparation waits in the queue (one under way finishes),
    // and the file pictures wait with it: the view holds it while a document
    // comes on screen, so that the page the user waits for does not share
    // the machine with work for later.
    void holdPreparation(bool held);

    // Renders the first page of each file fitted into a square of `box`
    // pixels, in the order given; files on screen (`onScreen`) go before the
    // others.  This is background work below everything else, made one file
    // at a time on a thread of its own with engines of its own: a file
    // picture starts only while no other request is queued or being served,
    // and requests that come meanwhile are served at once beside it.  A
    // request that needs the PDF library waits at most for the one library
    // call of the picture under way; one that the page cache answers does
    // not wait.  Each answer is a filePictureRendered(); the images stay out
    // of the page cache.
    void queueFilePictures(const QStringList &paths, int box, bool onScreen = true);
    // Drops the file pictures not yet begun; returns their paths.
    QStringList cancelFilePictures();

    // The key under which a page of an open document is cached.
    std::optional<PageKey> keyFor(quint64 docId, int page, const QSize &pixelSize, qreal dpr, int rotation) const;

    static qint64 fileMtimeMs(const QString &path);

signals:
    void opened(const PdfDocumentInfo &info);
    // Every page's size of a document that opened() answered with the first
    // page's size standing in for the others.
    void pageSizesReady(quint64 docId, const QList<QSizeF> &pageSizes);
    // A requested page; a null image when the engine could not draw it.
    void pageRendered(quint64 docId, int page, const PageKey &key, const QImage &image);
    void outlineReady(quint64 docId, const QList<PdfOutlineEntry> &outline);
    void linksReady(quint64 docId, int page, const QList<PdfLinkInfo> &links);
    void searchReady(quint64 docId, const QString &text, const QList<PdfSearchHit> &hits);
    void selectionReady(quint64 docId, int page, const QList<QPolygonF> &bounds, const QString &text);
    void prepared(const QString &path, bool ok);
    // An open document took its engine down after it was shown (a page that
    // crashes or hangs the render helper); it answers nothing more.
    void documentFailed(quint64 docId);
    // mtimeMs: the file's modification time as it was opened; a null image
    // when the file could not be opened or its first page not drawn.
    void filePictureRendered(const QString &path, qint64 mtimeMs, int box, const QImage &image);

private:
    // Queues a request for the worker (held preparation does not wake it).
    void post(RenderRequest::Any request);
    // Waits until the worker has served a waited close.
    void waitFor(const RenderRequest::Waiter &waiter);
    void runWorker();
    void runFilePictures();

    // The worker's handlers, one per kind of request.
    void serve(const RenderRequest::Any &request);
    void serve(const RenderRequest::Open &open);
    void serve(const RenderRequest::Measure &measure);
    void serve(const RenderRequest::Page &page);
    void serve(const RenderRequest::Outline &outline);
    void serve(const RenderRequest::Links &links);
    void serve(const RenderRequest::Search &search);
    void serve(const RenderRequest::Selection &selection);
    void serve(const RenderRequest::Close &close);
    void serve(const RenderRequest::CloseAll &closeAll);
    void serve(const RenderRequest::Prepare &prepare);
    void serve(const RenderRequest::TrimPrepared &trim);
    void serve(const RenderRequest::FilePicture &) {} // made on the second thread

    // Renders page 0 of an opened document as `first` asks, laid out over the
    // page sizes the answer carries; a page the engine drew as it opened the
    // file (`drawn`) is taken when it has that size.
    QImage renderFirst(const PdfDocumentInfo &info, const FirstPage &first, PageKey *key, QImage drawn = {});
    // The page from the cache, else `drawn` when it has the size asked for,
    // else from the engine; a new one goes into the cache.
    QImage renderCached(DocumentPool::Document &doc, const PageRequest &req, PageKey *keyOut, QImage drawn = {});

    PageCache m_cache;
    DocumentPool m_pool;
    EngineFactory m_engines; // the file pictures' own engines
    ShortenWait m_shortenWait;

    mutable QMutex m_mutex;           // guards the queue and the flags below
    QWaitCondition m_wake;            // the worker: a request came
    QWaitCondition m_filePictureWake; // the second thread: it may start one
    QWaitCondition m_doneCond;        // a waited close or a file picture finished
    RenderQueue m_queue;
    bool m_stop = false;
    bool m_workerBusy = false;      // the worker is serving a request
    bool m_filePictureBusy = false; // a file picture is being made

    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QThread> m_filePictureThread;
};
