#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <vector>

// The conversation between the program and its render helper
// (sheafline-render) over one AF_UNIX stream socket.  Strictly one request,
// then its answer; requests never overlap.
//
// A message is a 32-bit length (host order) followed by that many bytes of
// QDataStream data; descriptors ride along with the first byte of a message
// (SCM_RIGHTS).  Every answer starts with a quint8 that is 1 when the helper
// could carry the request out.
//
//   after start    helper -> Hello: qint32 Landlock ABI (0: none), bool Landlock
//                  applied, bool seccomp applied, QString what is missing
//   Open           [document descriptor] quint32 handle, QString password
//                  -> qint32 PdfOpenStatus, QList<QSizeF> page sizes, QString title
//   Close          quint32 handle (no answer)
//   Render         [memfd of at least height * width * 4 bytes] quint32 handle,
//                  qint32 page, QSize pixels, qint32 rotation
//                  -> QSize drawn (the page, RGB32, rows of width * 4 bytes, is
//                  in the memfd)
//   Outline        quint32 handle -> entries
//   Links          quint32 handle, qint32 page -> links
//   Search         quint32 handle, QString text -> hits
//   Selection      quint32 handle, qint32 page, QPointF from, QPointF to
//                  -> QString text, QList<QPolygonF> bounds
//   Probe          (only in helpers built with BUILD_TESTING; others answer 0)
//                  -> QList<QPair<QString, qint32>>: each forbidden action the
//                  helper tried from inside its confinement and the errno it got
//                  (0: it succeeded).  The actions: reading /etc/passwd,
//                  creating a file in /tmp, opening an AF_INET socket and
//                  connecting it to 127.0.0.1, and, last, exec of /bin/true
//                  (which, should it succeed, ends the helper).
namespace RenderProtocol {

enum class Op : quint8 { Open = 1, Close, Render, Outline, Links, Search, Selection, Probe = 100 };

// Largest message either side accepts.
constexpr quint32 maxMessageBytes = 64u << 20;
// Largest page the helper draws into shared memory.
constexpr qint64 maxPageBytes = 512ll << 20;

constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_4;

// Sends one message with the descriptors; false when the peer is gone.
bool send(int socket, const QByteArray &message, const std::vector<int> &fds = {});

// Receives one message and the descriptors that came with it (the caller owns
// them).  Waits at most timeoutMs in all (-1: for ever); false on timeout,
// end of stream or a malformed message.  timedOut tells a timeout apart.
bool receive(int socket, QByteArray *message, std::vector<int> *fds, int timeoutMs, bool *timedOut = nullptr);

inline QByteArray write(const auto &...values)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(streamVersion);
    (s << ... << values);
    return out;
}

} // namespace RenderProtocol
