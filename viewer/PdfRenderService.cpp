#include "viewer/PdfRenderService.h"

#include "viewer/PageLayout.h"

#include "base/ImageFit.h"

#include <QFileInfo>
#include <QtMath>

#include <algorithm>

namespace {
// Lower runs first.
constexpr int closePriority = 0;
constexpr int openPriority = 1;
// After the pages in sight, before anything else: the layout waits for them.
constexpr int sizesPriority = 19;
// Pages measured per job, so that page requests get in between on a long document.
constexpr int sizesPerJob = 32;
constexpr int textPriority = 20;
constexpr int preparePriority = 50;
constexpr int thumbnailPriority = 60;

bool isPreparation(const auto &job)
{
    return job.priority == preparePriority;
}
} // namespace

PdfRenderService::PdfRenderService(qint64 cacheBytes, EngineFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory)), m_cache(cacheBytes)
{
    qRegisterMetaType<PdfDocumentInfo>();
    qRegisterMetaType<PageKey>();
    qRegisterMetaType<QList<PdfOutlineEntry>>();
    qRegisterMetaType<QList<PdfLinkInfo>>();
    qRegisterMetaType<QList<PdfSearchHit>>();
    qRegisterMetaType<QList<QPolygonF>>();
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("pdf-render"));
    m_thread->start();
    m_thumbnailThread.reset(QThread::create([this] { runThumbnails(); }));
    m_thumbnailThread->setObjectName(QStringLiteral("pdf-thumbnails"));
    m_thumbnailThread->start();
}

PdfRenderService::~PdfRenderService()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_queue.clear();
        m_wake.wakeAll();
        m_thumbnailWake.wakeAll();
    }
    m_thread->wait();
    m_thumbnailThread->wait();
    m_docs.clear();
}

qint64 PdfRenderService::fileMtimeMs(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() ? fi.lastModified().toMSecsSinceEpoch() : 0;
}

void PdfRenderService::post(Job job)
{
    QMutexLocker lock(&m_mutex);
    job.seq = ++m_seq;
    const bool wake = !held(job); // a held request has nothing to wake the worker for
    m_queue.push_back(std::move(job));
    if (wake)
        m_wake.wakeOne();
}

bool PdfRenderService::held(const Job &job) const
{
    return m_preparationHeld && isPreparation(job);
}

quint64 PdfRenderService::open(const QString &path, const QString &password, const FirstPage &first)
{
    quint64 id;
    {
        QMutexLocker lock(&m_mutex);
        id = m_nextDocId++;
        // A pending preparation of the same file would only open it twice.
        dropQueuedPreparation(path);
    }
    Job job{JobType::Open};
    job.priority = openPriority;
    job.docId = id;
    job.path = path;
    job.text = password;
    job.first = first;
    post(std::move(job));
    return id;
}

std::optional<PdfDocumentInfo> PdfRenderService::adoptPrepared(const QString &path)
{
    // Most opens find nothing prepared; only a hit is worth a stat, and that
    // stat is kept out of the lock the worker needs.
    quint64 candidate = 0;
    qint64 preparedMtime = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_prepared.constFind(path);
        if (it == m_prepared.cend() || !it->info.ok())
            return std::nullopt;
        candidate = it->info.docId;
        preparedMtime = it->info.mtimeMs;
    }
    if (fileMtimeMs(path) != preparedMtime)
        return std::nullopt;
    QMutexLocker lock(&m_mutex);
    auto it = m_prepared.find(path);
    if (it == m_prepared.end() || it->info.docId != candidate)
        return std::nullopt;
    PdfDocumentInfo info = it->info;
    m_prepared.erase(it);
    // A preparation of this file still queued (moving the selection onto a
    // file prepares it again) would find nothing prepared and open it twice.
    dropQueuedPreparation(path);
    return info;
}

void PdfRenderService::dropQueuedPreparation(const QString &path)
{
    std::erase_if(m_queue, [&](const Job &j) { return j.type == JobType::Prepare && j.path == path; });
}

