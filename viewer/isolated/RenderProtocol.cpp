#include "viewer/isolated/RenderProtocol.h"

#include <QUrl>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace RenderProtocol {

namespace {

constexpr qsizetype headerBytes = 2 * sizeof(quint32);
// What one read asks for when the message's size is not known yet: room for
// every message but the rare large list.
constexpr qsizetype readChunk = 64 << 10;

// ---- writing ----

class Writer
{
public:
    explicit Writer(quint8 first) : m_s(&m_out, QIODevice::WriteOnly)
    {
        m_s.setVersion(streamVersion);
        m_s << first;
    }
    Writer(Op op) : Writer(quint8(op)) {}
    QDataStream &s() { return m_s; }
    QByteArray take() const { return m_out; }

private:
    QByteArray m_out;
    QDataStream m_s;
};

// An answer the helper carried out.
Writer answer()
{
    return Writer(quint8(1));
}

void writeBuffer(QDataStream &s, const PageBufferRef &b)
{
    s << b.id << b.attached;
}

// ---- reading ----

class Reader
{
public:
    // Expects the body to start with `first`.
    Reader(QByteArrayView body, quint8 first)
        : m_bytes(QByteArray::fromRawData(body.data(), body.size())), m_s(m_bytes)
    {
        m_s.setVersion(streamVersion);
        quint8 got = 0;
        m_s >> got;
        if (got != first)
            fail();
    }
    Reader(QByteArrayView body, Op op) : Reader(body, quint8(op)) {}
    QDataStream &s() { return m_s; }
    void fail() { m_s.setStatus(QDataStream::ReadCorruptData); }
    void require(bool ok)
    {
        if (!ok)
            fail();
    }
    bool ok() const { return m_s.status() == QDataStream::Ok; }
    // Every field read, in range, and nothing left over.
    bool whole() const { return ok() && m_s.atEnd(); }
    qint64 bytesLeft() const { return m_s.device()->bytesAvailable(); }

private:
    QByteArray m_bytes;
    QDataStream m_s;
};

Reader answerReader(QByteArrayView body)
{
    return Reader(body, quint8(1));
}

bool readText(Reader &r, QString *text, qsizetype maxChars)
{
    r.s() >> *text;
    r.require(text->size() <= maxChars);
    return r.ok();
}

bool readBuffer(Reader &r, PageBufferRef *b)
{
    r.s() >> b->id >> b->attached;
    // An attached buffer has an id.
    r.require(!b->attached || b->id != 0);
    return r.ok();
}

bool readRetired(Reader &r, QList<quint32> *ids)
{
    if (!readList(r.s(), ids, maxRetiredPerRequest))
        r.fail();
    return r.ok();
}

// A counted list whose entries readOne reads (false to refuse one): a count
// above maxCount, or above what the rest of the message could hold at
// leastEntryBytes each, is refused before anything is reserved.
template <typename T, typename ReadOne>
bool readEntries(Reader &r, QList<T> *out, qint64 leastEntryBytes, ReadOne readOne)
{
    out->clear();
    quint32 n = 0;
    r.s() >> n;
    r.require(qint64(n) <= maxListEntries && qint64(n) * leastEntryBytes <= r.bytesLeft());
    if (!r.ok())
        return false;
    out->reserve(qsizetype(n));
    for (quint32 i = 0; i < n && r.ok(); ++i) {
        T entry;
        r.require(readOne(entry));
        out->append(std::move(entry));
    }
    if (!r.ok())
        out->clear();
    return r.ok();
}

// A drawn page's size: none (QSize()) or a page that fits in shared memory.
bool drawnSizeOk(const QSize &drawn, bool noneAllowed)
{
    if (drawn == QSize())
        return noneAllowed;
    return drawn.width() > 0 && drawn.height() > 0 && pageBytes(drawn) > 0;
}

} // namespace

qint64 pageBytes(const QSize &pixels)
{
    if (pixels.width() <= 0 || pixels.height() <= 0)
        return -1;
    const qint64 bytes = qint64(pixels.width()) * pixels.height() * 4;
    return bytes <= maxPageBytes ? bytes : -1;
}

