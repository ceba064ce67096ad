#pragma once

#include "viewer/PdfEngine.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <QPair>
#include <QPolygonF>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

// The conversation between the program and its render helper
// (sheafline-render) over two AF_UNIX stream sockets, one for requests and
// one for answers.  Strictly one request, then its answer; requests never
// overlap (a Close has no answer).  Two sockets, so that a side asleep in a
// read is woken by what it waits for alone: the kernel wakes a socket's
// readers also when its peer has read what it was sent (room to write).
//
// A frame is a 32-bit body length and a 32-bit descriptor count (host order)
// followed by the body; the descriptors ride along with the frame's first
// byte (SCM_RIGHTS).  Each message has one struct below and one encode/decode
// pair that both processes use.  A request's body starts with its Op; an
// answer's with a byte that is 1 when the helper carried the request out
// (the answer's fields follow) and 0 when it did not (nothing follows).
// Fields are QDataStream data (streamVersion); a decoder takes a message only
// when every field is there, in range, and nothing follows it.
//
//   after start    helper -> Hello: Landlock ABI, what confines it
//   Open           [document descriptor, the page buffer's memfd when attached]
//                  -> OpenAnswer: the first page's size only (measuring a page
//                  means parsing it); with a first page asked for, page 0 drawn
//                  at PdfFirstPage::pixelsForOpened() into the page buffer as
//                  Render draws, or `drawn` empty when it was not
//   Sizes          -> the sizes of pages first ... first + n - 1 (n at most
//                  count and maxSizesPerAnswer)
//   Close          no answer; the helper takes the document apart when no
//                  request is waiting
//   Render         [the page buffer's memfd when attached] -> drawn: the page,
//                  RGB32, rows of width * 4 bytes, from the buffer's start;
//                  with a band asked for, only those rows of the page
//                  (unturned), which may be larger than any page drawn whole
//   Outline, Links, Search, Selection -> what the engine answers
//   Ping           -> nothing: one request and its answer, the least a request
//                  costs
//   Probe          (only in helpers built with BUILD_TESTING; others refuse)
//                  -> each forbidden action the helper tried from inside its
//                  confinement and the errno it got (0: it succeeded): reading
//                  /etc/passwd, creating a file in /tmp, opening an AF_INET
//                  socket and connecting it to 127.0.0.1, and, last, exec of
//                  /bin/true (which, should it succeed, ends the helper).
//
// Page buffers.  Pages come back in sealed memfds of the program's
// (PageBuffers), each shared with a helper once: the first request that names
// a buffer attaches its descriptor, the helper maps it and keeps it under its
// id; later requests name the id alone.  A request may carry ids the helper
// is to let go of (`retired`).  A helper new to a buffer id it is not sent
// the descriptor of refuses the request.
//
// Lists travel as a quint32 count and the entries; a reader takes a count no
// larger than the entries left in the message could fill (readList), so that
// neither side can be made to reserve memory by a count alone.
namespace RenderProtocol {

enum class Op : quint8 { Open = 1, Close, Render, Outline, Links, Search, Selection, Sizes, Ping, Probe = 100 };

// Largest message either side accepts.
constexpr quint32 maxMessageBytes = 64u << 20;
// Most descriptors one frame carries.
constexpr quint32 maxFramedFds = 4;
// Largest page the helper draws into shared memory.
constexpr qint64 maxPageBytes = 512ll << 20;
// Longest side of a page drawn in bands.
constexpr qint32 maxBandedSide = 1 << 17;
// Most pages a document served by the helper may have.
constexpr qint32 maxPages = 1 << 20;
// Most page sizes one Sizes answer carries.
constexpr qint32 maxSizesPerAnswer = 4096;
// Most entries of one list in a message, and most characters of a text the
// program sends (a password, a search).
constexpr qsizetype maxListEntries = 1 << 20;
constexpr qsizetype maxRequestTextChars = 1 << 16;
// Most buffer ids one request retires.
constexpr qsizetype maxRetiredPerRequest = 4096;

constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_4;

// Whether a page of `bytes` is drawn into shared memory of `bufferBytes`.
// The buffer stays whole under the image (the program's page cache counts
// all of it): handing its rest back would only have the next larger page
// clear that memory again.
constexpr bool pageFits(qint64 bytes, qint64 bufferBytes)
{
    return bytes > 0 && bytes <= maxPageBytes && bytes <= bufferBytes;
}
// The bytes of a page of `pixels` (RGB32), -1 for a size no page has.
qint64 pageBytes(const QSize &pixels);

// A page buffer as a request names it.
struct PageBufferRef
{
    quint32 id = 0;        // 0: none
    bool attached = false; // its memfd comes with this request
    bool operator==(const PageBufferRef &) const = default;
};

// ---- requests ----

struct OpenRequest
{
    quint32 handle = 0;
    QString password;
    // Page 0 drawn into `buffer` as the document opens; none when not asked
    // for, or when the layout is one the view never asks for (the document
    // still opens: the page is left to a render of its own).
    std::optional<PdfFirstPage> firstPage;
    PageBufferRef buffer;
    QList<quint32> retired;
    // The document's descriptor, then the buffer's when attached.
    size_t fdCount() const { return buffer.attached ? 2 : 1; }
};

struct CloseRequest
{
    quint32 handle = 0;
    bool operator==(const CloseRequest &) const = default;
};

struct SizesRequest
{
    quint32 handle = 0;
    qint32 first = 0;
    qint32 count = 0;
    bool operator==(const SizesRequest &) const = default;
};

struct RenderRequest
{
    quint32 handle = 0;
    qint32 page = 0;
    QSize pixels;
    qint32 rotation = 0;
    PageBufferRef buffer;
    QList<quint32> retired;
    // Rows bandTop ... bandTop + bandRows - 1 alone (rotation 0); 0 rows:
    // the whole page.
    qint32 bandTop = 0;
    qint32 bandRows = 0;
    size_t fdCount() const { return buffer.attached ? 1 : 0; }
    // What the helper draws: the page, or the band of it.
    QSize drawnSize() const { return bandRows > 0 ? QSize(pixels.width(), bandRows) : pixels; }
    bool operator==(const RenderRequest &) const = default;
};

struct OutlineRequest
{
    quint32 handle = 0;
    bool operator==(const OutlineRequest &) const = default;
};

struct LinksRequest
{
    quint32 handle = 0;
    qint32 page = 0;
    bool operator==(const LinksRequest &) const = default;
};

struct SearchRequest
{
    quint32 handle = 0;
    QString text;
    bool operator==(const SearchRequest &) const = default;
};

struct SelectionRequest
{
    quint32 handle = 0;
    qint32 page = 0;
    QPointF from, to;
    bool operator==(const SelectionRequest &) const = default;
};

struct PingRequest
{
    bool operator==(const PingRequest &) const = default;
};

struct ProbeRequest
{
    bool operator==(const ProbeRequest &) const = default;
};

// ---- answers ----

struct Hello
{
    qint32 landlockAbi = 0; // 0: the kernel has none
    bool landlock = false;  // the rule set is in force
    bool seccomp = false;   // the filter is in force
    QString missing;        // what could not be applied, and why
    bool operator==(const Hello &) const = default;
};

struct OpenAnswer
{
    PdfOpenStatus status = PdfOpenStatus::Unreadable;
    qint32 pageCount = 0; // 1 ... maxPages when Ok
    QSizeF firstPageSize;
    QString title;
    QSize drawn; // empty: the first page was not drawn
    bool operator==(const OpenAnswer &) const = default;
};

struct SizesAnswer
{
    QList<QSizeF> sizes;
    bool operator==(const SizesAnswer &) const = default;
};

struct RenderAnswer
{
    QSize drawn;
    bool operator==(const RenderAnswer &) const = default;
};

struct OutlineAnswer
{
    QList<PdfOutlineEntry> entries;
};

struct LinksAnswer
{
    QList<PdfLinkInfo> links;
};

struct SearchAnswer
{
    QList<PdfSearchHit> hits;
};

struct SelectionAnswer
{
    QString text;
    QList<QPolygonF> bounds;
    bool operator==(const SelectionAnswer &) const = default;
};

struct PingAnswer
{
    bool operator==(const PingAnswer &) const = default;
};

struct ProbeAnswer
{
    QList<QPair<QString, qint32>> results;
    bool operator==(const ProbeAnswer &) const = default;
};

// The Op a request starts with; none for an empty body or an unknown Op.
std::optional<Op> opOf(QByteArrayView request);

// Each request and answer: encode gives the whole body; decode is true only
// for a whole, well-formed body of that message.  An answer that the helper
// could not carry out is refusal(); decoding it as any answer is false.
QByteArray encode(const OpenRequest &m);
QByteArray encode(const CloseRequest &m);
QByteArray encode(const SizesRequest &m);
QByteArray encode(const RenderRequest &m);
QByteArray encode(const OutlineRequest &m);
QByteArray encode(const LinksRequest &m);
QByteArray encode(const SearchRequest &m);
QByteArray encode(const SelectionRequest &m);
QByteArray encode(const PingRequest &m);
QByteArray encode(const ProbeRequest &m);
QByteArray encode(const Hello &m);
QByteArray encode(const OpenAnswer &m);
QByteArray encode(const SizesAnswer &m);
QByteArray encode(const RenderAnswer &m);
QByteArray encode(const OutlineAnswer &m);
QByteArray encode(const LinksAnswer &m);
QByteArray encode(const SearchAnswer &m);
QByteArray encode(const SelectionAnswer &m);
QByteArray encode(const PingAnswer &m);
QByteArray encode(const ProbeAnswer &m);
QByteArray refusal();

bool decode(QByteArrayView body, OpenRequest *m);
bool decode(QByteArrayView body, CloseRequest *m);
bool decode(QByteArrayView body, SizesRequest *m);
bool decode(QByteArrayView body, RenderRequest *m);
bool decode(QByteArrayView body, OutlineRequest *m);
bool decode(QByteArrayView body, LinksRequest *m);
bool decode(QByteArrayView body, SearchRequest *m);
bool decode(QByteArrayView body, SelectionRequest *m);
bool decode(QByteArrayView body, PingRequest *m);
bool decode(QByteArrayView body, ProbeRequest *m);
bool decode(QByteArrayView body, Hello *m);
bool decode(QByteArrayView body, OpenAnswer *m);
bool decode(QByteArrayView body, SizesAnswer *m);
bool decode(QByteArrayView body, RenderAnswer *m);
bool decode(QByteArrayView body, OutlineAnswer *m);
bool decode(QByteArrayView body, LinksAnswer *m);
bool decode(QByteArrayView body, SearchAnswer *m);
bool decode(QByteArrayView body, SelectionAnswer *m);
bool decode(QByteArrayView body, PingAnswer *m);
bool decode(QByteArrayView body, ProbeAnswer *m);

// The first page's layout in an Open request.  The reader refuses values
// outside what the view can ask for.
void writeFirstPage(QDataStream &s, const PdfFirstPage &first);
bool readFirstPage(QDataStream &s, PdfFirstPage *first);

// QDataStream data of the values, in order.
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

// One side of the conversation: reads messages from one socket and writes
// them to another (or the same), frames them, passes descriptors along, and
// keeps what one read brought beyond the message it was after (a Close and
// the request behind it may come in one read).  A message is read whole in
// one system call when it is there; a sender writes a frame in one.
// One thread at a time; the sockets stay the caller's to close.
class Channel
{
public:
    explicit Channel(int socket = -1) : Channel(socket, socket) {}
    Channel(int input, int output) : m_input(input), m_output(output) {}
    ~Channel();
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    int input() const { return m_input; }
    // New sockets (or none, -1); what was read from the last ones goes.
    void reset(int input, int output);

    // Sends one message with the descriptors (they stay the caller's).
    // False when it could not be sent; *peerGone then tells whether the
    // other end had closed before any of it went (the peer had gone away).
    bool send(QByteArrayView body, const std::vector<int> &fds = {}, bool *peerGone = nullptr);

    // Receives one message and the descriptors it carries (the caller owns
    // them; with fds null they are closed).  Blocks until it is there; when
    // msLeft is given, the socket is expected to time a read out now and
    // then (SO_RCVTIMEO) and msLeft() is asked how long there is left: at 0
    // or less it gives up with *timedOut.  False on end of stream, a timeout,
    // a frame larger than maxMessageBytes, or fewer descriptors than the
    // frame says.
    bool receive(QByteArray *body, std::vector<int> *fds, const std::function<qint64()> &msLeft = {},
                 bool *timedOut = nullptr);

    // Whether bytes beyond the last message have been read already.
    bool hasBuffered() const { return !m_in.isEmpty(); }

private:
    void dropFds();

    int m_input;
    int m_output;
    QByteArray m_in;     // read, not yet handed out
    std::deque<int> m_fds; // received, not yet handed out
};

} // namespace RenderProtocol