void PdfRenderService::close(quint64 docId, bool wait)
{
    if (docId == 0)
        return;
    Job job{JobType::Close};
    job.priority = closePriority;
    job.docId = docId;
    if (wait)
        job.done = std::make_shared<bool>(false);
    auto done = job.done;
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_queue, [&](const Job &j) { return j.docId == docId && j.type != JobType::Close; });
        m_docFiles.remove(docId);
    }
    post(std::move(job));
    if (done) {
        QMutexLocker lock(&m_mutex);
        while (!*done)
            m_doneCond.wait(&m_mutex);
    }
}

void PdfRenderService::closeAll()
{
    Job job{JobType::CloseAll};
    job.priority = closePriority;
    job.done = std::make_shared<bool>(false);
    auto done = job.done;
    {
        QMutexLocker lock(&m_mutex);
        // Thumbnails belong to no document and stay queued.
        std::erase_if(m_queue, [](const Job &j) {
            return j.type != JobType::Close && j.type != JobType::CloseAll && j.type != JobType::Thumbnail;
        });
        m_prepared.clear();
        m_docFiles.clear();
    }
    post(std::move(job));
    QMutexLocker lock(&m_mutex);
    while (!*done)
        m_doneCond.wait(&m_mutex);
}

void PdfRenderService::requestPages(quint64 docId, Group group, const QList<PageRequest> &pages)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_queue, [&](const Job &j) {
        return j.type == JobType::Render && j.docId == docId && j.group == int(group);
    });
    int order = 0;
    for (const PageRequest &req : pages) {
        Job job{JobType::Render};
        job.priority = int(group) + qMin(order++, 9);
        job.docId = docId;
        job.group = int(group);
        job.page = req;
        job.seq = ++m_seq;
        m_queue.push_back(std::move(job));
    }
    m_wake.wakeOne();
}

void PdfRenderService::requestOutline(quint64 docId)
{
    Job job{JobType::Outline};
    job.priority = textPriority;
    job.docId = docId;
    post(std::move(job));
}

void PdfRenderService::requestLinks(quint64 docId, int page)
{
    Job job{JobType::Links};
    job.priority = textPriority;
    job.docId = docId;
    job.page.page = page;
    post(std::move(job));
}

void PdfRenderService::requestSearch(quint64 docId, const QString &text)
{
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_queue, [&](const Job &j) { return j.type == JobType::Search && j.docId == docId; });
    }
    Job job{JobType::Search};
    job.priority = textPriority + 1;
    job.docId = docId;
    job.text = text;
    post(std::move(job));
}

void PdfRenderService::requestSelection(quint64 docId, int page, const QPointF &from, const QPointF &to)
{
    {
        QMutexLocker lock(&m_mutex);
        // Only the latest drag position matters.
        std::erase_if(m_queue, [&](const Job &j) { return j.type == JobType::Selection && j.docId == docId; });
    }
    Job job{JobType::Selection};
    job.priority = textPriority;
    job.docId = docId;
    job.page.page = page;
    job.from = from;
    job.to = to;
    post(std::move(job));
}

void PdfRenderService::prepare(const QStringList &paths, const FirstPage &first)
{
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_queue, [](const Job &j) {
            return j.type == JobType::Prepare || j.type == JobType::TrimPrepared;
        });
    }
    Job trim{JobType::TrimPrepared};
    trim.priority = preparePriority;
    trim.keep = paths;
    post(std::move(trim));
    for (const QString &path : paths) {
        Job job{JobType::Prepare};
        job.priority = preparePriority;
        job.path = path;
        job.first = first;
        post(std::move(job));
    }
}

void PdfRenderService::holdPreparation(bool held)
{
    QMutexLocker lock(&m_mutex);
    const bool released = m_preparationHeld && !held;
    m_preparationHeld = held;
    // The worker is woken only when held preparation waits in the queue.
    if (released && std::any_of(m_queue.cbegin(), m_queue.cend(), [](const Job &j) { return isPreparation(j); }))
        m_wake.wakeOne();
}

