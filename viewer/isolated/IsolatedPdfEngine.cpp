#include "viewer/isolated/IsolatedPdfEngine.h"

#include "viewer/isolated/PageBuffers.h"
#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QSize>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using RenderProtocol::Op;

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

class IsolatedPdfEngine final : public PdfEngine
{
public:
    explicit IsolatedPdfEngine(RenderHelper &helper) : m_helper(helper), m_buffers(*helper.pageBuffers()) {}
    ~IsolatedPdfEngine() override { close(); }

    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        return openWithFirstPage(path, password, {}, nullptr);
    }

    PdfOpenStatus openWithFirstPage(const QString &path, const QString &password, const PdfFirstPage &first,
                                    QImage *firstPage) override
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
        return openFd(fd, password, first, firstPage);
    }

    PdfOpenStatus openDescriptor(int fd, const QString &password) override
    {
        return openFd(fd, password, {}, nullptr);
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        {
            QMutexLocker lock(&m_helper.mutex());
            if (m_open && !m_failed && m_helper.generation() == m_generation)
                m_helper.post(RenderProtocol::write(quint8(Op::Close), m_handle));
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

    // A first page may be far smaller than the buffer it came in.
    qint64 memoryOf(const QImage &page) const override
    {
        return qMax(page.sizeInBytes(), qint64(m_buffers.bufferUnder(page.constBits())));
    }

    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        if (page < 0 || page >= m_sizes.size() || pixelSize.isEmpty())
            return {};
        const qint64 bytes = qint64(pixelSize.width()) * pixelSize.height() * 4;
        if (bytes > RenderProtocol::maxPageBytes)
            return {};
        PageBuffers::Buffer buffer = m_buffers.take(size_t(bytes));
        if (buffer.fd < 0)
            return {};
        QByteArray answer;
        QSize drawn;
        if (request(Op::Render, RenderProtocol::write(qint32(page), pixelSize, qint32(rotation)), {buffer.fd},
                    &answer)) {
            Answer a(answer);
            a.s >> drawn;
        }
        if (drawn != pixelSize) {
            m_buffers.give(buffer);
            return {};
        }
        // The page stays where the helper drew it.
        return m_buffers.image(buffer, drawn);
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
            m_sizes[page + i] = usablePageSize(sizes.at(i));
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

    // Takes the descriptor over and opens its document in the helper, with
    // the first page when `first` wants it and firstPage is given.
    PdfOpenStatus openFd(int fd, const QString &password, const PdfFirstPage &first, QImage *firstPage)
    {
        close();
        m_fd = fd;
        m_password = password;
        m_failed = false;
        QMutexLocker lock(&m_helper.mutex());
        PdfOpenStatus status = PdfOpenStatus::Unreadable;
        const PdfFirstPage *drawFirst = firstPage && first.wanted() ? &first : nullptr;
        if (!m_helper.ensureRunning() || !openInHelper(&status, drawFirst, firstPage)
            || status != PdfOpenStatus::Ok) {
            lock.unlock();
            close();
        }
        return status;
    }

    // Opens the document in the running helper (the caller holds its lock).
    // With `first` (and then firstPage), the helper draws the first page into
    // a buffer sized for the last first page drawn; one that does not fit is
    // left to render().
    bool openInHelper(PdfOpenStatus *status, const PdfFirstPage *first = nullptr, QImage *firstPage = nullptr)
    {
        RenderHelper &helper = m_helper;
        m_handle = helper.nextHandle();
        m_generation = helper.generation();
        PageBuffers::Buffer buffer;
        if (first) {
            // Room for a Letter or A4 page and for one like the last, with a
            // quarter to spare: nearly every first page fits.
            const QSize letter = first->pixelsFor({QSizeF(612, 792)});
            const qint64 guess = qMax<qint64>(m_buffers.lastFirstPageBytes, qint64(letter.width()) * letter.height() * 4);
            const size_t least = size_t(qBound<qint64>(4096, guess + guess / 4, RenderProtocol::maxPageBytes));
            buffer = m_buffers.take(least, least * 2);
        }
        QByteArray request = RenderProtocol::write(quint8(Op::Open), m_handle, m_password, buffer.fd >= 0);
        if (buffer.fd >= 0) {
            QDataStream s(&request, QIODevice::Append);
            s.setVersion(RenderProtocol::streamVersion);
            RenderProtocol::writeFirstPage(s, *first);
        }
        std::vector<int> fds{m_fd};
        if (buffer.fd >= 0)
            fds.push_back(buffer.fd);
        QByteArray answer;
        const bool answered = helper.call(request, fds, &answer);
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 st = qint32(PdfOpenStatus::Unreadable);
        qint32 count = 0;
        QSizeF firstSize;
        QString title;
        QSize drawn;
        s >> st >> count >> firstSize >> title >> drawn;
        *status = answered && s.status() == QDataStream::Ok ? PdfOpenStatus(st) : PdfOpenStatus::Unreadable;
        if (*status == PdfOpenStatus::Ok && (count <= 0 || count > RenderProtocol::maxPages))
            *status = PdfOpenStatus::Unreadable;
        if (!answered)
            m_failed = true; // the document took the helper down
        if (*status != PdfOpenStatus::Ok) {
            m_buffers.give(buffer);
            return false;
        }
        m_open = true;
        if (m_sizes.isEmpty()) {
            // The other pages are measured when first asked for.
            m_sizes = QList<QSizeF>(count);
            m_sizes[0] = usablePageSize(firstSize);
            m_title = title;
        }
        if (first) {
            // The image may not reach past the buffer, whatever the helper
            // says; a page of another size than the layout's is dropped by
            // the render queue.
            const qint64 drawnBytes = qint64(drawn.width()) * drawn.height() * 4;
            if (!drawn.isEmpty() && RenderProtocol::pageFits(drawnBytes, qint64(buffer.size))) {
                m_buffers.lastFirstPageBytes = drawnBytes;
                *firstPage = m_buffers.image(buffer, drawn);
                return true;
            }
            const QSize wanted = first->pixelsForOpened(count, m_sizes.at(0));
            m_buffers.lastFirstPageBytes = qint64(wanted.width()) * wanted.height() * 4;
        }
        m_buffers.give(buffer);
        return true;
    }

    // One request about the open document; false with an empty answer.
    bool request(Op op, const QByteArray &arguments, const std::vector<int> &fds, QByteArray *answer)
    {
        if (!m_open || m_failed)
            return false;
        RenderHelper &helper = m_helper;
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

    RenderHelper &m_helper;
    PageBuffers &m_buffers;
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

std::unique_ptr<PdfEngine> createIsolatedPdfEngine(RenderHelper &helper)
{
    return std::make_unique<IsolatedPdfEngine>(helper);
}