std::optional<Op> opOf(QByteArrayView request)
{
    if (request.isEmpty())
        return std::nullopt;
    const quint8 op = quint8(request.at(0));
    if ((op >= quint8(Op::Open) && op <= quint8(Op::Ping)) || op == quint8(Op::Probe))
        return Op(op);
    return std::nullopt;
}

// ---- requests ----

QByteArray encode(const OpenRequest &m)
{
    Writer w(Op::Open);
    w.s() << m.handle << m.password << m.firstPage.has_value();
    if (m.firstPage)
        writeFirstPage(w.s(), *m.firstPage);
    writeBuffer(w.s(), m.buffer);
    w.s() << m.retired;
    return w.take();
}

bool decode(QByteArrayView body, OpenRequest *m)
{
    Reader r(body, Op::Open);
    bool first = false;
    r.s() >> m->handle;
    readText(r, &m->password, maxRequestTextChars);
    r.s() >> first;
    m->firstPage.reset();
    if (first && r.ok()) {
        PdfFirstPage page;
        if (readFirstPage(r.s(), &page)) {
            m->firstPage = page;
        } else if (r.s().status() == QDataStream::ReadCorruptData) {
            // A layout out of range was read whole: only the page is left out.
            r.s().resetStatus();
        }
    }
    readBuffer(r, &m->buffer);
    readRetired(r, &m->retired);
    return r.whole();
}

QByteArray encode(const CloseRequest &m)
{
    Writer w(Op::Close);
    w.s() << m.handle;
    return w.take();
}

bool decode(QByteArrayView body, CloseRequest *m)
{
    Reader r(body, Op::Close);
    r.s() >> m->handle;
    return r.whole();
}

QByteArray encode(const SizesRequest &m)
{
    Writer w(Op::Sizes);
    w.s() << m.handle << m.first << m.count;
    return w.take();
}

bool decode(QByteArrayView body, SizesRequest *m)
{
    Reader r(body, Op::Sizes);
    r.s() >> m->handle >> m->first >> m->count;
    r.require(m->first >= 0 && m->count > 0);
    return r.whole();
}

QByteArray encode(const RenderRequest &m)
{
    Writer w(Op::Render);
    w.s() << m.handle << m.page << m.pixels << m.rotation;
    writeBuffer(w.s(), m.buffer);
    w.s() << m.retired << m.bandTop << m.bandRows;
    return w.take();
}

bool decode(QByteArrayView body, RenderRequest *m)
{
    Reader r(body, Op::Render);
    r.s() >> m->handle >> m->page >> m->pixels >> m->rotation;
    readBuffer(r, &m->buffer);
    readRetired(r, &m->retired);
    r.s() >> m->bandTop >> m->bandRows;
    if (m->bandRows == 0) {
        r.require(m->page >= 0 && pageBytes(m->pixels) > 0 && m->bandTop == 0);
    } else {
        // A band of a page of any sensible size, unturned, inside the page.
        r.require(m->page >= 0 && m->rotation == 0 && m->pixels.width() > 0 && m->pixels.height() > 0
                  && m->pixels.width() <= maxBandedSide && m->pixels.height() <= maxBandedSide && m->bandTop >= 0
                  && m->bandRows > 0 && qint64(m->bandTop) + m->bandRows <= m->pixels.height()
                  && pageBytes(m->drawnSize()) > 0);
    }
    return r.whole();
}

QByteArray encode(const OutlineRequest &m)
{
    Writer w(Op::Outline);
    w.s() << m.handle;
    return w.take();
}

bool decode(QByteArrayView body, OutlineRequest *m)
{
    Reader r(body, Op::Outline);
    r.s() >> m->handle;
    return r.whole();
}

QByteArray encode(const LinksRequest &m)
{
    Writer w(Op::Links);
    w.s() << m.handle << m.page;
    return w.take();
}

bool decode(QByteArrayView body, LinksRequest *m)
{
    Reader r(body, Op::Links);
    r.s() >> m->handle >> m->page;
    return r.whole();
}

QByteArray encode(const SearchRequest &m)
{
    Writer w(Op::Search);
    w.s() << m.handle << m.text;
    return w.take();
}

