// sheafline-render: draws PDF documents for Sheafline in a process of its
// own.  Started by the program with one end of a socket pair as descriptor 3;
// confines itself before it reads anything and then answers requests
// (viewer/isolated/RenderProtocol.h) until the program closes the socket.
#include "viewer/PdfEngine.h"
#include "viewer/isolated/RenderProtocol.h"
#include "viewer/renderhelper/Confinement.h"

#include <QPolygonF>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int socketFd = 3;

using RenderProtocol::Op;

void closeAll(std::vector<int> &fds)
{
    for (int fd : fds)
        ::close(fd);
    fds.clear();
}

// A mapping of the program's shared memory, let go of when it goes.
struct SharedPage
{
    SharedPage() = default;
    SharedPage(const SharedPage &) = delete;
    SharedPage &operator=(const SharedPage &) = delete;
    ~SharedPage() { reset(); }
    void reset()
    {
        if (map)
            munmap(map, bytes);
        map = nullptr;
    }
    void *map = nullptr;
    size_t bytes = 0;
};

// Maps the program's shared memory on a thread of its own while the engine
// draws: populating a page's worth of mapping takes about a tenth of a
// millisecond and needs nothing from the engine.  Started after the
// confinement, which the thread then shares.
class SharedMapper
{
public:
    SharedMapper() : m_thread([this] { run(); }) {}
    SharedMapper(const SharedMapper &) = delete;
    SharedMapper &operator=(const SharedMapper &) = delete;
    ~SharedMapper()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    // Starts mapping `bytes` of memfd for writing; finish() must follow
    // before the descriptor is closed.
    void start(int memfd, size_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            m_fd = memfd;
            m_bytes = bytes;
            m_asked = true;
        }
        m_wake.notify_all();
    }

    // The mapping start() asked for, once made; null when it failed.
    void *finish()
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_asked; });
        return m_map == MAP_FAILED ? nullptr : m_map;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_asked; });
            if (m_stop)
                return;
            const int fd = m_fd;
            const size_t bytes = m_bytes;
            lock.unlock();
            // Populated in one go: far cheaper than a fault for each page.
            void *map = mmap(nullptr, bytes, PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
            lock.lock();
            m_map = map;
            m_asked = false;
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_asked = false; // a mapping is asked for and not made yet
    bool m_stop = false;
    int m_fd = -1;
    size_t m_bytes = 0;
    void *m_map = nullptr;
    std::thread m_thread; // last: runs on the members above
};

// Draws a page into the program's shared memory: the page is put on its
// paper as it is copied there, the one copy it makes on its way to the screen.
// The memory is mapped while the engine draws; the mapping is left in
// `shared`, to be let go of after the answer is out.
bool renderToShared(PdfEngine &engine, int page, const QSize &pixels, int rotation, int memfd, SharedPage &shared,
                    SharedMapper &mapper)
{
    struct stat st;
    if (pixels.isEmpty() || fstat(memfd, &st) != 0)
        return false;
    const qint64 rowBytes = qint64(pixels.width()) * 4;
    const qint64 bytes = rowBytes * pixels.height();
    if (!RenderProtocol::pageFits(bytes, st.st_size))
        return false;
    shared.reset();
    mapper.start(memfd, size_t(bytes));
    bool mapped = false;
    auto target = [&]() -> uchar * {
        mapped = true;
        shared.map = mapper.finish();
        shared.bytes = size_t(bytes);
        return static_cast<uchar *>(shared.map);
    };
    const bool drawn = engine.renderInto(page, pixels, rotation, target, rowBytes);
    if (!mapped)
        target(); // not drawn: the mapping is still waited for, and let go of with `shared`
    return drawn && shared.map;
}

