#pragma once

#include "viewer/PdfEngine.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>

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
//   Open           [document descriptor, and with a first page a memfd]
//                  quint32 handle, QString password, bool first page, the
//                  first page's layout (writeFirstPage) when true
//                  -> qint32 PdfOpenStatus, qint32 page count, QSizeF first
//                  page's size, QString title (the other pages are measured
//                  only when asked for: measuring a page means parsing it),
//                  QSize drawn: page 0 at PdfFirstPage::pixelsForOpened(),
//                  drawn into the memfd as Render draws, or empty when it was
//                  not (the memfd must fit it as Render's does)
//   Sizes          quint32 handle, qint32 first page, qint32 count
//                  -> counted QSizeF list: the sizes of pages first ...
//                  first + n - 1 (n at most count and maxSizesPerAnswer)
//   Close          quint32 handle (no answer; the helper takes the document
//                  apart when no request is waiting)
//   Render         [memfd of at least height * width * 4 bytes] quint32 handle,
//                  qint32 page, QSize pixels, qint32 rotation
//                  -> QSize drawn (the page, RGB32, rows of width * 4 bytes, is
//                  in the memfd)
//   Outline        quint32 handle -> entries
//   Links          quint32 handle, qint32 page -> links
//   Search         quint32 handle, QString text -> qint32 n, n x (qint32 page,
//                  counted QRectF list)
//   Selection      quint32 handle, qint32 page, QPointF from, QPointF to
//                  -> QString text, counted list of counted QPointF lists
//   Ping           (nothing) -> (nothing): one request and its answer, the
//                  least a request costs
//   Probe          (only in helpers built with BUILD_TESTING; others answer 0)
//                  -> QList<QPair<QString, qint32>>: each forbidden action the
//                  helper tried from inside its confinement and the errno it got
//                  (0: it succeeded).  The actions: reading /etc/passwd,
//                  creating a file in /tmp, opening an AF_INET socket and
//                  connecting it to 127.0.0.1, and, last, exec of /bin/true
//                  (which, should it succeed, ends the helper).
//
// Lists travel as a quint32 count and the entries; a reader takes a count no
// larger than the entries left in the message could fill (readList), so that
// neither side can be made to reserve memory by a count alone.
namespace RenderProtocol {

enum class Op : quint8 { Open = 1, Close, Render, Outline, Links, Search, Selection, Sizes, Ping, Probe = 100 };

// Largest message either side accepts.
constexpr quint32 maxMessageBytes = 64u << 20;
// Largest page the helper draws into shared memory.
constexpr qint64 maxPageBytes = 512ll << 20;
// Most pages a document served by the helper may have.
constexpr qint32 maxPages = 1 << 20;
// Most page sizes one Sizes answer carries.
constexpr qint32 maxSizesPerAnswer = 4096;

constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_4;

// Sends one message with the descriptors; false when the peer is gone.
bool send(int socket, const QByteArray &message, const std::vector<int> &fds = {});

// Receives one message and the descriptors that came with it (the caller owns
// them).  Waits at most timeoutMs in all (-1: for ever); false on timeout,
// end of stream or a malformed message.  timedOut tells a timeout apart.
bool receive(int socket, QByteArray *message, std::vector<int> *fds, int timeoutMs, bool *timedOut = nullptr);

// Whether a page of `bytes` is drawn into shared memory of `bufferBytes`.
// The buffer stays whole under the image (the program's page cache counts
// all of it): handing its rest back would only have the next larger page
// clear that memory again.
constexpr bool pageFits(qint64 bytes, qint64 bufferBytes)
{
    return bytes > 0 && bytes <= maxPageBytes && bytes <= bufferBytes;
}

// The first page's layout in an Open request.  The reader refuses values
// outside what the view can ask for.
void writeFirstPage(QDataStream &s, const PdfFirstPage &first);
bool readFirstPage(QDataStream &s, PdfFirstPage *first);

inline QByteArray write(const auto &...values)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(streamVersion);
    (s << ... << values);
    return out;
}

// Reads a counted list written by `s << list` for a list of fixed-size
// entries (points, rectangles, sizes) or of such lists: refuses a count above
// maxCount or above what the rest of the message could hold, so that a
// hostile count reserves nothing.  False (and an empty list) on a refused or
// short list; the stream's status tells the same.
template <typename T>
bool readList(QDataStream &s, QList<T> *out, qsizetype maxCount)
{
    out->clear();
    quint32 n = 0;
    s >> n;
    // No entry takes fewer bytes than an empty one.
    static const qint64 leastEntryBytes = qMax<qint64>(1, write(T{}).size());
    const qint64 left = s.device() ? s.device()->bytesAvailable() : 0;
    if (s.status() != QDataStream::Ok || qint64(n) > maxCount || qint64(n) * leastEntryBytes > left) {
        s.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    out->reserve(qsizetype(n));
    for (quint32 i = 0; i < n; ++i) {
        T entry;
        if constexpr (requires { entry.reserve(1); entry.append(entry.value(0)); })
            readList(s, &entry, maxCount);
        else
            s >> entry;
        if (s.status() != QDataStream::Ok) {
            out->clear();
            return false;
        }
        out->append(entry);
    }
    return true;
}

} // namespace RenderProtocol