bool decode(QByteArrayView body, SearchRequest *m)
{
    Reader r(body, Op::Search);
    r.s() >> m->handle;
    readText(r, &m->text, maxRequestTextChars);
    return r.whole();
}

QByteArray encode(const SelectionRequest &m)
{
    Writer w(Op::Selection);
    w.s() << m.handle << m.page << m.from << m.to;
    return w.take();
}

bool decode(QByteArrayView body, SelectionRequest *m)
{
    Reader r(body, Op::Selection);
    r.s() >> m->handle >> m->page >> m->from >> m->to;
    return r.whole();
}

QByteArray encode(const PingRequest &)
{
    return Writer(Op::Ping).take();
}

bool decode(QByteArrayView body, PingRequest *)
{
    return Reader(body, Op::Ping).whole();
}

QByteArray encode(const ProbeRequest &)
{
    return Writer(Op::Probe).take();
}

bool decode(QByteArrayView body, ProbeRequest *)
{
    return Reader(body, Op::Probe).whole();
}

// ---- answers ----

QByteArray refusal()
{
    return Writer(quint8(0)).take();
}

QByteArray encode(const Hello &m)
{
    Writer w = answer();
    w.s() << m.landlockAbi << m.landlock << m.seccomp << m.missing;
    return w.take();
}

bool decode(QByteArrayView body, Hello *m)
{
    Reader r = answerReader(body);
    r.s() >> m->landlockAbi >> m->landlock >> m->seccomp >> m->missing;
    r.require(m->landlockAbi >= 0);
    return r.whole();
}

QByteArray encode(const OpenAnswer &m)
{
    Writer w = answer();
    w.s() << qint32(m.status) << m.pageCount << m.firstPageSize << m.title << m.drawn;
    return w.take();
}

bool decode(QByteArrayView body, OpenAnswer *m)
{
    Reader r = answerReader(body);
    qint32 status = -1;
    r.s() >> status >> m->pageCount >> m->firstPageSize >> m->title >> m->drawn;
    r.require(status >= 0 && status <= qint32(PdfOpenStatus::Unsupported));
    m->status = PdfOpenStatus(status);
    const bool opened = m->status == PdfOpenStatus::Ok;
    r.require(opened ? m->pageCount >= 1 && m->pageCount <= maxPages : m->pageCount == 0);
    r.require(drawnSizeOk(m->drawn, true) && (opened || m->drawn == QSize()));
    return r.whole();
}

QByteArray encode(const SizesAnswer &m)
{
    Writer w = answer();
    w.s() << m.sizes;
    return w.take();
}

bool decode(QByteArrayView body, SizesAnswer *m)
{
    Reader r = answerReader(body);
    if (!readList(r.s(), &m->sizes, maxSizesPerAnswer))
        r.fail();
    return r.whole();
}

QByteArray encode(const RenderAnswer &m)
{
    Writer w = answer();
    w.s() << m.drawn;
    return w.take();
}

bool decode(QByteArrayView body, RenderAnswer *m)
{
    Reader r = answerReader(body);
    r.s() >> m->drawn;
    r.require(drawnSizeOk(m->drawn, false));
    return r.whole();
}

QByteArray encode(const OutlineAnswer &m)
{
    Writer w = answer();
    w.s() << quint32(m.entries.size());
    for (const PdfOutlineEntry &e : m.entries)
        w.s() << e.title << qint32(e.level) << qint32(e.page) << e.location;
    return w.take();
}

bool decode(QByteArrayView body, OutlineAnswer *m)
{
    Reader r = answerReader(body);
    // title (a count at least), level, page, location
    readEntries(r, &m->entries, 4 + 4 + 4 + 16, [&r](PdfOutlineEntry &e) {
        qint32 level = 0, page = -1;
        r.s() >> e.title >> level >> page >> e.location;
        e.level = level;
        e.page = page;
        return level >= 0 && page >= -1;
    });
    return r.whole();
}

QByteArray encode(const LinksAnswer &m)
{
    Writer w = answer();
    w.s() << quint32(m.links.size());
    for (const PdfLinkInfo &l : m.links)
        w.s() << l.rect << qint32(l.page) << l.location << l.url;
    return w.take();
}

