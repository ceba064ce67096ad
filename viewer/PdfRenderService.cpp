#include "viewer/PdfRenderService.h"

#include "base/ImageFit.h"

#include <QFileInfo>

namespace {

// Pages measured per request, so that page requests get in between on a long document.
constexpr int sizesPerRequest = 32;

// The first page of a file fitted into a square, with an engine of its own.
QImage renderFilePicture(const DocumentPool::EngineFactory &engines, const QString &path, int box)
{
    const std::unique_ptr<PdfEngine> engine = engines();
    QImage image;
    if (engine->open(path, QString()) == PdfOpenStatus::Ok) {
        const QSizeF first = engine->pageSize(0);
        const QSize px = first.isEmpty() ? QSize() : sheafline::fitInSquare(first, box);
        if (!px.isEmpty())
            image = engine->render(0, px, 0);
    }
    engine->close();
    return image;
}

} // namespace

PdfRenderService::PdfRenderService(qint64 cacheBytes, EngineFactory engines, ShortenWait shortenWait,
                                   QObject *parent)
    : QObject(parent), m_cache(cacheBytes), m_pool(engines), m_engines(std::move(engines)),
      m_shortenWait(std::move(shortenWait))
{
    qRegisterMetaType<PdfDocumentInfo>();
    qRegisterMetaType<PageKey>();
    qRegisterMetaType<QList<PdfOutlineEntry>>();
    qRegisterMetaType<QList<PdfLinkInfo>>();
    qRegisterMetaType<QList<PdfSearchHit>>();
    qRegisterMetaType<QList<QPolygonF>>();
    m_thread.reset(QThread::create([this] { runWorker(); }));
    m_thread->setObjectName(QStringLiteral("pdf-render"));
    m_thread->start();
    m_filePictureThread.reset(QThread::create([this] { runFilePictures(); }));
    m_filePictureThread->setObjectName(QStringLiteral("pdf-file-pictures"));
    m_filePictureThread->start();
}

PdfRenderService::~PdfRenderService()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_queue.clear();
        m_wake.wakeAll();
        m_filePictureWake.wakeAll();
    }
    m_thread->wait();
    m_filePictureThread->wait();
    m_pool.clearEngines();
}

qint64 PdfRenderService::fileMtimeMs(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() ? fi.lastModified().toMSecsSinceEpoch() : 0;
}

void PdfRenderService::post(RenderRequest::Any request)
{
    QMutexLocker lock(&m_mutex);
    const bool wake = !m_queue.isHeld(request); // a held request has nothing to wake the worker for
    m_queue.push(std::move(request));
    if (wake)
        m_wake.wakeOne();
}

void PdfRenderService::waitFor(const RenderRequest::Waiter &waiter)
{
    // A hanging engine would hold the caller up for the whole watchdog time.
    if (m_shortenWait)
        m_shortenWait(closeGraceMs);
    QMutexLocker lock(&m_mutex);
    while (!*waiter)
        m_doneCond.wait(&m_mutex);
}

quint64 PdfRenderService::open(const QString &path, const QString &password, const FirstPage &first)
{
    const quint64 id = m_pool.newDocId();
    {
        QMutexLocker lock(&m_mutex);
        // A pending preparation of the same file would only open it twice.
        m_queue.dropPreparationOf(path);
    }
    post(RenderRequest::Open{id, path, password, first});
    return id;
}

std::optional<PdfDocumentInfo> PdfRenderService::adoptPrepared(const QString &path)
{
    // Most opens find nothing prepared; only a hit is worth a stat, and that
    // stat is kept out of the locks the worker needs.
    const std::optional<PdfDocumentInfo> candidate = m_pool.preparedInfo(path);
    if (!candidate || fileMtimeMs(path) != candidate->mtimeMs)
        return std::nullopt;
    // Taken and its queued preparation dropped in one step: a preparation of
    // this file still queued (moving the selection onto a file prepares it
    // again) would find nothing prepared and open it twice.
    QMutexLocker lock(&m_mutex);
    std::optional<PdfDocumentInfo> info = m_pool.takePrepared(path, candidate->docId);
    if (info)
        m_queue.dropPreparationOf(path);
    return info;
}

