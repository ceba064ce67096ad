#include "viewer/isolated/IsolatedPdfEngine.h"

#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>

#include <atomic>
#include <mutex>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using RenderProtocol::Op;

Q_LOGGING_CATEGORY(lcEngine, "sheafline.render")

// SHEAFLINE_RENDER_ENGINE=inprocess starts with the in-process engine.
std::atomic<PdfEngineChoice> g_choice{qEnvironmentVariable("SHEAFLINE_RENDER_ENGINE") == QLatin1String("inprocess")
                                          ? PdfEngineChoice::InProcess
                                          : PdfEngineChoice::Isolated};

// Reads an answer past its leading "done" byte.
struct Answer
{
    explicit Answer(const QByteArray &answer) : s(answer)
    {
        s.setVersion(RenderProtocol::streamVersion);
        quint8 done = 0;
        s >> done;
    }
    QDataStream s;
};

// Shared memory for drawn pages.  Buffers whose image the program has let go
// of are kept for the next pages: a fresh buffer costs both processes an
// allocation of each of its memory pages, a kept one only the copy.
class PageBuffers
{
public:
    struct Buffer
    {
        int fd = -1;
        void *map = nullptr; // the program's mapping; null until drawn into
        size_t size = 0;
    };

    static PageBuffers &instance()
    {
        static PageBuffers buffers;
        return buffers;
    }

    // A kept buffer of at least `bytes` (and not much more), or a new one.
    Buffer take(size_t bytes)
    {
        {
            QMutexLocker lock(&m_mutex);
            auto best = m_free.end();
            for (auto it = m_free.begin(); it != m_free.end(); ++it)
                if (it->size >= bytes && it->size <= bytes * 2 && (best == m_free.end() || it->size < best->size))
                    best = it;
            if (best != m_free.end()) {
                const Buffer b = *best;
                m_kept -= b.size;
                m_free.erase(best);
                return b;
            }
        }
        Buffer b;
        b.fd = memfd_create("sheafline-page", MFD_CLOEXEC);
        if (b.fd >= 0 && ftruncate(b.fd, off_t(bytes)) != 0) {
            ::close(b.fd);
            b.fd = -1;
        }
        b.size = bytes;
        return b;
    }

    // Maps a new buffer once the helper has drawn into it, all pages at once.
    static bool map(Buffer &b)
    {
        if (b.map)
            return true;
        void *m = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, b.fd, 0);
        b.map = m == MAP_FAILED ? nullptr : m;
        return b.map != nullptr;
    }

    // Takes a buffer back (any thread): kept while the pool is small.
    void give(const Buffer &b)
    {
        if (b.fd < 0)
            return;
        {
            QMutexLocker lock(&m_mutex);
            if (b.map && m_free.size() < maxBuffers && m_kept + b.size <= maxKeptBytes) {
                m_free.push_back(b);
                m_kept += b.size;
                return;
            }
        }
        if (b.map)
            munmap(b.map, b.size);
        ::close(b.fd);
    }

private:
    static constexpr size_t maxBuffers = 6;
    static constexpr size_t maxKeptBytes = 32u << 20;
    QMutex m_mutex;
    std::vector<Buffer> m_free;
    size_t m_kept = 0;
};

void releaseBuffer(void *info)
{
    auto *b = static_cast<PageBuffers::Buffer *>(info);
    PageBuffers::instance().give(*b);
    delete b;
}

