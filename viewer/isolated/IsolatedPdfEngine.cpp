#include "viewer/isolated/IsolatedPdfEngine.h"

#include "viewer/isolated/PageBuffers.h"
#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QSize>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

namespace P = RenderProtocol;

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
                m_helper.post(P::encode(P::CloseRequest{m_handle}));
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
                self->measure(i, P::maxSizesPerAnswer);
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
        return draw(page, pixelSize, rotation, 0, 0);
    }

    // The helper draws the band alone: no more than the band's memory is
    // used on either side, whatever the page's size.
    QImage renderBand(int page, const QSize &pixelSize, int top, int rows) override
    {
        if (top < 0 || rows <= 0 || qint64(top) + rows > pixelSize.height())
            return {};
        return draw(page, pixelSize, 0, top, rows);
    }

    QList<PdfOutlineEntry> outline() override
    {
        P::OutlineAnswer answer;
        if (!ask(P::OutlineRequest{m_handle}, &answer))
            return {};
        // Targets the document does not have are none.
        for (PdfOutlineEntry &e : answer.entries)
            if (e.page >= m_sizes.size())
                e.page = -1;
        return answer.entries;
    }

    QList<PdfLinkInfo> links(int page) override
    {
        P::LinksAnswer answer;
        if (!ask(P::LinksRequest{m_handle, page}, &answer))
            return {};
        for (PdfLinkInfo &l : answer.links)
            if (l.page >= m_sizes.size())
                l.page = -1;
        return answer.links;
    }

    QList<PdfSearchHit> search(const QString &text) override
    {
        P::SearchAnswer answer;
        if (text.size() > P::maxRequestTextChars || !ask(P::SearchRequest{m_handle, text}, &answer))
            return {};
        QList<PdfSearchHit> hits;
        for (const PdfSearchHit &h : std::as_const(answer.hits))
            if (h.page < m_sizes.size())
                hits << h;
        return hits;
    }

    QString selectText(int page, const QPointF &from, const QPointF &to, QList<QPolygonF> *bounds) override
    {
        P::SelectionAnswer answer;
        if (!ask(P::SelectionRequest{m_handle, page, from, to}, &answer))
            return {};
        if (bounds)
            *bounds = answer.bounds;
        return answer.text;
    }

