#pragma once

#include "base/ByteLru.h"
#include "browse/ThumbnailCache.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class PdfRenderService;
class QThreadPool;
class QTimer;

// The pictures of the file list's thumbnail style: first pages of PDF files,
// taken from the desktop's thumbnail cache when a valid one is there, else
// rendered by the render service (as background work, below the documents
// shown and prepared) and written to that cache.
//
// The UI thread never waits: cache look-ups, PNG decoding and encoding and
// writing run on one I/O thread of the provider's own; rendering runs on the
// render service's worker.  The pictures in memory are bounded in bytes, apart
// from the page cache.  When the cache cannot be written, the pictures live in
// memory only.
//
// Owned and called on the UI thread.  Signals: thumbnailReady() when a file's
// picture arrived (or it turned out that there will be none), idle() when
// every file asked for has been answered.
class ThumbnailProvider : public QObject
{
    Q_OBJECT
public:
    // `service` renders (not owned; it must outlive the provider): the
    // program's one render service, so that no picture is drawn anywhere
    // else.
    explicit ThumbnailProvider(PdfRenderService &service, ThumbnailCache::Environment env,
                               qint64 memoryBytes = 48ll * 1024 * 1024, QObject *parent = nullptr);
    ~ThumbnailProvider() override;

    // The side of the square the pictures are shown in, in device pixels; it
    // decides which of the cache's sizes is used.
    void setPixelSize(int pixels);
    int pixelSize() const { return m_pixels; }
    ThumbnailCache::Flavor flavor() const { return m_flavor; }

    // The files whose pictures are wanted: `visible` in view order first, then
    // `rest` in list order.  Replaces the earlier wish: work for files no
    // longer named, or not begun, is dropped (one render under way finishes).
    // The rest is taken up once the visible files are answered and the event
    // loop has come round (so their pictures are drawn first).  Files not
    // visible are checked and made, but kept in memory only while there is
    // room.
    void request(const QStringList &visible, const QStringList &rest);
    // The same, with the rest made only once the visible files' look-ups are
    // on their way: a long list takes a while to make.
    void requestVisibleFirst(const QStringList &visible, const std::function<QStringList()> &rest);
    // Drops all pending work (the style was left, the list went away).
    void cancel();
    // The files may have changed since they were last checked (the list was
    // filled again): each is checked again, by its modification time, on its
    // next request, and keeps its present picture until then.
    void recheck();

    // The picture of `path`, null while there is none.  May be of a smaller
    // size than asked for until the right one arrives.
    QImage thumbnail(const QString &path);
    // True when the picture of `path` at the present size is shown, or when
    // there will be none (the file cannot be rendered).
    bool isSettled(const QString &path) const;
    bool hasFailed(const QString &path) const;
    // Whether the present wish names `path`.
    bool wants(const QString &path) const
    {
        return m_wanted.contains(path) || (m_screenPhase && m_rest.contains(path));
    }
    // True while asked-for files are still being looked up or rendered.
    bool isBusy() const { return m_pendingLookups > 0 || m_screenPhase || !m_pendingRenders.isEmpty(); }

    const ThumbnailCache &cache() const { return *m_cache; }
    PdfRenderService *renderService() const;
    qint64 memoryBytes() const { return m_memory.usedBytes(); }
    qint64 memoryBudget() const { return m_memory.budgetBytes(); }

    // What has happened so far, for tests and the benchmark.
    struct Counters
    {
        int lookups = 0;        // files checked against the cache
        int reused = 0;         // valid thumbnails found in the cache
        int rendered = 0;       // renders asked of the render service
        int written = 0;        // thumbnails written to the cache
        int failuresWritten = 0;
        int writeFailures = 0;  // writes the cache refused
    };
    const Counters &counters() const { return m_counters; }
    // Waits for the I/O thread to finish what it has been given (tests).
    void waitForWrites();

signals:
    void thumbnailReady(const QString &path);
    void idle();

private:
    enum class Known { Unchecked, OnDisk, NeedsRender, Failed };
    struct FileState
    {
        Known known = Known::Unchecked;
        bool checked = false; // since the last recheck()
        ThumbnailCache::Source source;
    };
    struct PendingRender
    {
        ThumbnailCache::Source source;
        ThumbnailCache::Flavor flavor = ThumbnailCache::Flavor::Normal;
    };
    struct Memory
    {
        QImage image;
        ThumbnailCache::Flavor flavor = ThumbnailCache::Flavor::Normal;
        qint64 mtimeMs = 0;
        qint64 size = -1;
    };
    struct LookupItem
    {
        QString path;
        bool decode = false;
        qint64 knownMtimeMs = 0; // of the picture in memory, to skip unchanged files
        qint64 knownSize = -1;
    };
    struct LookupResult
    {
        QString path;
        ThumbnailCache::Source source;
        ThumbnailCache::State state = ThumbnailCache::State::Missing;
        QImage image;
        ThumbnailCache::Flavor flavor = ThumbnailCache::Flavor::Normal;
        bool unchanged = false; // the picture in memory is still right
    };
    struct RenderBatch
    {
        QStringList onScreen;
        QStringList others;
    };

    void postLookups(QList<LookupItem> items);
    // What `path` needs: a look-up, a render, or nothing.
    void consider(const QString &path, bool isVisible, QList<LookupItem> &lookups, RenderBatch &renders);
    void onLookedUp(quint64 generation, const QList<LookupResult> &results);
    void lookedUp(const LookupResult &result, RenderBatch &renders);
    void onRendered(const QString &path, qint64 mtimeMs, int box, const QImage &image);
    void addRender(const QString &path, const ThumbnailCache::Source &source, RenderBatch &renders);
    void flushRenders(const RenderBatch &renders);
    // Once nothing visible waits: the rest of the wish after the next turn
    // of the event loop.
    void sendLater();
    void takeUpRest();
    // Whether every visible file has been answered.
    bool screenAnswered() const;
    // Encodes and writes on the I/O thread, once the screen is answered.
    void write(std::function<void()> job);
    void releaseWrites();
    void remember(const QString &path, const QImage &image, ThumbnailCache::Flavor flavor,
                  const ThumbnailCache::Source &source, bool evict);
    void forget(const QString &path);
    void checkIdle();

    std::shared_ptr<const ThumbnailCache> m_cache;
    QPointer<PdfRenderService> m_service;
    std::unique_ptr<QThreadPool> m_io;
    std::shared_ptr<std::atomic<quint64>> m_generation;
    // An answer of the I/O thread is waiting for the UI thread.
    std::shared_ptr<std::atomic<bool>> m_answerInFlight;

    int m_pixels = 128;
    ThumbnailCache::Flavor m_flavor = ThumbnailCache::Flavor::Normal;
    QSet<QString> m_visible;
    QSet<QString> m_wanted;
    QHash<QString, FileState> m_files;
    int m_pendingLookups = 0;
    QStringList m_rest;        // files off screen not yet taken up, in list order
    bool m_screenPhase = false; // the visible files of a wish are being answered; the rest waits
    QTimer *m_restTimer;
    std::vector<std::function<void()>> m_heldWrites;
    QHash<QString, PendingRender> m_pendingRenders;
    bool m_wasBusy = false;
    bool m_diskWritable = true;

    sheafline::ByteLru<QString, Memory> m_memory; // by path

    Counters m_counters;
};