void PdfRenderService::queueThumbnails(const QStringList &paths, int box, bool onScreen)
{
    if (paths.isEmpty() || box <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    for (const QString &path : paths) {
        Job job{JobType::Thumbnail};
        job.priority = thumbnailPriority + (onScreen ? 0 : 1);
        job.path = path;
        job.page.pixelSize = QSize(box, box);
        job.seq = ++m_seq;
        m_queue.push_back(std::move(job));
    }
    m_thumbnailWake.wakeOne();
}

QStringList PdfRenderService::cancelThumbnails()
{
    QStringList dropped;
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_queue, [&dropped](const Job &j) {
        if (j.type != JobType::Thumbnail)
            return false;
        dropped << j.path;
        return true;
    });
    return dropped;
}

std::optional<PageKey> PdfRenderService::keyFor(quint64 docId, int page, const QSize &pixelSize, qreal dpr,
                                                int rotation) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_docFiles.find(docId);
    if (it == m_docFiles.end())
        return std::nullopt;
    PageKey key;
    key.path = it->first;
    key.mtimeMs = it->second;
    key.page = page;
    key.pixelSize = pixelSize;
    key.dprMilli = qRound(dpr * 1000);
    key.rotation = rotation & 3;
    return key;
}

namespace {
bool runsBefore(const auto &a, const auto &b)
{
    return a.priority != b.priority ? a.priority < b.priority : a.seq < b.seq;
}
} // namespace

std::vector<PdfRenderService::Job>::iterator PdfRenderService::firstQueued(bool thumbnail)
{
    auto next = m_queue.end();
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
        if ((it->type == JobType::Thumbnail) == thumbnail && !held(*it)
            && (next == m_queue.end() || runsBefore(*it, *next)))
            next = it;
    return next;
}

bool PdfRenderService::hasForegroundJob() const
{
    return std::any_of(m_queue.cbegin(), m_queue.cend(), [](const Job &j) { return j.type != JobType::Thumbnail; });
}

void PdfRenderService::run()
{
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    for (;;) {
        Job job{JobType::Close};
        {
            QMutexLocker lock(&m_mutex);
            auto next = m_queue.end();
            for (;;) {
                if (m_stop)
                    break;
                next = firstQueued(false);
                if (next != m_queue.end())
                    break;
                // Idle: requests dropped from the queue may have been all
                // that held the thumbnails back.
                m_thumbnailWake.wakeOne();
                m_wake.wait(&m_mutex);
            }
            if (m_stop)
                break;
            job = std::move(*next);
            m_queue.erase(next);
            m_workerBusy = true;
            if (job.type == JobType::CloseAll) {
                // Every file is let go of when this returns: the thumbnail
                // under way (it started while the worker was idle) ends first.
                while (m_thumbnailBusy)
                    m_doneCond.wait(&m_mutex);
            }
        }
        execute(job);
        if (Doc *doc = job.type == JobType::Open ? nullptr : docFor(job.docId);
            doc && !doc->failureReported && doc->engine->failed()) {
            doc->failureReported = true;
            emit documentFailed(job.docId);
        }
        QMutexLocker lock(&m_mutex);
        m_workerBusy = false;
        if (job.done) {
            *job.done = true;
            m_doneCond.wakeAll();
        }
        if (!hasForegroundJob())
            m_thumbnailWake.wakeOne();
    }
    m_docs.clear();
}

void PdfRenderService::runThumbnails()
{
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    for (;;) {
        Job job{JobType::Thumbnail};
        {
            QMutexLocker lock(&m_mutex);
            auto next = m_queue.end();
            for (;;) {
                if (m_stop)
                    break;
                // Only while the worker is idle and nothing waits for it.
                next = !m_workerBusy && !hasForegroundJob() ? firstQueued(true) : m_queue.end();
                if (next != m_queue.end())
                    break;
                m_thumbnailWake.wait(&m_mutex);
            }
            if (m_stop)
                break;
            job = std::move(*next);
            m_queue.erase(next);
            m_thumbnailBusy = true;
        }
        const qint64 mtime = fileMtimeMs(job.path);
        const int box = job.page.pixelSize.width();
        const QImage image = mtime ? renderThumbnail(job.path, box) : QImage();
        emit thumbnailRendered(job.path, mtime, box, image);
        QMutexLocker lock(&m_mutex);
        m_thumbnailBusy = false;
        m_doneCond.wakeAll();
    }
}