#ifdef SHEAFLINE_RENDER_PROBE
// Tries what a hostile document would try, from inside the confinement.
QList<QPair<QString, qint32>> probe()
{
    QList<QPair<QString, qint32>> out;
    auto attempt = [&out](const char *what, bool ok) { out << qMakePair(QString::fromLatin1(what), ok ? 0 : errno); };
    int fd = ::open("/etc/passwd", O_RDONLY | O_CLOEXEC);
    attempt("read /etc/passwd", fd >= 0);
    if (fd >= 0)
        ::close(fd);
    char name[] = "/tmp/sheafline-render-probe-XXXXXX";
    fd = mkstemp(name);
    attempt("write in /tmp", fd >= 0);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(name);
    }
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    attempt("open an AF_INET socket", fd >= 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(9);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // With no socket of its own, the helper tries its one open socket.
    errno = 0;
    const int r = ::connect(fd >= 0 ? fd : socketFd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    out << qMakePair(QStringLiteral("connect to 127.0.0.1"), qint32(r == 0 ? 0 : errno));
    if (fd >= 0)
        ::close(fd);
    return out;
}

// Last: should it work, the helper is gone and the program notices.
int probeExec()
{
    char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
    execve("/bin/true", argv, environ);
    return errno;
}
#endif

class Server
{
public:
    // Answers one request; false when the conversation is over.  What only
    // tidies up (letting go of the page's mapping and the descriptors) waits
    // until the answer is on its way.
    bool serve(const QByteArray &request, std::vector<int> &fds)
    {
        const bool ok = serveOne(request, fds);
        m_page.reset();
        closeAll(fds);
        return ok;
    }

    // Documents the program has closed are taken apart while it has nothing
    // else to ask: a close is never waited for, and tearing down a large
    // document would hold up the request behind it.
    bool hasIdleWork() const { return !m_closed.empty(); }
    void doIdleWork() { m_closed.clear(); }
    // How long the helper waits for a request before it does that work.  A
    // close mostly comes just before the next document's open, which should
    // not find the helper busy: after a close it waits a moment.  After an
    // answer it tidies at once, while the program shows what it got.
    int idleAfterMs() const { return m_answered ? 0 : closeGraceMs; }

private:
    bool serveOne(const QByteArray &request, std::vector<int> &fds)
    {
        QDataStream in(request);
        in.setVersion(RenderProtocol::streamVersion);
        quint8 opByte = 0;
        quint32 handle = 0;
        in >> opByte;
        const Op op = Op(opByte);
        m_answered = op != Op::Close;
        if (op == Op::Ping)
            return RenderProtocol::send(socketFd, RenderProtocol::write(quint8(1)));
        if (op != Op::Probe)
            in >> handle;
        if (op == Op::Close) {
            auto it = m_docs.find(handle);
            if (it != m_docs.end()) {
                // More than a couple waiting means the program closes faster
                // than the helper is ever idle: no longer worth the memory.
                if (m_closed.size() >= maxClosedWaiting)
                    m_closed.clear();
                m_closed.push_back(std::move(it->second));
                m_docs.erase(it);
            }
            return true;
        }
        QByteArray reply;
        if (!answer(op, handle, in, fds, &reply))
            reply = RenderProtocol::write(quint8(0));
        return RenderProtocol::send(socketFd, reply);
    }

    bool answer(Op op, quint32 handle, QDataStream &in, std::vector<int> &fds, QByteArray *reply)
    {
        if (op == Op::Open) {
            QString password;
            bool drawFirst = false;
            PdfFirstPage firstPage;
            in >> password >> drawFirst;
            if (fds.size() != (drawFirst ? 2u : 1u) || in.status() != QDataStream::Ok)
                return false;
            // A layout it refuses only leaves the first page to a render of
            // its own; the document still opens.
            drawFirst = drawFirst && RenderProtocol::readFirstPage(in, &firstPage);
            auto engine = createQtPdfEngine();
            const int fd = fds.front();
            fds.erase(fds.begin()); // the engine owns it now
            PdfOpenStatus status = engine->openDescriptor(fd, password);
            qint32 count = 0;
            QSizeF first;
            QString title;
            QSize drawn;
            if (status == PdfOpenStatus::Ok && engine->pageCount() > RenderProtocol::maxPages)
                status = PdfOpenStatus::Unsupported;
            if (status == PdfOpenStatus::Ok) {
                // Only the first page is measured now; the others when asked for.
                count = engine->pageCount();
                first = engine->pageSize(0);
                title = engine->title();
                // The first page goes back with the answer, as the program
                // would ask for it next.
                const QSize pixels = drawFirst ? firstPage.pixelsForOpened(count, first) : QSize();
                if (!pixels.isEmpty()
                    && renderToShared(*engine, 0, pixels, firstPage.rotation(), fds.front(), m_page, m_mapper))
                    drawn = pixels;
                m_docs[handle] = std::move(engine);
            }
            *reply = RenderProtocol::write(quint8(1), qint32(status), count, first, title, drawn);
            return true;
        }
#ifdef SHEAFLINE_RENDER_PROBE
        if (op == Op::Probe) {
            auto results = probe();
            results << qMakePair(QStringLiteral("exec /bin/true"), qint32(probeExec()));
            *reply = RenderProtocol::write(quint8(1), results);
            return true;
        }
#endif
        auto it = m_docs.find(handle);
        if (it == m_docs.end())
            return false;
        PdfEngine &engine = *it->second;
        switch (op) {
        case Op::Render: {
            qint32 page = 0, rotation = 0;
            QSize pixels;
            in >> page >> pixels >> rotation;
            if (fds.size() != 1 || in.status() != QDataStream::Ok
                || qint64(pixels.width()) * pixels.height() * 4 > RenderProtocol::maxPageBytes)
                return false;
            if (!renderToShared(engine, page, pixels, rotation, fds.front(), m_page, m_mapper))
                return false;
            *reply = RenderProtocol::write(quint8(1), pixels);
            return true;
        }
        case Op::Sizes: {
            qint32 first = 0, count = 0;
            in >> first >> count;
            const qint32 pages = engine.pageCount();
            if (in.status() != QDataStream::Ok || first < 0 || first >= pages || count <= 0)
                return false;
            const qint32 n = qMin(qMin(count, RenderProtocol::maxSizesPerAnswer), pages - first);
            QList<QSizeF> sizes;
            sizes.reserve(n);
            for (qint32 i = 0; i < n; ++i)
                sizes << engine.pageSize(first + i);
            *reply = RenderProtocol::write(quint8(1), sizes);
            return true;
        }
        case Op::Outline: {
            QList<PdfOutlineEntry> entries = engine.outline();
            QByteArray out = RenderProtocol::write(quint8(1), qint32(entries.size()));
            QDataStream s(&out, QIODevice::Append);
            s.setVersion(RenderProtocol::streamVersion);
            for (const PdfOutlineEntry &e : entries)
                s << e.title << qint32(e.level) << qint32(e.page) << e.location;
            *reply = out;
            return true;
        }
        case Op::Links: {
            qint32 page = 0;
            in >> page;
            const QList<PdfLinkInfo> links = engine.links(page);
            QByteArray out = RenderProtocol::write(quint8(1), qint32(links.size()));
            QDataStream s(&out, QIODevice::Append);
            s.setVersion(RenderProtocol::streamVersion);
            for (const PdfLinkInfo &l : links)
                s << l.rect << qint32(l.page) << l.location << l.url;
            *reply = out;
            return true;
        }
        case Op::Search: {
            QString text;
            in >> text;
            const QList<PdfSearchHit> hits = engine.search(text);
            QByteArray out = RenderProtocol::write(quint8(1), qint32(hits.size()));
            QDataStream s(&out, QIODevice::Append);
            s.setVersion(RenderProtocol::streamVersion);
            for (const PdfSearchHit &h : hits)
                s << qint32(h.page) << h.rects;
            *reply = out;
            return true;
        }
        case Op::Selection: {
            qint32 page = 0;
            QPointF from, to;
            in >> page >> from >> to;
            QList<QPolygonF> bounds;
            const QString text = engine.selectText(page, from, to, &bounds);
            *reply = RenderProtocol::write(quint8(1), text, bounds);
            return true;
        }
        default:
            return false;
        }
    }

    static constexpr size_t maxClosedWaiting = 2;
    static constexpr int closeGraceMs = 2;
    bool m_answered = true; // the last request was answered (it was no close)
    std::map<quint32, std::unique_ptr<PdfEngine>> m_docs;
    std::vector<std::unique_ptr<PdfEngine>> m_closed; // closed, not yet taken apart
    SharedPage m_page;                                  // the page just drawn
    SharedMapper m_mapper;
};

bool requestWaiting(int withinMs)
{
    pollfd p{socketFd, POLLIN, 0};
    return ::poll(&p, 1, withinMs) > 0;
}

} // namespace

int main()
{
    // One heap arena: threads the image code starts must not each reserve
    // address space under the limit.
    mallopt(M_ARENA_MAX, 1);
    if (fcntl(socketFd, F_GETFD) < 0)
        return 2;
    fcntl(socketFd, F_SETFD, FD_CLOEXEC);
    // Nothing the program left open by mistake stays reachable.
    close_range(socketFd + 1, ~0u, 0);
    // The engine is set up before the confinement closes the doors.
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    const ConfinementResult confined = confineRenderHelper();
    if (!RenderProtocol::send(socketFd, RenderProtocol::write(qint32(confined.landlockAbi), confined.landlock,
                                                              confined.seccomp, confined.missing)))
        return 1;
    // After the confinement: the thread the server starts shares it.
    Server server;
    QByteArray request;
    std::vector<int> fds;
    for (;;) {
        if (server.hasIdleWork() && !requestWaiting(server.idleAfterMs()))
            server.doIdleWork();
        if (!RenderProtocol::receive(socketFd, &request, &fds, -1) || !server.serve(request, fds))
            break;
    }
    closeAll(fds);
    return 0;
}
