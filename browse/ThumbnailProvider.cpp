#include "browse/ThumbnailProvider.h"

#include "viewer/PdfRenderService.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

namespace {
// Look-ups go before writes on the I/O thread: they decide what is shown.
constexpr int lookupPriority = 1;
constexpr int writePriority = 0;
} // namespace

ThumbnailProvider::ThumbnailProvider(PdfRenderService &service, ThumbnailCache::Environment env, qint64 memoryBytes,
                                     QObject *parent)
    : QObject(parent),
      m_cache(std::make_shared<const ThumbnailCache>(std::move(env))),
      m_service(&service),
      m_io(std::make_unique<QThreadPool>()),
      m_generation(std::make_shared<std::atomic<quint64>>(0)),
      m_answerInFlight(std::make_shared<std::atomic<bool>>(false)),
      m_restTimer(new QTimer(this)),
      m_memory(memoryBytes)
{
    // A timer rather than a queued call: it fires after the paint that the
    // visible files' answers asked for.
    m_restTimer->setSingleShot(true);
    m_restTimer->setInterval(0);
    connect(m_restTimer, &QTimer::timeout, this, &ThumbnailProvider::takeUpRest);
    m_io->setMaxThreadCount(1);
    m_io->setObjectName(QStringLiteral("thumbnail-io"));
    // The thread stays for the provider's life and is there before the first
    // wish: the look-ups of a screenful start without a thread being made.
    m_io->setExpiryTimeout(-1);
    m_io->start([] {});
    connect(m_service, &PdfRenderService::filePictureRendered, this, &ThumbnailProvider::onRendered);
}

ThumbnailProvider::~ThumbnailProvider()
{
    ++*m_generation;
    if (m_service)
        m_service->cancelFilePictures();
    m_io->clear();
    m_io->waitForDone();
}

PdfRenderService *ThumbnailProvider::renderService() const
{
    return m_service;
}

void ThumbnailProvider::setPixelSize(int pixels)
{
    m_pixels = qMax(1, pixels);
    m_flavor = ThumbnailCache::flavorFor(m_pixels);
}

void ThumbnailProvider::request(const QStringList &visible, const QStringList &rest)
{
    requestVisibleFirst(visible, [&rest] { return rest; });
}

void ThumbnailProvider::requestVisibleFirst(const QStringList &visible, const std::function<QStringList()> &rest)
{
    ++*m_generation;
    m_pendingLookups = 0;
    // Renders not begun are dropped and queued again in the new order; the
    // one under way stays pending.
    if (m_service) {
        for (const QString &path : m_service->cancelFilePictures())
            m_pendingRenders.remove(path);
    } else {
        m_pendingRenders.clear();
    }
    m_visible = QSet<QString>(visible.cbegin(), visible.cend());
    m_wanted = m_visible;
    m_screenPhase = true;
    m_restTimer->stop();

    QList<LookupItem> lookups;
    RenderBatch renders;
    for (const QString &path : visible)
        consider(path, true, lookups, renders);
    m_wasBusy = true;
    flushRenders(renders);
    postLookups(std::move(lookups));
    m_rest = rest ? rest() : QStringList();
    sendLater();
    checkIdle();
}

void ThumbnailProvider::consider(const QString &path, bool isVisible, QList<LookupItem> &lookups,
                                 RenderBatch &renders)
{
    if (m_pendingRenders.contains(path))
        return;
    const auto f = m_files.constFind(path);
    const FileState *fs = f == m_files.cend() ? nullptr : &*f;
    const Memory *mem = m_memory.peek(path);
    const bool haveImage = mem && int(mem->flavor) >= int(m_flavor);
    LookupItem item;
    item.path = path;
    item.decode = isVisible;
    if (!fs || !fs->checked) {
        // Checked again by the modification time: a picture in memory, or
        // a failure, stays when the file has not changed.
        if (haveImage) {
            item.knownMtimeMs = mem->mtimeMs;
            item.knownSize = mem->size;
        } else if (fs && fs->known == Known::Failed) {
            item.knownMtimeMs = fs->source.mtimeMs;
            item.knownSize = fs->source.size;
        }
        lookups << item;
        return;
    }
    switch (fs->known) {
    case Known::Failed:
        return;
    case Known::OnDisk:
    case Known::Unchecked:
        if (!haveImage && isVisible)
            lookups << item;
        return;
    case Known::NeedsRender:
        if (haveImage || (!isVisible && !m_diskWritable))
            return;
        addRender(path, fs->source, renders);
        return;
    }
}

void ThumbnailProvider::takeUpRest()
{
    m_screenPhase = false;
    const QStringList rest = std::exchange(m_rest, {});
    m_wanted.reserve(m_wanted.size() + rest.size());
    for (const QString &path : rest)
        m_wanted.insert(path);
    // What is known of files no longer listed goes (the pictures stay in
    // memory under its budget): the bookkeeping never outgrows one folder.
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (!m_wanted.contains(it.key()) && !m_pendingRenders.contains(it.key()))
            it = m_files.erase(it);
        else
            ++it;
    }
    QList<LookupItem> lookups;
    RenderBatch renders;
    for (const QString &path : rest)
        consider(path, false, lookups, renders);
    flushRenders(renders);
    postLookups(std::move(lookups));
    checkIdle();
}