private:
    // Fetches the sizes of up to `batch` pages from `page` on.  A page whose
    // size the helper cannot tell (it went away) keeps the first page's size,
    // which stood in for it until now.
    void measure(int page, int batch)
    {
        batch = qMin(int(m_sizes.size()) - page, batch);
        P::SizesAnswer answer;
        ask(P::SizesRequest{m_handle, page, batch}, &answer);
        // No more than were asked for, whatever the answer holds.
        const qsizetype n = qMin<qsizetype>(answer.sizes.size(), batch);
        for (qsizetype i = 0; i < n; ++i)
            m_sizes[page + i] = usablePageSize(answer.sizes.at(i));
        if (n == 0)
            m_sizes[page] = m_sizes.at(0).isValid() ? m_sizes.at(0) : QSizeF(612, 792);
    }

    // A page, or rows top ... top + rows - 1 of it when rows > 0.
    QImage draw(int page, const QSize &pixelSize, int rotation, int top, int rows)
    {
        const QSize drawnSize = rows > 0 ? QSize(pixelSize.width(), rows) : pixelSize;
        const qint64 bytes = P::pageBytes(drawnSize);
        if (page < 0 || page >= m_sizes.size() || bytes <= 0)
            return {};
        PageBuffers::Buffer buffer = m_buffers.take(size_t(bytes));
        if (!buffer.valid())
            return {};
        P::RenderAnswer answer;
        const bool drawn = exchange(
                               [&](std::vector<int> *fds) {
                                   P::RenderRequest request{m_handle, page, pixelSize, rotation,
                                                            m_helper.refer(buffer, fds), m_helper.retired()};
                                   request.bandTop = top;
                                   request.bandRows = rows;
                                   return P::encode(request);
                               },
                               &answer)
                           && answer.drawn == drawnSize;
        if (!drawn) {
            m_buffers.give(buffer);
            return {};
        }
        // The page stays where the helper drew it.
        return m_buffers.image(buffer, drawnSize);
    }

    // Page sizes asked for in one request: the render queue measures as many
    // per turn.
    static constexpr int sizesPerRequest = 32;

    // One request about the open document, made with the handle it has in
    // the helper that serves it; true with the answer decoded.
    template <typename Request, typename Answer>
    bool ask(Request request, Answer *answer)
    {
        return exchange(
            [&](std::vector<int> *) {
                request.handle = m_handle;
                return P::encode(request);
            },
            answer);
    }

    // Sends the request `build` makes (it may attach descriptors) and decodes
    // the answer.  A helper that had gone away while idle is replaced and
    // the document opened in the new one, and the request made again; one
    // that goes away under the request fails the document.
    template <typename Build, typename Answer>
    bool exchange(const Build &build, Answer *answer)
    {
        if (!m_open || m_failed)
            return false;
        QMutexLocker lock(&m_helper.mutex());
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!m_helper.ensureRunning())
                return false;
            if (m_helper.generation() != m_generation) {
                // Another document took the last helper down: open this one again.
                PdfOpenStatus status;
                if (!openInHelper(&status)) {
                    m_failed = true;
                    return false;
                }
            }
            std::vector<int> fds;
            const QByteArray request = build(&fds);
            QByteArray body;
            bool gone = false;
            if (m_helper.call(request, fds, &body, &gone))
                return P::decode(body, answer);
            if (!gone)
                break;
        }
        m_failed = true;
        return false;
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
        if (!openInHelper(&status, drawFirst, firstPage) || status != PdfOpenStatus::Ok) {
            lock.unlock();
            close();
        }
        return status;
    }

    // Opens the document in a helper (starting one when needed; the caller
    // holds its lock).  With `first` (and then firstPage), the helper draws
    // the first page into a buffer sized for the last first page drawn; one
    // that does not fit is left to render().
    bool openInHelper(PdfOpenStatus *status, const PdfFirstPage *first = nullptr, QImage *firstPage = nullptr)
    {
        *status = PdfOpenStatus::Unreadable;
        PageBuffers::Buffer buffer;
        if (first) {
            // Room for a Letter or A4 page and for one like the last, with a
            // quarter to spare: nearly every first page fits.
            const QSize letter = first->pixelsFor({QSizeF(612, 792)});
            const qint64 guess = qMax<qint64>(m_buffers.lastFirstPageBytes, qint64(letter.width()) * letter.height() * 4);
            const size_t least = size_t(qBound<qint64>(4096, guess + guess / 4, P::maxPageBytes));
            buffer = m_buffers.take(least, least * 2);
        }
        P::OpenAnswer answer;
        bool answered = false;
        for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
            if (!m_helper.ensureRunning())
                break;
            m_handle = m_helper.nextHandle();
            m_generation = m_helper.generation();
            std::vector<int> fds{m_fd};
            P::OpenRequest request{m_handle, m_password, std::nullopt, {}, {}};
            if (buffer.valid()) {
                request.firstPage = *first;
                request.buffer = m_helper.refer(buffer, &fds);
                request.retired = m_helper.retired();
            }
            QByteArray body;
            bool gone = false;
            answered = m_helper.call(P::encode(request), fds, &body, &gone);
            if (answered) {
                if (!P::decode(body, &answer))
                    answer = P::OpenAnswer{};
            } else if (!gone) {
                m_failed = true; // the document took the helper down
                break;
            }
        }
        *status = answer.status;
        if (*status != PdfOpenStatus::Ok) {
            m_buffers.give(buffer);
            return false;
        }
        m_open = true;
        if (m_sizes.isEmpty()) {
            // The other pages are measured when first asked for.
            m_sizes = QList<QSizeF>(answer.pageCount);
            m_sizes[0] = usablePageSize(answer.firstPageSize);
            m_title = answer.title;
        }
        if (buffer.valid()) {
            // The image may not reach past the buffer, whatever the helper
            // says; a page of another size than the layout's is dropped by
            // the render queue.
            const qint64 drawnBytes = P::pageBytes(answer.drawn);
            if (P::pageFits(drawnBytes, qint64(buffer.size))) {
                m_buffers.lastFirstPageBytes = drawnBytes;
                *firstPage = m_buffers.image(buffer, answer.drawn);
                return true;
            }
            const QSize wanted = first->pixelsForOpened(answer.pageCount, m_sizes.at(0));
            m_buffers.lastFirstPageBytes = qint64(wanted.width()) * wanted.height() * 4;
        }
        m_buffers.give(buffer);
        return true;
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
