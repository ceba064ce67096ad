#include "viewer/isolated/RenderProtocol.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace RenderProtocol {

namespace {

constexpr int maxFds = 4;

bool sendAll(int socket, const char *data, size_t size, const std::vector<int> &fds)
{
    bool fdsSent = fds.empty();
    while (size > 0) {
        iovec iov{const_cast<char *>(data), size};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFds)];
        if (!fdsSent) {
            if (fds.size() > size_t(maxFds))
                return false;
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
        const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        fdsSent = true;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Waits until the socket is readable or the deadline passes.
bool waitReadable(int socket, const QElapsedTimer &clock, int timeoutMs, bool *timedOut)
{
    for (;;) {
        int left = -1;
        if (timeoutMs >= 0) {
            left = int(timeoutMs - clock.elapsed());
            if (left <= 0) {
                if (timedOut)
                    *timedOut = true;
                return false;
            }
        }
        pollfd p{socket, POLLIN, 0};
        const int r = ::poll(&p, 1, left);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

bool receiveAll(int socket, char *data, size_t size, std::vector<int> *fds, const QElapsedTimer &clock,
                int timeoutMs, bool *timedOut)
{
    while (size > 0) {
        if (!waitReadable(socket, clock, timeoutMs, timedOut))
            return false;
        iovec iov{data, size};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFds)];
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                continue;
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                if (fds)
                    fds->push_back(fd);
                else
                    ::close(fd);
            }
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

bool send(int socket, const QByteArray &message, const std::vector<int> &fds)
{
    if (quint32(message.size()) > maxMessageBytes)
        return false;
    QByteArray framed(sizeof(quint32), Qt::Uninitialized);
    const quint32 size = quint32(message.size());
    std::memcpy(framed.data(), &size, sizeof size);
    framed += message;
    return sendAll(socket, framed.constData(), size_t(framed.size()), fds);
}

bool receive(int socket, QByteArray *message, std::vector<int> *fds, int timeoutMs, bool *timedOut)
{
    if (timedOut)
        *timedOut = false;
    QElapsedTimer clock;
    clock.start();
    quint32 size = 0;
    if (!receiveAll(socket, reinterpret_cast<char *>(&size), sizeof size, fds, clock, timeoutMs, timedOut))
        return false;
    if (size > maxMessageBytes)
        return false;
    message->resize(qsizetype(size));
    return receiveAll(socket, message->data(), size, fds, clock, timeoutMs, timedOut);
}

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

} // namespace RenderProtocol