void ThumbnailProvider::cancel()
{
    ++*m_generation;
    m_pendingLookups = 0;
    m_rest.clear();
    m_screenPhase = false;
    m_restTimer->stop();
    if (m_service) {
        for (const QString &path : m_service->cancelFilePictures())
            m_pendingRenders.remove(path);
    }
    m_visible.clear();
    m_wanted.clear();
    checkIdle();
}

void ThumbnailProvider::recheck()
{
    for (FileState &fs : m_files)
        fs.checked = false;
}

QImage ThumbnailProvider::thumbnail(const QString &path)
{
    const Memory *mem = m_memory.find(path);
    return mem ? mem->image : QImage();
}

bool ThumbnailProvider::isSettled(const QString &path) const
{
    const Memory *mem = m_memory.peek(path);
    if (mem && int(mem->flavor) >= int(m_flavor))
        return true;
    return hasFailed(path);
}

bool ThumbnailProvider::hasFailed(const QString &path) const
{
    const auto it = m_files.constFind(path);
    return it != m_files.cend() && it->known == Known::Failed;
}

void ThumbnailProvider::waitForWrites()
{
    releaseWrites();
    m_io->waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

void ThumbnailProvider::postLookups(QList<LookupItem> items)
{
    if (items.isEmpty())
        return;
    m_pendingLookups += int(items.size());
    const quint64 generation = *m_generation;
    m_io->start(
        [this, items = std::move(items), generation, cache = m_cache, current = m_generation, flavor = m_flavor,
         inFlight = m_answerInFlight] {
            // Answers go back in batches: a picture on screen at once while
            // the UI thread has taken the answer before (else with the next
            // one), the rest every so many, so that a whole folder is not one
            // event each.
            QList<LookupResult> batch;
            auto send = [&] {
                if (batch.isEmpty())
                    return;
                inFlight->store(true);
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, inFlight, batch = std::move(batch)] {
                        inFlight->store(false);
                        onLookedUp(generation, batch);
                    },
                    Qt::QueuedConnection);
                batch = {};
            };
            ThumbnailCache::Reader reader(*cache);
            for (const LookupItem &item : items) {
                if (current->load() != generation)
                    return; // a newer wish replaced this one
                LookupResult r;
                r.path = item.path;
                r.source = ThumbnailCache::sourceOf(item.path);
                if (r.source.exists && r.source.mtimeMs == item.knownMtimeMs && r.source.size == item.knownSize) {
                    r.unchanged = true;
                } else if (r.source.exists) {
                    ThumbnailCache::Lookup found = reader.lookup(r.source, flavor, item.decode);
                    r.state = found.state;
                    r.image = std::move(found.image);
                    r.flavor = found.flavor;
                }
                batch << std::move(r);
                if ((item.decode && !inFlight->load()) || batch.size() >= 64)
                    send();
            }
            send();
        },
        lookupPriority);
}

void ThumbnailProvider::onLookedUp(quint64 generation, const QList<LookupResult> &results)
{
    if (generation != *m_generation)
        return;
    RenderBatch renders;
    for (const LookupResult &r : results)
        lookedUp(r, renders);
    flushRenders(renders);
    sendLater();
    checkIdle();
}

void ThumbnailProvider::lookedUp(const LookupResult &r, RenderBatch &renders)
{
    --m_pendingLookups;
    ++m_counters.lookups;
    if (!r.source.exists) {
        forget(r.path);
        m_files.remove(r.path);
        emit thumbnailReady(r.path);
        return;
    }
    FileState &fs = m_files[r.path];
    fs.checked = true;
    if (r.unchanged) {
        if (fs.known == Known::Unchecked)
            fs.known = Known::OnDisk;
        fs.source = r.source;
        return;
    }
    fs.source = r.source;
    // The file is not what the picture in memory showed.
    const Memory *mem = m_memory.peek(r.path);
    if (mem && (mem->mtimeMs != r.source.mtimeMs || mem->size != r.source.size))
        forget(r.path);
    switch (r.state) {
    case ThumbnailCache::State::Valid:
        fs.known = Known::OnDisk;
        ++m_counters.reused;
        if (!r.image.isNull()) {
            remember(r.path, r.image, r.flavor, r.source, m_visible.contains(r.path));
            emit thumbnailReady(r.path);
        }
        break;
    case ThumbnailCache::State::Failed:
        fs.known = Known::Failed;
        forget(r.path);
        emit thumbnailReady(r.path);
        break;
    case ThumbnailCache::State::Missing:
    case ThumbnailCache::State::Stale:
        fs.known = Known::NeedsRender;
        if (m_visible.contains(r.path) || m_diskWritable)
            addRender(r.path, r.source, renders);
        break;
    }
}