bool decode(QByteArrayView body, LinksAnswer *m)
{
    Reader r = answerReader(body);
    // rect, page, location, url (a count at least)
    readEntries(r, &m->links, 32 + 4 + 16 + 4, [&r](PdfLinkInfo &l) {
        qint32 page = -1;
        r.s() >> l.rect >> page >> l.location >> l.url;
        l.page = page;
        return page >= -1;
    });
    return r.whole();
}

QByteArray encode(const SearchAnswer &m)
{
    Writer w = answer();
    w.s() << quint32(m.hits.size());
    for (const PdfSearchHit &h : m.hits)
        w.s() << qint32(h.page) << h.rects;
    return w.take();
}

bool decode(QByteArrayView body, SearchAnswer *m)
{
    Reader r = answerReader(body);
    // page, rectangle count
    readEntries(r, &m->hits, 4 + 4, [&r](PdfSearchHit &h) {
        qint32 page = -1;
        r.s() >> page;
        h.page = page;
        return readList(r.s(), &h.rects, maxListEntries) && page >= 0;
    });
    return r.whole();
}

QByteArray encode(const SelectionAnswer &m)
{
    Writer w = answer();
    w.s() << m.text << m.bounds;
    return w.take();
}

bool decode(QByteArrayView body, SelectionAnswer *m)
{
    Reader r = answerReader(body);
    r.s() >> m->text;
    if (!readList(r.s(), &m->bounds, maxListEntries))
        r.fail();
    return r.whole();
}

QByteArray encode(const PingAnswer &)
{
    return answer().take();
}

bool decode(QByteArrayView body, PingAnswer *)
{
    return answerReader(body).whole();
}

QByteArray encode(const ProbeAnswer &m)
{
    Writer w = answer();
    w.s() << quint32(m.results.size());
    for (const auto &[what, error] : m.results)
        w.s() << what << error;
    return w.take();
}

bool decode(QByteArrayView body, ProbeAnswer *m)
{
    Reader r = answerReader(body);
    // what (a count at least), errno
    readEntries(r, &m->results, 4 + 4, [&r](QPair<QString, qint32> &p) {
        r.s() >> p.first >> p.second;
        return true;
    });
    return r.whole();
}

// ---- the first page's layout ----

void writeFirstPage(QDataStream &s, const PdfFirstPage &first)
{
    const PageLayout::Params p = first.layout.value_or(PageLayout::Params{});
    s << qint32(p.mode) << qint32(p.zoom) << double(p.customZoom) << qint32(p.rotation) << p.viewport
      << qint32(p.currentPage) << double(first.dpr);
}