void PdfRenderService::close(quint64 docId, bool wait)
{
    if (docId == 0)
        return;
    RenderRequest::Close close{docId, wait ? std::make_shared<bool>(false) : nullptr};
    const RenderRequest::Waiter waiter = close.waiter;
    {
        QMutexLocker lock(&m_mutex);
        m_queue.dropDocument(docId);
    }
    m_pool.forgetFile(docId);
    post(std::move(close));
    if (waiter)
        waitFor(waiter);
}

void PdfRenderService::closeAll()
{
    RenderRequest::CloseAll closeAll{std::make_shared<bool>(false)};
    const RenderRequest::Waiter waiter = closeAll.waiter;
    {
        QMutexLocker lock(&m_mutex);
        m_queue.dropForCloseAll();
    }
    m_pool.forgetAll();
    post(std::move(closeAll));
    waitFor(waiter);
}

void PdfRenderService::requestPages(quint64 docId, Group group, const QList<PageRequest> &pages)
{
    QMutexLocker lock(&m_mutex);
    m_queue.dropPages(docId, group);
    int rank = 0;
    for (const PageRequest &page : pages)
        m_queue.push(RenderRequest::Page{docId, group, rank++, page});
    m_wake.wakeOne();
}

void PdfRenderService::requestOutline(quint64 docId)
{
    post(RenderRequest::Outline{docId});
}

void PdfRenderService::requestLinks(quint64 docId, int page)
{
    post(RenderRequest::Links{docId, page});
}

void PdfRenderService::requestSearch(quint64 docId, const QString &text)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queue.dropSearch(docId);
    }
    post(RenderRequest::Search{docId, text});
}

void PdfRenderService::requestSelection(quint64 docId, int page, const QPointF &from, const QPointF &to)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queue.dropSelection(docId);
    }
    post(RenderRequest::Selection{docId, page, from, to});
}

void PdfRenderService::prepare(const QStringList &paths, const FirstPage &first)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queue.dropPreparation();
    }
    post(RenderRequest::TrimPrepared{paths});
    for (const QString &path : paths)
        post(RenderRequest::Prepare{path, first});
}

void PdfRenderService::holdPreparation(bool held)
{
    QMutexLocker lock(&m_mutex);
    const bool released = m_queue.preparationHeld() && !held;
    m_queue.holdPreparation(held);
    // The worker is woken only when held preparation waits in the queue.
    if (released && m_queue.hasPreparation())
        m_wake.wakeOne();
}