bool ThumbnailProvider::screenAnswered() const
{
    if (m_screenPhase && m_pendingLookups > 0)
        return false; // the look-ups under way are the visible files'
    for (auto it = m_pendingRenders.cbegin(); it != m_pendingRenders.cend(); ++it)
        if (m_visible.contains(it.key()))
            return false;
    return true;
}

void ThumbnailProvider::write(std::function<void()> job)
{
    // Encoding and writing wait while the screen's pictures are being made:
    // they would take the processor from them.
    if (screenAnswered())
        m_io->start(std::move(job), writePriority);
    else
        m_heldWrites.push_back(std::move(job));
}

void ThumbnailProvider::releaseWrites()
{
    for (auto &job : std::exchange(m_heldWrites, {}))
        m_io->start(std::move(job), writePriority);
}

void ThumbnailProvider::sendLater()
{
    if (!screenAnswered())
        return;
    releaseWrites();
    if (m_screenPhase && !m_restTimer->isActive())
        m_restTimer->start();
}

void ThumbnailProvider::addRender(const QString &path, const ThumbnailCache::Source &source, RenderBatch &renders)
{
    if (!m_service || m_pendingRenders.contains(path))
        return;
    m_pendingRenders.insert(path, {source, m_flavor});
    ++m_counters.rendered;
    (m_visible.contains(path) ? renders.onScreen : renders.others) << path;
}

void ThumbnailProvider::flushRenders(const RenderBatch &renders)
{
    if (!m_service)
        return;
    const int box = ThumbnailCache::flavorPixels(m_flavor);
    m_service->queueFilePictures(renders.onScreen, box, true);
    m_service->queueFilePictures(renders.others, box, false);
}

void ThumbnailProvider::onRendered(const QString &path, qint64 mtimeMs, int box, const QImage &image)
{
    auto it = m_pendingRenders.find(path);
    // Another user of the render service, or a flavor left since.
    if (it == m_pendingRenders.end() || ThumbnailCache::flavorPixels(it->flavor) != box)
        return;
    const PendingRender pending = *it;
    m_pendingRenders.erase(it);
    const ThumbnailCache::Source &source = pending.source;
    if (mtimeMs != source.mtimeMs) {
        // Changed since it was looked up: look again.
        m_files.remove(path);
        if (wants(path)) {
            LookupItem item;
            item.path = path;
            item.decode = m_visible.contains(path);
            postLookups({item});
        }
        checkIdle();
        return;
    }
    FileState &fs = m_files[path];
    fs.source = source;
    fs.checked = true;
    const bool settled = m_cache->isSettled(source);
    if (image.isNull()) {
        fs.known = Known::Failed;
        forget(path);
        if (settled) {
            write([this, cache = m_cache, source] {
                const bool ok = cache->storeFailure(source);
                QMetaObject::invokeMethod(
                    this, [this, ok] { ok ? ++m_counters.failuresWritten : ++m_counters.writeFailures; },
                    Qt::QueuedConnection);
            });
        }
    } else {
        // A file written this very second keeps its picture in memory only:
        // the cache's whole-second time could not tell a later change.
        fs.known = settled ? Known::OnDisk : Known::NeedsRender;
        remember(path, image, pending.flavor, source, m_visible.contains(path));
        if (settled) {
            write([this, cache = m_cache, source, flavor = pending.flavor, image] {
                const bool ok = cache->store(source, flavor, image);
                QMetaObject::invokeMethod(
                    this,
                    [this, ok, path = source.path] {
                        m_diskWritable = ok;
                        if (ok) {
                            ++m_counters.written;
                            return;
                        }
                        ++m_counters.writeFailures;
                        // Not on disk after all: made again if it leaves memory.
                        auto f = m_files.find(path);
                        if (f != m_files.end() && f->known == Known::OnDisk)
                            f->known = Known::NeedsRender;
                    },
                    Qt::QueuedConnection);
            });
        }
    }
    emit thumbnailReady(path);
    sendLater();
    if (pending.flavor != m_flavor && wants(path)) {
        // Made for the size before the last change: now the right one.
        LookupItem item;
        item.path = path;
        item.decode = m_visible.contains(path);
        postLookups({item});
    }
    checkIdle();
}

void ThumbnailProvider::remember(const QString &path, const QImage &image, ThumbnailCache::Flavor flavor,
                                 const ThumbnailCache::Source &source, bool evict)
{
    Memory mem;
    mem.image = image;
    mem.flavor = flavor;
    mem.mtimeMs = source.mtimeMs;
    mem.size = source.size;
    // Pictures off screen take only the room that is free.
    m_memory.insert(path, std::move(mem), image.sizeInBytes(),
                    evict ? sheafline::ByteLru<QString, Memory>::Room::Evict
                          : sheafline::ByteLru<QString, Memory>::Room::OnlyIfFree);
}

void ThumbnailProvider::forget(const QString &path)
{
    m_memory.remove(path);
}

void ThumbnailProvider::checkIdle()
{
    const bool busy = isBusy();
    if (m_wasBusy && !busy) {
        m_wasBusy = false;
        emit idle();
    }
    m_wasBusy = m_wasBusy || busy;
}