PdfRenderService::Doc *PdfRenderService::docFor(quint64 docId)
{
    auto it = m_docs.find(docId);
    return it == m_docs.end() ? nullptr : it->second.get();
}

void PdfRenderService::closeDoc(quint64 docId)
{
    auto it = m_docs.find(docId);
    if (it != m_docs.end()) {
        it->second->engine->close();
        m_docs.erase(it);
    }
}

PdfDocumentInfo PdfRenderService::openInto(quint64 docId, const QString &path, const QString &password,
                                           qint64 mtimeMs, bool allSizes, const FirstPage &first, QImage *firstPage)
{
    PdfDocumentInfo info;
    info.docId = docId;
    info.path = path;
    info.mtimeMs = mtimeMs;
    auto doc = std::make_unique<Doc>();
    doc->engine = m_factory();
    doc->path = path;
    doc->mtimeMs = info.mtimeMs;
    info.status = firstPage ? doc->engine->openWithFirstPage(path, password, first, firstPage)
                            : doc->engine->open(path, password);
    if (info.ok()) {
        if (allSizes)
            info.pageSizes = doc->engine->pageSizes();
        else
            info.pageSizes = QList<QSizeF>(doc->engine->pageCount(), doc->engine->pageSize(0));
        info.title = doc->engine->title();
        m_docs[docId] = std::move(doc);
        QMutexLocker lock(&m_mutex);
        m_docFiles.insert(docId, {path, info.mtimeMs});
    }
    return info;
}

