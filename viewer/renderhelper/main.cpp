// sheafline-render: draws PDF documents for Sheafline in a process of its
// own.  Started by the program with the sockets that requests come in on and
// answers go out on as descriptors 3 and 4;
// confines itself before it reads anything and then answers requests
// (viewer/isolated/RenderProtocol.h) until the program closes the socket.
#include "viewer/PdfEngine.h"
#include "viewer/isolated/RenderProtocol.h"
#include "viewer/renderhelper/Confinement.h"
#include "viewer/renderhelper/SharedPages.h"

#include <QPolygonF>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int requestsFd = 3;
constexpr int answersFd = 4;

namespace P = RenderProtocol;
using P::Op;

void closeAll(std::vector<int> &fds)
{
    for (int fd : fds)
        ::close(fd);
    fds.clear();
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
    const int r = ::connect(fd >= 0 ? fd : requestsFd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
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
    explicit Server(P::Channel &channel) : m_channel(channel) {}

    // Answers one request; false when the conversation is over.  What only
    // tidies up (page tables beyond those kept, the descriptors) waits until
    // the answer is on its way.
    bool serve(const QByteArray &request, std::vector<int> &fds)
    {
        const bool ok = serveOne(request, fds);
        m_pages.tidy();
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
    // not find the helper busy: after a close it waits for that request (and
    // takes the document apart once it is answered) rather than waking a
    // second time for the work; only when none comes does the grace run
    // out.  After an answer it tidies at once, while the program shows what
    // it got.
    int idleAfterMs() const { return m_answered ? 0 : closeGraceMs; }

private:
    bool serveOne(const QByteArray &request, std::vector<int> &fds)
    {
        const std::optional<Op> op = P::opOf(request);
        m_answered = op != Op::Close;
        if (op == Op::Close) {
            P::CloseRequest close;
            if (P::decode(request, &close))
                closeDocument(close.handle);
            return true;
        }
        QByteArray reply;
        if (!op || !answer(*op, request, fds, &reply))
            reply = P::refusal();
        return m_channel.send(reply);
    }

    void closeDocument(quint32 handle)
    {
        auto it = m_docs.find(handle);
        if (it == m_docs.end())
            return;
        // More than a couple waiting means the program closes faster than
        // the helper is ever idle: no longer worth the memory.
        if (m_closed.size() >= maxClosedWaiting)
            m_closed.clear();
        m_closed.push_back(std::move(it->second));
        m_docs.erase(it);
    }

    // Takes over a buffer the request attaches (the descriptor after
    // `first` others) and lets go of those it retires.
    void takeBuffers(const P::PageBufferRef &buffer, const QList<quint32> &retired, std::vector<int> &fds,
                     size_t first)
    {
        for (quint32 id : retired)
            m_pages.retire(id);
        if (buffer.attached) {
            const int fd = fds.at(first);
            fds.erase(fds.begin() + qsizetype(first));
            m_pages.attach(buffer.id, fd);
        }
    }

    // Draws a page into a buffer of the program's: the page is put on its
    // paper as it is copied there, the one copy it makes on its way to the
    // screen.
    bool drawInto(PdfEngine &engine, int page, const QSize &pixels, int rotation, quint32 buffer)
    {
        const qint64 bytes = P::pageBytes(pixels);
        if (bytes <= 0)
            return false;
        return engine.renderInto(page, pixels, rotation, [&] { return m_pages.target(buffer, size_t(bytes)); },
                                 qsizetype(pixels.width()) * 4);
    }

    PdfEngine *document(quint32 handle)
    {
        const auto it = m_docs.find(handle);
        return it == m_docs.end() ? nullptr : it->second.get();
    }

    bool answer(Op op, const QByteArray &request, std::vector<int> &fds, QByteArray *reply)
    {
        switch (op) {
        case Op::Open: {
            P::OpenRequest r;
            if (!P::decode(request, &r) || fds.size() != r.fdCount())
                return false;
            takeBuffers(r.buffer, r.retired, fds, 1);
            auto engine = createQtPdfEngine();
            const int fd = fds.front();
            fds.erase(fds.begin()); // the engine owns it now
            P::OpenAnswer a;
            a.status = engine->openDescriptor(fd, r.password);
            if (a.status == PdfOpenStatus::Ok && engine->pageCount() > P::maxPages)
                a.status = PdfOpenStatus::Unsupported;
            if (a.status == PdfOpenStatus::Ok) {
                // Only the first page is measured now; the others when asked for.
                a.pageCount = engine->pageCount();
                a.firstPageSize = engine->pageSize(0);
                a.title = engine->title();
                // The first page goes back with the answer, as the program
                // would ask for it next.
                const QSize pixels = r.firstPage && r.buffer.id
                                         ? r.firstPage->pixelsForOpened(a.pageCount, a.firstPageSize)
                                         : QSize();
                if (!pixels.isEmpty() && drawInto(*engine, 0, pixels, r.firstPage->rotation(), r.buffer.id))
                    a.drawn = pixels;
                m_docs[r.handle] = std::move(engine);
            }
            *reply = P::encode(a);
            return true;
        }
        case Op::Render: {
            P::RenderRequest r;
            if (!P::decode(request, &r) || fds.size() != r.fdCount())
                return false;
            takeBuffers(r.buffer, r.retired, fds, 0);
            PdfEngine *engine = document(r.handle);
            if (!engine)
                return false;
            if (r.bandRows > 0) {
                const QSize band = r.drawnSize();
                const qint64 bytes = P::pageBytes(band);
                if (!engine->renderBandInto(r.page, r.pixels, r.bandTop, r.bandRows,
                                            [&] { return m_pages.target(r.buffer.id, size_t(bytes)); },
                                            qsizetype(band.width()) * 4))
                    return false;
            } else if (!drawInto(*engine, r.page, r.pixels, r.rotation, r.buffer.id)) {
                return false;
            }
            *reply = P::encode(P::RenderAnswer{r.drawnSize()});
            return true;
        }
        case Op::Sizes: {
            P::SizesRequest r;
            PdfEngine *engine = P::decode(request, &r) ? document(r.handle) : nullptr;
            if (!engine || r.first >= engine->pageCount())
                return false;
            const qint32 n = qMin(qMin(r.count, P::maxSizesPerAnswer), engine->pageCount() - r.first);
            P::SizesAnswer a;
            a.sizes.reserve(n);
            for (qint32 i = 0; i < n; ++i)
                a.sizes << engine->pageSize(r.first + i);
            *reply = P::encode(a);
            return true;
        }
        case Op::Outline: {
            P::OutlineRequest r;
            PdfEngine *engine = P::decode(request, &r) ? document(r.handle) : nullptr;
            if (!engine)
                return false;
            *reply = P::encode(P::OutlineAnswer{engine->outline()});
            return true;
        }
        case Op::Links: {
            P::LinksRequest r;
            PdfEngine *engine = P::decode(request, &r) ? document(r.handle) : nullptr;
            if (!engine)
                return false;
            *reply = P::encode(P::LinksAnswer{engine->links(r.page)});
            return true;
        }
        case Op::Search: {
            P::SearchRequest r;
            PdfEngine *engine = P::decode(request, &r) ? document(r.handle) : nullptr;
            if (!engine)
                return false;
            *reply = P::encode(P::SearchAnswer{engine->search(r.text)});
            return true;
        }
        case Op::Selection: {
            P::SelectionRequest r;
            PdfEngine *engine = P::decode(request, &r) ? document(r.handle) : nullptr;
            if (!engine)
                return false;
            P::SelectionAnswer a;
            a.text = engine->selectText(r.page, r.from, r.to, &a.bounds);
            *reply = P::encode(a);
            return true;
        }
        case Op::Ping: {
            P::PingRequest r;
            if (!P::decode(request, &r))
                return false;
            *reply = P::encode(P::PingAnswer{});
            return true;
        }
#ifdef SHEAFLINE_RENDER_PROBE
        case Op::Probe: {
            P::ProbeAnswer a{probe()};
            a.results << qMakePair(QStringLiteral("exec /bin/true"), qint32(probeExec()));
            *reply = P::encode(a);
            return true;
        }
#endif
        default:
            return false;
        }
    }

    static constexpr size_t maxClosedWaiting = 2;
    static constexpr int closeGraceMs = 50;
    P::Channel &m_channel;
    bool m_answered = true; // the last request was answered (it was no close)
    std::map<quint32, std::unique_ptr<PdfEngine>> m_docs;
    std::vector<std::unique_ptr<PdfEngine>> m_closed; // closed, not yet taken apart
    SharedPages m_pages;
};

bool requestWaiting(int withinMs)
{
    pollfd p{requestsFd, POLLIN, 0};
    return ::poll(&p, 1, withinMs) > 0;
}

} // namespace

int main()
{
    // One heap arena: threads the image code starts must not each reserve
    // address space under the limit.
    mallopt(M_ARENA_MAX, 1);
    for (int fd : {requestsFd, answersFd}) {
        if (fcntl(fd, F_GETFD) < 0)
            return 2;
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // Nothing the program left open by mistake stays reachable.
    close_range(answersFd + 1, ~0u, 0);
    // The engine is set up before the confinement closes the doors.
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    const ConfinementResult confined = confineRenderHelper(SharedPages::mappedBudget);
    P::Channel channel(requestsFd, answersFd);
    if (!channel.send(P::encode(P::Hello{confined.landlockAbi, confined.landlock, confined.seccomp, confined.missing})))
        return 1;
    Server server(channel);
    QByteArray request;
    std::vector<int> fds;
    for (;;) {
        if (server.hasIdleWork() && !channel.hasBuffered() && !requestWaiting(server.idleAfterMs()))
            server.doIdleWork();
        // Blocks in the read itself: a request costs one read.
        if (!channel.receive(&request, &fds) || !server.serve(request, fds))
            break;
    }
    closeAll(fds);
    return 0;
}