bool readFirstPage(QDataStream &s, PdfFirstPage *first)
{
    qint32 mode = 0, zoom = 0, rotation = 0, currentPage = 0;
    double customZoom = 1, dpr = 1;
    QSize viewport;
    s >> mode >> zoom >> customZoom >> rotation >> viewport >> currentPage >> dpr;
    constexpr int maxViewport = 1 << 16;
    // Written so that NaN fails too.  A view not laid out yet has no
    // viewport (QSize(), -1 by -1).
    const bool ok = s.status() == QDataStream::Ok && mode >= 0 && mode <= int(PageLayout::Mode::TwoColumnRight)
                    && zoom >= 0 && zoom <= int(PageLayout::Zoom::Custom) && customZoom > 0 && customZoom <= 64
                    && viewport.width() >= -1 && viewport.width() <= maxViewport && viewport.height() >= -1
                    && viewport.height() <= maxViewport && currentPage >= 0 && dpr > 0 && dpr <= 16;
    if (!ok) {
        s.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    PageLayout::Params p;
    p.mode = PageLayout::Mode(mode);
    p.zoom = PageLayout::Zoom(zoom);
    p.customZoom = customZoom;
    p.rotation = rotation & 3;
    p.viewport = viewport;
    p.currentPage = currentPage;
    first->layout = p;
    first->dpr = dpr;
    return true;
}

// ---- the channel ----

Channel::~Channel()
{
    dropFds();
}

void Channel::reset(int input, int output)
{
    m_input = input;
    m_output = output;
    m_in.clear();
    dropFds();
}

void Channel::dropFds()
{
    for (int fd : m_fds)
        ::close(fd);
    m_fds.clear();
}

bool Channel::send(QByteArrayView body, const std::vector<int> &fds, bool *peerGone)
{
    if (peerGone)
        *peerGone = false;
    if (m_output < 0 || quint64(body.size()) > maxMessageBytes || fds.size() > maxFramedFds)
        return false;
    const quint32 header[2] = {quint32(body.size()), quint32(fds.size())};
    const char *parts[2] = {reinterpret_cast<const char *>(header), body.data()};
    size_t left[2] = {sizeof header, size_t(body.size())};
    bool first = true;
    while (left[0] + left[1] > 0) {
        iovec iov[2];
        int n = 0;
        for (int i = 0; i < 2; ++i)
            if (left[i] > 0)
                iov[n++] = {const_cast<char *>(parts[i]), left[i]};
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = size_t(n);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFramedFds)];
        if (first && !fds.empty()) {
            msg.msg_control = control;
            msg.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
            cmsghdr *c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
            std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
        }
        // MSG_NOSIGNAL: a peer that has gone away must not raise SIGPIPE,
        // whose disposition is the whole process's, not ours to change.
        const ssize_t sent = ::sendmsg(m_output, &msg, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (peerGone && first)
                *peerGone = errno == EPIPE || errno == ECONNRESET;
            return false;
        }
        first = false;
        size_t done = size_t(sent);
        for (int i = 0; i < 2; ++i) {
            const size_t step = qMin(done, left[i]);
            parts[i] += step;
            left[i] -= step;
            done -= step;
        }
    }
    return true;
}

bool Channel::receive(QByteArray *body, std::vector<int> *fds, const std::function<qint64()> &msLeft,
                      bool *timedOut)
{
    if (timedOut)
        *timedOut = false;
    bool read = false;
    for (;;) {
        qsizetype want = readChunk;
        if (m_in.size() >= headerBytes) {
            quint32 header[2];
            std::memcpy(header, m_in.constData(), sizeof header);
            if (header[0] > maxMessageBytes || header[1] > maxFramedFds)
                return false;
            const qsizetype whole = headerBytes + qsizetype(header[0]);
            if (m_in.size() >= whole) {
                if (m_fds.size() < header[1])
                    return false;
                *body = m_in.mid(headerBytes, qsizetype(header[0]));
                m_in.remove(0, whole);
                // The read buffer is kept for the next message, unless a
                // large one grew it.
                if (m_in.isEmpty() && m_in.capacity() > 4 * readChunk)
                    m_in = QByteArray();
                for (quint32 i = 0; i < header[1]; ++i) {
                    const int fd = m_fds.front();
                    m_fds.pop_front();
                    if (fds)
                        fds->push_back(fd);
                    else
                        ::close(fd);
                }
                // A side that takes no descriptors keeps none it was sent.
                if (!fds)
                    dropFds();
                return true;
            }
            want = qMax(want, whole - m_in.size());
        }
        // A sender that trickles a message out byte by byte is timed out as
        // one that sends nothing.
        if (read && msLeft && msLeft() <= 0) {
            if (timedOut)
                *timedOut = true;
            return false;
        }
        const qsizetype had = m_in.size();
        m_in.resize(had + want);
        iovec iov{m_in.data() + had, size_t(want)};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFramedFds)];
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_input, &msg, MSG_CMSG_CLOEXEC);
        m_in.resize(had + qMax<qsizetype>(0, n));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // The socket's read timeout: a slice of the wait is over.
                if (msLeft && msLeft() <= 0) {
                    if (timedOut)
                        *timedOut = true;
                    return false;
                }
                continue;
            }
            return false;
        }
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                continue;
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                m_fds.push_back(fd);
            }
        }
        // More descriptors than frames may carry: the sender does not keep
        // to the protocol.
        if ((msg.msg_flags & MSG_CTRUNC) || m_fds.size() > 2 * maxFramedFds) {
            dropFds();
            return false;
        }
        if (n == 0)
            return false;
        read = true;
    }
}

} // namespace RenderProtocol