QImage PdfRenderService::renderCached(Doc &doc, const PageRequest &req, PageKey *keyOut, QImage drawn)
{
    PageKey key;
    key.path = doc.path;
    key.mtimeMs = doc.mtimeMs;
    key.page = req.page;
    key.pixelSize = req.pixelSize;
    key.dprMilli = qRound(req.dpr * 1000);
    key.rotation = req.rotation & 3;
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

void PdfRenderService::failIfBroken(PdfDocumentInfo &info)
{
    // A document that took its engine down cannot be shown.
    Doc *doc = info.ok() ? docFor(info.docId) : nullptr;
    if (!doc || !doc->engine->failed())
        return;
    info.status = PdfOpenStatus::Unreadable;
    info.pageSizes.clear();
    closeDoc(info.docId);
    QMutexLocker lock(&m_mutex);
    m_docFiles.remove(info.docId);
}

QImage PdfRenderService::renderThumbnail(const QString &path, int box)
{
    const std::unique_ptr<PdfEngine> engine = m_factory();
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

QImage PdfRenderService::renderFirst(const PdfDocumentInfo &info, const FirstPage &first, PageKey *key,
                                     QImage drawn)
{
    Doc *doc = docFor(info.docId);
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

void PdfRenderService::execute(Job &job)
{
    switch (job.type) {
    case JobType::Open: {
        PdfDocumentInfo info;
        bool adopted = false;
        // Read before the lock: the UI thread takes it on every request.
        const qint64 mtime = fileMtimeMs(job.path);
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_prepared.find(job.path);
            if (it != m_prepared.end() && it->info.ok() && it->info.mtimeMs == mtime && job.text.isEmpty()) {
                info = it->info;
                m_prepared.erase(it);
                adopted = true;
            }
        }
        if (adopted) {
            // The prepared engine now serves this request's id.
            auto node = m_docs.extract(info.docId);
            {
                QMutexLocker lock(&m_mutex);
                m_docFiles.remove(info.docId);
                m_docFiles.insert(job.docId, {info.path, info.mtimeMs});
            }
            info.docId = job.docId;
            if (!node.empty()) {
                node.key() = job.docId;
                m_docs.insert(std::move(node));
            }
        }
        // The first page is rendered before the answer goes out, so that the
        // view finds it in the cache and both arrive in one wake-up.  The
        // engine draws it as it opens the file (one exchange with a helper
        // process instead of two) unless the cache may have it already.
        QImage firstImage;
        PageKey firstKey;
        if (!adopted) {
            const bool drawAhead = job.first.wanted() && !m_cache.containsPageOf(job.path, mtime, 0);
            info = openInto(job.docId, job.path, job.text, mtime, false, job.first, drawAhead ? &firstImage : nullptr);
        }
        if (info.ok())
            firstImage = renderFirst(info, job.first, &firstKey, std::move(firstImage));
        failIfBroken(info);
        emit opened(info);
        if (!firstImage.isNull())
            emit pageRendered(job.docId, 0, firstKey, firstImage);
        if (!adopted && info.pageCount() > 1) {
            Job sizes{JobType::Sizes};
            sizes.priority = sizesPriority;
            sizes.docId = job.docId;
            post(std::move(sizes));
        }
        break;
    }
    case JobType::Sizes: {
        Doc *doc = docFor(job.docId);
        if (!doc)
            break;
        const int count = doc->engine->pageCount();
        const int end = qMin(count, int(doc->sizes.size()) + sizesPerJob);
        while (doc->sizes.size() < end)
            doc->sizes << doc->engine->pageSize(int(doc->sizes.size()));
        if (end < count)
            post(std::move(job));
        else
            emit pageSizesReady(job.docId, doc->sizes);
        break;
    }
    case JobType::Close:
        closeDoc(job.docId);
        break;
    case JobType::CloseAll:
        {
            QMutexLocker lock(&m_mutex);
            m_prepared.clear();
            m_docFiles.clear();
        }
        for (auto &entry : m_docs)
            entry.second->engine->close();
        m_docs.clear();
        break;
    case JobType::Render: {
        Doc *doc = docFor(job.docId);
        if (!doc)
            break;
        PageKey key;
        const QImage img = renderCached(*doc, job.page, &key);
        // A page the engine cannot draw is answered too (with a null image),
        // so that the view stops waiting for it.
        emit pageRendered(job.docId, job.page.page, key, img);
        break;
    }
    case JobType::Outline:
        if (Doc *doc = docFor(job.docId))
            emit outlineReady(job.docId, doc->engine->outline());
        break;
    case JobType::Links:
        if (Doc *doc = docFor(job.docId))
            emit linksReady(job.docId, job.page.page, doc->engine->links(job.page.page));
        break;
    case JobType::Search:
        if (Doc *doc = docFor(job.docId))
            emit searchReady(job.docId, job.text, doc->engine->search(job.text));
        break;
    case JobType::Selection:
        if (Doc *doc = docFor(job.docId)) {
            QList<QPolygonF> bounds;
            const QString text = doc->engine->selectText(job.page.page, job.from, job.to, &bounds);
            emit selectionReady(job.docId, job.page.page, bounds, text);
        }
        break;
    case JobType::TrimPrepared: {
        QList<quint64> drop;
        {
            QMutexLocker lock(&m_mutex);
            for (auto it = m_prepared.begin(); it != m_prepared.end();) {
                if (!job.keep.contains(it.key())) {
                    drop << it->info.docId;
                    it = m_prepared.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (quint64 id : drop) {
            closeDoc(id);
            QMutexLocker lock(&m_mutex);
            m_docFiles.remove(id);
        }
        break;
    }
    case JobType::Thumbnail:
        break; // made on the thumbnail thread
    case JobType::Prepare: {
        const qint64 mtime = fileMtimeMs(job.path);
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_prepared.find(job.path);
            if (it != m_prepared.end() && it->info.mtimeMs == mtime)
                break;
        }
        quint64 id;
        {
            QMutexLocker lock(&m_mutex);
            id = m_nextDocId++;
        }
        PdfDocumentInfo info = openInto(id, job.path, QString(), mtime, true);
        if (info.ok())
            renderFirst(info, job.first, nullptr);
        failIfBroken(info);
        if (info.ok()) {
            // A later preparation that no longer names this file closes it
            // through its own trim step, queued behind this one.
            QList<quint64> replaced;
            {
                QMutexLocker lock(&m_mutex);
                auto old = m_prepared.find(job.path);
                if (old != m_prepared.end()) {
                    replaced << old->info.docId;
                    m_docFiles.remove(old->info.docId);
                    m_prepared.erase(old);
                }
                m_prepared.insert(job.path, Prepared{info});
            }
            for (quint64 oldId : replaced)
                closeDoc(oldId);
        }
        emit prepared(job.path, info.ok());
        break;
    }
    }
}