void PdfRenderService::queueFilePictures(const QStringList &paths, int box, bool onScreen)
{
    if (paths.isEmpty() || box <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    for (const QString &path : paths)
        m_queue.push(RenderRequest::FilePicture{path, box, onScreen});
    m_filePictureWake.wakeOne();
}

QStringList PdfRenderService::cancelFilePictures()
{
    QMutexLocker lock(&m_mutex);
    return m_queue.dropFilePictures();
}

std::optional<PageKey> PdfRenderService::keyFor(quint64 docId, int page, const QSize &pixelSize, qreal dpr,
                                                int rotation) const
{
    const std::optional<PageFile> file = m_pool.fileOf(docId);
    if (!file)
        return std::nullopt;
    return PageKey::of(*file, PageRequest{page, pixelSize, dpr, rotation});
}

void PdfRenderService::runWorker()
{
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    for (;;) {
        std::optional<RenderRequest::Any> request;
        {
            QMutexLocker lock(&m_mutex);
            while (!m_stop && !(request = m_queue.take(RenderQueue::Lane::Worker))) {
                // Idle: requests dropped from the queue may have been all
                // that held the file pictures back.
                m_filePictureWake.wakeOne();
                m_wake.wait(&m_mutex);
            }
            if (m_stop)
                break;
            m_workerBusy = true;
            if (std::holds_alternative<RenderRequest::CloseAll>(*request)) {
                // Every file is let go of when this returns: the file picture
                // under way (it started while the worker was idle) ends first.
                while (m_filePictureBusy)
                    m_doneCond.wait(&m_mutex);
            }
        }
        serve(*request);
        // An open reports its own failure in its answer.
        const quint64 docId = std::holds_alternative<RenderRequest::Open>(*request) ? 0 : RenderRequest::docIdOf(*request);
        if (DocumentPool::Document *doc = docId ? m_pool.find(docId) : nullptr;
            doc && !doc->failureReported && doc->engine->failed()) {
            doc->failureReported = true;
            emit documentFailed(docId);
        }
        QMutexLocker lock(&m_mutex);
        m_workerBusy = false;
        if (const RenderRequest::Waiter waiter = RenderRequest::waiterOf(*request)) {
            *waiter = true;
            m_doneCond.wakeAll();
        }
        if (!m_queue.hasWorkerRequest())
            m_filePictureWake.wakeOne();
    }
    m_pool.clearEngines();
}

void PdfRenderService::runFilePictures()
{
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    for (;;) {
        std::optional<RenderRequest::Any> request;
        {
            QMutexLocker lock(&m_mutex);
            for (;;) {
                if (m_stop)
                    break;
                // Only while the worker is idle and nothing waits for it.
                if (!m_workerBusy && !m_queue.hasWorkerRequest())
                    request = m_queue.take(RenderQueue::Lane::FilePictures);
                if (request)
                    break;
                m_filePictureWake.wait(&m_mutex);
            }
            if (m_stop)
                break;
            m_filePictureBusy = true;
        }
        const auto &picture = std::get<RenderRequest::FilePicture>(*request);
        const qint64 mtime = fileMtimeMs(picture.path);
        const QImage image = mtime ? renderFilePicture(m_engines, picture.path, picture.box) : QImage();
        emit filePictureRendered(picture.path, mtime, picture.box, image);
        QMutexLocker lock(&m_mutex);
        m_filePictureBusy = false;
        m_doneCond.wakeAll();
    }
}

void PdfRenderService::serve(const RenderRequest::Any &request)
{
    std::visit([this](const auto &r) { serve(r); }, request);
}

void PdfRenderService::serve(const RenderRequest::Open &open)
{
    // Read before any lock: the UI thread takes them on every request.
    const qint64 mtime = fileMtimeMs(open.path);
    const PageFile file{open.path, mtime};
    std::optional<PdfDocumentInfo> adopted;
    if (open.password.isEmpty())
        adopted = m_pool.adoptPrepared(file, open.docId);
    // The first page is rendered before the answer goes out, so that the
    // view finds it in the cache and both arrive in one wake-up.  The
    // engine draws it as it opens the file (one exchange with a helper
    // process instead of two) unless the cache may have it already.
    QImage firstImage;
    PageKey firstKey;
    PdfDocumentInfo info;
    if (adopted) {
        info = *adopted;
    } else {
        const bool drawAhead = open.first.wanted() && !m_cache.containsPageOf(open.path, mtime, 0);
        info = m_pool.open(open.docId, open.path, open.password, mtime, DocumentPool::Sizes::FirstOnly, open.first,
                           drawAhead ? &firstImage : nullptr);
    }
    if (info.ok())
        firstImage = renderFirst(info, open.first, &firstKey, std::move(firstImage));
    m_pool.failIfBroken(info);
    emit opened(info);
    if (!firstImage.isNull())
        emit pageRendered(open.docId, 0, firstKey, firstImage);
    if (!adopted && info.pageCount() > 1)
        post(RenderRequest::Measure{open.docId});
}

void PdfRenderService::serve(const RenderRequest::Measure &measure)
{
    DocumentPool::Document *doc = m_pool.find(measure.docId);
    if (!doc)
        return;
    const int count = doc->engine->pageCount();
    const int end = qMin(count, int(doc->sizes.size()) + sizesPerRequest);
    while (doc->sizes.size() < end)
        doc->sizes << doc->engine->pageSize(int(doc->sizes.size()));
    if (end < count)
        post(measure);
    else
        emit pageSizesReady(measure.docId, doc->sizes);
}

void PdfRenderService::serve(const RenderRequest::Page &page)
{
    DocumentPool::Document *doc = m_pool.find(page.docId);
    if (!doc)
        return;
    PageKey key;
    const QImage img = renderCached(*doc, page.page, &key);
    // A page the engine cannot draw is answered too (with a null image),
    // so that the view stops waiting for it.
    emit pageRendered(page.docId, page.page.page, key, img);
}

void PdfRenderService::serve(const RenderRequest::Outline &outline)
{
    if (DocumentPool::Document *doc = m_pool.find(outline.docId))
        emit outlineReady(outline.docId, doc->engine->outline());
}

void PdfRenderService::serve(const RenderRequest::Links &links)
{
    if (DocumentPool::Document *doc = m_pool.find(links.docId))
        emit linksReady(links.docId, links.page, doc->engine->links(links.page));
}

void PdfRenderService::serve(const RenderRequest::Search &search)
{
    if (DocumentPool::Document *doc = m_pool.find(search.docId))
        emit searchReady(search.docId, search.text, doc->engine->search(search.text));
}

void PdfRenderService::serve(const RenderRequest::Selection &selection)
{
    DocumentPool::Document *doc = m_pool.find(selection.docId);
    if (!doc)
        return;
    QList<QPolygonF> bounds;
    const QString text = doc->engine->selectText(selection.page, selection.from, selection.to, &bounds);
    emit selectionReady(selection.docId, selection.page, bounds, text);
}

void PdfRenderService::serve(const RenderRequest::Close &close)
{
    m_pool.close(close.docId);
}

void PdfRenderService::serve(const RenderRequest::CloseAll &)
{
    m_pool.closeAll();
}

void PdfRenderService::serve(const RenderRequest::Prepare &prepare)
{
    const PageFile file{prepare.path, fileMtimeMs(prepare.path)};
    if (m_pool.isPrepared(file))
        return;
    PdfDocumentInfo info =
        m_pool.open(m_pool.newDocId(), file.path, QString(), file.mtimeMs, DocumentPool::Sizes::All);
    if (info.ok())
        renderFirst(info, prepare.first, nullptr);
    m_pool.failIfBroken(info);
    // A later preparation that no longer names this file closes it through
    // its own trim step, queued behind this one.
    if (info.ok())
        m_pool.keepPrepared(info);
    emit prepared(prepare.path, info.ok());
}

void PdfRenderService::serve(const RenderRequest::TrimPrepared &trim)
{
    m_pool.trimPrepared(trim.keep);
}

QImage PdfRenderService::renderFirst(const PdfDocumentInfo &info, const FirstPage &first, PageKey *key,
                                     QImage drawn)
{
    DocumentPool::Document *doc = m_pool.find(info.docId);
    if (!doc)
        return {};
    PageRequest req;
    req.page = 0;
    req.dpr = first.dpr;
    req.rotation = first.rotation();
    req.pixelSize = first.pixelsFor(info.pageSizes);
    if (req.pixelSize.isEmpty())
        return {};
    return renderCached(*doc, req, key, std::move(drawn));
}

QImage PdfRenderService::renderCached(DocumentPool::Document &doc, const PageRequest &req, PageKey *keyOut,
                                      QImage drawn)
{
    const PageKey key = PageKey::of(doc.file, req);
    if (keyOut)
        *keyOut = key;
    QImage img = m_cache.find(key);
    if (img.isNull()) {
        // A drawn page comes in alone (moved): setting the pixel ratio on an
        // image with another copy alive would copy all its pixels.
        img = drawn.size() == req.pixelSize ? std::move(drawn)
                                            : doc.engine->render(req.page, req.pixelSize, req.rotation);
        if (!img.isNull()) {
            img.setDevicePixelRatio(req.dpr);
            m_cache.insert(key, img, doc.engine->memoryOf(img));
        }
    }
    return img;
}
