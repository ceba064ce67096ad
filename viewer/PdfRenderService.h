#pragma once

#include "viewer/PageCache.h"
#include "viewer/PdfEngine.h"
#include "viewer/PdfTypes.h"

#include <QHash>
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
#include <unordered_map>
#include <vector>

// Runs every engine call of the open documents on one worker thread (pdfium
// serialises its calls anyway) and answers through queued signals.  Requests
// carry a document id; closing a document drops its pending requests, the
// visible pages go first, background preparation last.  Rendered pages land
// in a shared byte-bounded cache keyed by file, modification time, page and
// pixel size.  File thumbnails are made on a second thread, only while the
// worker has nothing to do.
//
// Owned and called on the UI thread; the signals arrive on the owner's thread.
class PdfRenderService : public QObject
{
    Q_OBJECT
public:
    using EngineFactory = std::function<std::unique_ptr<PdfEngine>()>;
    using FirstPage = PdfFirstPage;

    // Request groups: a new request list of one group replaces that group's
    // pending requests for the document.
    enum class Group { Visible = 10, Nearby = 30, Thumbnail = 40 };
    struct PageRequest
    {
        int page = 0;
        QSize pixelSize;
        qreal dpr = 1.0;
        int rotation = 0;
    };

    explicit PdfRenderService(qint64 cacheBytes = 160ll * 1024 * 1024,
                              EngineFactory factory = &createQtPdfEngine, QObject *parent = nullptr);
    // Stops the worker and closes every document.
    ~PdfRenderService() override;

    PageCache &cache() { return m_cache; }

    // Opens a document; the answer comes as opened().  With a sizer, page 0 is
    // rendered before that answer (so it is in the cache when opened() arrives)
    // and announced with pageRendered() right after it.  The first page comes
    // first: in that answer every page of a longer document still has page 0's
    // size, and the measured sizes follow with pageSizesReady().
    quint64 open(const QString &path, const QString &password = QString(), const FirstPage &first = {});
    // A document prepared in the background for this path (same modification
    // time), taken over at once without touching the worker; nullopt if none.
    std::optional<PdfDocumentInfo> adoptPrepared(const QString &path);
    // Drops the document's pending requests and closes it on the worker.
    // With wait, returns only after the file has been let go of.
    void close(quint64 docId, bool wait = false);
    // Closes every document, prepared ones included, and waits for it.
    void closeAll();

    void requestPages(quint64 docId, Group group, const QList<PageRequest> &pages);
    void requestOutline(quint64 docId);
    void requestLinks(quint64 docId, int page);
    void requestSearch(quint64 docId, const QString &text);
    void requestSelection(quint64 docId, int page, const QPointF &from, const QPointF &to);

    // Opens the given files in the background and renders their first page
    // into the cache, in order.  Replaces (cancels) any earlier preparation;
    // prepared documents not named again are closed.
    void prepare(const QStringList &paths, const FirstPage &first);
    void cancelPrepare() { prepare({}, {}); }
    // While held, preparation waits in the queue (one under way finishes),
    // and the thumbnails wait with it: the view holds it while a document
    // comes on screen, so that the page the user waits for does not share
    // the machine with work for later.
    void holdPreparation(bool held);

    // Renders the first page of each file fitted into a square of `box`
    // pixels, in the order given; files on screen (`onScreen`) go before the
    // others.  This is background work below everything else, made one file
    // at a time on a thread of its own with engines of its own: a thumbnail
    // starts only while no other request is queued or being served, and
    // requests that come meanwhile are served at once beside it.  A request
    // that needs the PDF library waits at most for the one library call of
    // the thumbnail under way; one that the page cache answers does not wait.
    // Each answer is a thumbnailRendered(); the images stay out of the page
    // cache.
    void queueThumbnails(const QStringList &paths, int box, bool onScreen = true);
    // Drops the thumbnails not yet begun; returns their paths.
    QStringList cancelThumbnails();

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
    void thumbnailRendered(const QString &path, qint64 mtimeMs, int box, const QImage &image);

private:
    enum class JobType { Open, Close, CloseAll, Render, Sizes, Outline, Links, Search, Selection, Prepare, TrimPrepared, Thumbnail };
    struct Job
    {
        explicit Job(JobType t) : type(t) {}
        JobType type;
        int priority = 0;
        quint64 seq = 0;
        quint64 docId = 0;
        int group = 0;
        QString path;
        QString text;
        PageRequest page;
        QPointF from, to;
        FirstPage first;
        QStringList keep;
        std::shared_ptr<bool> done; // set for waited closes
    };
    struct Doc
    {
        std::unique_ptr<PdfEngine> engine;
        QString path;
        qint64 mtimeMs = 0;
        QList<QSizeF> sizes; // measured so far, in page order
        bool failureReported = false;
    };
    struct Prepared
    {
        PdfDocumentInfo info;
    };

    void post(Job job);
    // A preparation the hold keeps back (m_mutex held).
    bool held(const Job &job) const;
    // Drops the queued preparation of a file (the caller holds m_mutex).
    void dropQueuedPreparation(const QString &path);
    void run();
    void runThumbnails();
    // Whether the queue holds a request other than a thumbnail (m_mutex held).
    bool hasForegroundJob() const;
    // The queued thumbnail (or other request) that runs first, held
    // preparation passed over; end() when there is none (m_mutex held).
    std::vector<Job>::iterator firstQueued(bool thumbnail);
    void execute(Job &job);
    Doc *docFor(quint64 docId);
    // mtimeMs: the file's modification time, read by the caller before opening.
    // Without allSizes only page 0 is measured, and its size stands in for the
    // other pages' in the answer.  With firstPage, the engine draws page 0 as
    // `first` asks while it opens the file.
    PdfDocumentInfo openInto(quint64 docId, const QString &path, const QString &password, qint64 mtimeMs,
                             bool allSizes, const FirstPage &first = {}, QImage *firstPage = nullptr);
    void failIfBroken(PdfDocumentInfo &info);
    // Renders page 0 of an opened document as `first` asks, laid out over the
    // page sizes the answer carries; a page the engine drew as it opened the
    // file (`drawn`) is taken when it has that size.
    QImage renderFirst(const PdfDocumentInfo &info, const FirstPage &first, PageKey *key, QImage drawn = {});
    // The page from the cache, else `drawn` when it has the size asked for,
    // else from the engine; a new one goes into the cache.
    QImage renderCached(Doc &doc, const PageRequest &req, PageKey *keyOut, QImage drawn = {});
    void closeDoc(quint64 docId);
    // On the thumbnail thread, with an engine of its own.
    QImage renderThumbnail(const QString &path, int box);

    EngineFactory m_factory;
    PageCache m_cache;

    mutable QMutex m_mutex;
    QWaitCondition m_wake;           // the worker: a request came
    QWaitCondition m_thumbnailWake;  // the thumbnail thread: it may start one
    QWaitCondition m_doneCond;
    std::vector<Job> m_queue;
    quint64 m_seq = 0;
    quint64 m_nextDocId = 1;
    bool m_stop = false;
    QHash<QString, Prepared> m_prepared;      // path -> prepared document (guarded by m_mutex)
    QHash<quint64, std::pair<QString, qint64>> m_docFiles; // docId -> file, for cache keys
    bool m_workerBusy = false;                // the worker is serving a request
    bool m_thumbnailBusy = false;             // a thumbnail is being made
    bool m_preparationHeld = false;           // holdPreparation()

    // Worker-thread state.
    std::unordered_map<quint64, std::unique_ptr<Doc>> m_docs;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QThread> m_thumbnailThread;
};