class IsolatedPdfEngine final : public PdfEngine
{
public:
    ~IsolatedPdfEngine() override { close(); }

    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        close();
        const QFileInfo fi(path);
        if (!fi.exists())
            return PdfOpenStatus::NotFound;
        if (!fi.isFile())
            return PdfOpenStatus::Unreadable;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return PdfOpenStatus::Unreadable;
        return openDescriptor(fd, password);
    }

    PdfOpenStatus openDescriptor(int fd, const QString &password) override
    {
        close();
        m_fd = fd;
        m_password = password;
        m_failed = false;
        QMutexLocker lock(&RenderHelper::instance().mutex());
        PdfOpenStatus status = PdfOpenStatus::Unreadable;
        if (!RenderHelper::instance().ensureRunning() || !openInHelper(&status) || status != PdfOpenStatus::Ok) {
            lock.unlock();
            close();
        }
        return status;
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        RenderHelper &helper = RenderHelper::instance();
        {
            QMutexLocker lock(&helper.mutex());
            if (m_open && !m_failed && helper.generation() == m_generation)
                helper.post(RenderProtocol::write(quint8(Op::Close), m_handle));
        }
        ::close(m_fd);
        m_fd = -1;
        m_open = false;
        m_sizes.clear();
        m_title.clear();
        m_password.clear();
    }

    bool failed() const override { return m_failed; }

    QList<QSizeF> pageSizes() const override
    {
        auto *self = const_cast<IsolatedPdfEngine *>(this);
        for (int i = 0; i < m_sizes.size(); ++i)
            if (!m_sizes.at(i).isValid())
                self->measure(i, RenderProtocol::maxSizesPerAnswer);
        return m_sizes;
    }

    int pageCount() const override { return int(m_sizes.size()); }

    // Pages are measured in the helper a batch at a time, when first asked for.
    QSizeF pageSize(int page) const override
    {
        if (page < 0 || page >= m_sizes.size())
            return {};
        if (!m_sizes.at(page).isValid())
            const_cast<IsolatedPdfEngine *>(this)->measure(page, sizesPerRequest);
        return m_sizes.at(page);
    }

    QString title() const override { return m_title; }

    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        if (page < 0 || page >= m_sizes.size() || pixelSize.isEmpty())
            return {};
        const qint64 bytes = qint64(pixelSize.width()) * pixelSize.height() * 4;
        if (bytes > RenderProtocol::maxPageBytes)
            return {};
        PageBuffers::Buffer buffer = PageBuffers::instance().take(size_t(bytes));
        if (buffer.fd < 0)
            return {};
        QByteArray answer;
        bool ok = request(Op::Render, RenderProtocol::write(qint32(page), pixelSize, qint32(rotation)), {buffer.fd},
                          &answer);
        QSize drawn;
        if (ok) {
            Answer a(answer);
            a.s >> drawn;
            ok = drawn == pixelSize && PageBuffers::map(buffer);
        }
        if (!ok) {
            PageBuffers::instance().give(buffer);
            return {};
        }
        // The page stays where the helper drew it; the image hands the buffer
        // back when its last copy goes.
        return QImage(static_cast<uchar *>(buffer.map), drawn.width(), drawn.height(), drawn.width() * 4,
                      QImage::Format_RGB32, releaseBuffer, new PageBuffers::Buffer(buffer));
    }

    QList<PdfOutlineEntry> outline() override
    {
        return requestList<PdfOutlineEntry>(Op::Outline, {}, [](QDataStream &s) {
            PdfOutlineEntry e;
            qint32 level = 0, page = -1;
            s >> e.title >> level >> page >> e.location;
            e.level = level;
            e.page = page;
            return e;
        });
    }

    QList<PdfLinkInfo> links(int page) override
    {
        return requestList<PdfLinkInfo>(Op::Links, RenderProtocol::write(qint32(page)), [](QDataStream &s) {
            PdfLinkInfo l;
            qint32 target = -1;
            s >> l.rect >> target >> l.location >> l.url;
            l.page = target;
            return l;
        });
    }

    QList<PdfSearchHit> search(const QString &text) override
    {
        return requestList<PdfSearchHit>(Op::Search, RenderProtocol::write(text), [](QDataStream &s) {
            PdfSearchHit h;
            qint32 page = 0;
            s >> page;
            RenderProtocol::readList(s, &h.rects, maxListEntries);
            h.page = page;
            return h;
        });
    }

    QString selectText(int page, const QPointF &from, const QPointF &to, QList<QPolygonF> *bounds) override
    {
        QByteArray answer;
        if (!request(Op::Selection, RenderProtocol::write(qint32(page), from, to), {}, &answer))
            return {};
        Answer a(answer);
        QDataStream &s = a.s;
        QString text;
        QList<QPolygonF> polys;
        s >> text;
        if (!RenderProtocol::readList(s, &polys, maxListEntries))
            return {};
        if (bounds)
            *bounds = polys;
        return text;
    }

private:
    // Most entries of one list in an answer.
    static constexpr qsizetype maxListEntries = 1 << 20;

    // A page size from the helper, as the in-process engine gives it: a page
    // without a usable size still gets a place on screen.
    static QSizeF usable(const QSizeF &s)
    {
        const auto ok = [](qreal v) { return v > 0.5 && v < 1e6; }; // false for NaN too
        return ok(s.width()) && ok(s.height()) ? s : QSizeF(612, 792);
    }

    // Fetches the sizes of up to `batch` pages from `page` on.  A page whose
    // size the helper cannot tell (it went away) keeps the first page's size,
    // which stood in for it until now.
    void measure(int page, int batch)
    {
        batch = qMin(int(m_sizes.size()) - page, batch);
        QByteArray answer;
        QList<QSizeF> sizes;
        if (request(Op::Sizes, RenderProtocol::write(qint32(page), qint32(batch)), {}, &answer)) {
            Answer a(answer);
            RenderProtocol::readList(a.s, &sizes, batch);
        }
        for (qsizetype i = 0; i < sizes.size(); ++i)
            m_sizes[page + i] = usable(sizes.at(i));
        if (sizes.isEmpty())
            m_sizes[page] = m_sizes.at(0).isValid() ? m_sizes.at(0) : QSizeF(612, 792);
    }

    // Page sizes asked for in one request: the render queue measures as many
    // per turn.
    static constexpr int sizesPerRequest = 32;

    // Asks for a counted list and reads each entry with readOne; a failed
    // request or a short answer gives what was read so far.
    template <typename T, typename ReadOne>
    QList<T> requestList(Op op, const QByteArray &arguments, ReadOne readOne)
    {
        QList<T> out;
        QByteArray answer;
        if (!request(op, arguments, {}, &answer))
            return out;
        Answer a(answer);
        qint32 n = 0;
        a.s >> n;
        for (qint32 i = 0; i < n && a.s.status() == QDataStream::Ok; ++i)
            out << readOne(a.s);
        return out;
    }

    // Opens the document in the running helper (the caller holds its lock).
    bool openInHelper(PdfOpenStatus *status)
    {
        RenderHelper &helper = RenderHelper::instance();
        m_handle = helper.nextHandle();
        m_generation = helper.generation();
        QByteArray answer;
        if (!helper.call(RenderProtocol::write(quint8(Op::Open), m_handle, m_password), {m_fd}, &answer)) {
            // The document took the helper down.
            m_failed = true;
            *status = PdfOpenStatus::Unreadable;
            return false;
        }
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 st = qint32(PdfOpenStatus::Unreadable);
        qint32 count = 0;
        QSizeF first;
        QString title;
        s >> st >> count >> first >> title;
        *status = s.status() == QDataStream::Ok ? PdfOpenStatus(st) : PdfOpenStatus::Unreadable;
        if (*status == PdfOpenStatus::Ok && (count <= 0 || count > RenderProtocol::maxPages))
            *status = PdfOpenStatus::Unreadable;
        if (*status != PdfOpenStatus::Ok)
            return false;
        m_open = true;
        if (m_sizes.isEmpty()) {
            // The other pages are measured when first asked for.
            m_sizes = QList<QSizeF>(count);
            m_sizes[0] = usable(first);
            m_title = title;
        }
        return true;
    }

    // One request about the open document; false with an empty answer.
    bool request(Op op, const QByteArray &arguments, const std::vector<int> &fds, QByteArray *answer)
    {
        if (!m_open || m_failed)
            return false;
        RenderHelper &helper = RenderHelper::instance();
        QMutexLocker lock(&helper.mutex());
        if (!helper.ensureRunning())
            return false;
        if (helper.generation() != m_generation) {
            // Another document took the last helper down: open this one again.
            PdfOpenStatus status;
            if (!openInHelper(&status)) {
                m_failed = true;
                return false;
            }
        }
        // The handle is the one of the helper that serves the request.
        if (!helper.call(RenderProtocol::write(quint8(op), m_handle) + arguments, fds, answer)) {
            m_failed = true;
            return false;
        }
        return !answer->isEmpty() && answer->at(0) == 1;
    }

    int m_fd = -1;
    QString m_password;
    bool m_open = false;
    bool m_failed = false;
    quint32 m_handle = 0;
    quint64 m_generation = 0;
    QList<QSizeF> m_sizes; // invalid until measured
    QString m_title;
};

} // namespace

std::unique_ptr<PdfEngine> createIsolatedPdfEngine()
{
    return std::make_unique<IsolatedPdfEngine>();
}

void setPdfEngineChoice(PdfEngineChoice choice)
{
    g_choice = choice;
}

PdfEngineChoice pdfEngineChoice()
{
    return g_choice;
}

PdfEngineFactoryFn pdfEngineFactory()
{
    if (g_choice == PdfEngineChoice::Isolated) {
        static const bool present = !RenderHelper::helperPath().isEmpty();
        if (present)
            return &createIsolatedPdfEngine;
        static std::once_flag said;
        std::call_once(said, [] { qCWarning(lcEngine, "sheafline-render is missing: documents are drawn in-process"); });
    }
    return &createQtPdfEngine;
}
