#include "browse/ThumbnailPng.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdlib>
#include <cstring>
#include <zlib.h>

namespace {

constexpr char signature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype signatureSize = 8;
// Twice the largest thumbnail; a header asking for more is not one.
constexpr quint32 maxSide = 2048;

quint32 be32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

bool isPng(const QByteArray &png)
{
    return png.size() >= signatureSize && std::memcmp(png.constData(), signature, signatureSize) == 0;
}

// One chunk, checked to lie inside the file.
struct Chunk
{
    const uchar *type = nullptr;
    const uchar *data = nullptr;
    quint32 length = 0;

    bool is(const char *name) const { return std::memcmp(type, name, 4) == 0; }
    // Whether the checksum after the data is that of the type and data.
    bool intact() const
    {
        const uLong crc = crc32(crc32(0, nullptr, 0), type, uInt(length) + 4);
        return quint32(crc) == be32(data + length);
    }
};

// Walks the chunks of a PNG; next() is false at the end of the file or at a
// chunk that would run past it.
class Chunks
{
public:
    explicit Chunks(const QByteArray &png)
        : m_at(reinterpret_cast<const uchar *>(png.constData()) + signatureSize),
          m_end(reinterpret_cast<const uchar *>(png.constData()) + png.size())
    {
    }
    bool next(Chunk *chunk)
    {
        if (m_end - m_at < 12)
            return false;
        const quint32 length = be32(m_at);
        if (length > quint32(m_end - m_at - 12))
            return false;
        chunk->length = length;
        chunk->type = m_at + 4;
        chunk->data = m_at + 8;
        m_at += 12 + qsizetype(length);
        return true;
    }

private:
    const uchar *m_at;
    const uchar *m_end;
};

// Reverses a row's filter in place; `prev` is the row above, already
// reversed, or null for the first row.  Bpp bytes per pixel.
template<int Bpp>
bool unfilter(int filter, uchar *row, const uchar *prev, qsizetype length)
{
    switch (filter) {
    case 0: // None
        return true;
    case 1: // Sub
        for (qsizetype i = Bpp; i < length; ++i)
            row[i] = uchar(row[i] + row[i - Bpp]);
        return true;
    case 2: // Up
        if (prev)
            for (qsizetype i = 0; i < length; ++i)
                row[i] = uchar(row[i] + prev[i]);
        return true;
    case 3: // Average
        if (!prev) {
            for (qsizetype i = Bpp; i < length; ++i)
                row[i] = uchar(row[i] + (row[i - Bpp] >> 1));
            return true;
        }
        for (qsizetype i = 0; i < Bpp; ++i)
            row[i] = uchar(row[i] + (prev[i] >> 1));
        for (qsizetype i = Bpp; i < length; ++i)
            row[i] = uchar(row[i] + ((row[i - Bpp] + prev[i]) >> 1));
        return true;
    case 4: // Paeth
        if (!prev) {
            for (qsizetype i = Bpp; i < length; ++i)
                row[i] = uchar(row[i] + row[i - Bpp]);
            return true;
        }
        for (qsizetype i = 0; i < Bpp; ++i)
            row[i] = uchar(row[i] + prev[i]);
        for (qsizetype i = Bpp; i < length; ++i) {
            const int a = row[i - Bpp], b = prev[i], c = prev[i - Bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            row[i] = uchar(row[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
        }
        return true;
    }
    return false;
}

// Reverses the filters of the inflated rows and writes the pixels into `image`.
template<int Bpp>
bool toImage(uchar *rows, QImage *image)
{
    const int width = image->width();
    const qsizetype length = qsizetype(width) * Bpp;
    const uchar *prev = nullptr;
    for (int y = 0; y < image->height(); ++y) {
        uchar *row = rows + y * (length + 1);
        uchar *bytes = row + 1;
        if (!unfilter<Bpp>(row[0], bytes, prev, length))
            return false;
        auto *out = reinterpret_cast<QRgb *>(image->scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uchar *p = bytes + x * Bpp;
            if constexpr (Bpp == 3)
                out[x] = qRgb(p[0], p[1], p[2]);
            else
                out[x] = p[3] == 255 ? qRgb(p[0], p[1], p[2]) : qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
        }
        prev = bytes;
    }
    return true;
}

// The zlib stream of the image data, inflated into `out`, which it must fill
// exactly.  The stream's own Adler-32 is not recomputed: the checksum of
// every chunk it came in already covers each byte of it.
bool inflateAll(const uchar *stream, qsizetype size, uchar *out, qsizetype outSize)
{
    if (size < 2)
        return false;
    const uint cmf = stream[0], flg = stream[1];
    // Deflate, a window of at most 32 KiB, no preset dictionary.
    if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20))
        return false;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef *>(stream + 2);
    z.avail_in = uInt(size - 2);
    z.next_out = out;
    z.avail_out = uInt(outSize);
    // All at once, with room for all of it: no sliding window is kept.
    const int result = inflate(&z, Z_FINISH);
    const bool ok = result == Z_STREAM_END && qsizetype(z.total_out) == outSize;
    inflateEnd(&z);
    return ok;
}

// The picture of an 8-bit RGB or RGBA PNG that is not interlaced; with
// `handled` false for any other kind.
QImage decodeDirect(const QByteArray &png, bool *handled)
{
    *handled = false;
    Chunks chunks(png);
    Chunk chunk;
    if (!chunks.next(&chunk) || !chunk.is("IHDR") || chunk.length != 13)
        return {};
    const uchar *h = chunk.data;
    const quint32 width = be32(h), height = be32(h + 4);
    const int depth = h[8], colorType = h[9], compression = h[10], filter = h[11], interlace = h[12];
    if (depth != 8 || (colorType != 2 && colorType != 6) || compression || filter || interlace)
        return {};
    *handled = true;
    if (!chunk.intact() || width == 0 || height == 0 || width > maxSide || height > maxSide)
        return {};
    const int bpp = colorType == 6 ? 4 : 3;

    // The image data: one chunk (the usual case for a thumbnail) is read
    // where it lies, several are joined.
    const uchar *stream = nullptr;
    qsizetype streamSize = 0;
    QByteArray joined;
    bool inData = false;
    while (chunks.next(&chunk)) {
        if (chunk.is("IDAT")) {
            if (!chunk.intact())
                return {};
            if (!inData) {
                stream = chunk.data;
                streamSize = chunk.length;
                inData = true;
            } else {
                if (joined.isEmpty())
                    joined = QByteArray(reinterpret_cast<const char *>(stream), streamSize);
                joined.append(reinterpret_cast<const char *>(chunk.data), chunk.length);
                stream = reinterpret_cast<const uchar *>(joined.constData());
                streamSize = joined.size();
            }
        } else if (inData || chunk.is("IEND")) {
            break; // the image data ends at the first other chunk
        }
    }
    if (!inData)
        return {};

    const qsizetype rowBytes = qsizetype(width) * bpp + 1;
    QByteArray rows(rowBytes * qsizetype(height), Qt::Uninitialized);
    if (!inflateAll(stream, streamSize, reinterpret_cast<uchar *>(rows.data()), rows.size()))
        return {};
    QImage image(int(width), int(height), bpp == 4 ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    auto *bytes = reinterpret_cast<uchar *>(rows.data());
    const bool ok = bpp == 4 ? toImage<4>(bytes, &image) : toImage<3>(bytes, &image);
    return ok ? image : QImage();
}

// A compressed text (a zlib stream) of at most `limit` bytes once inflated;
// false for a damaged one or one that would grow past the limit.  The keys
// a thumbnail carries are short: a planted file whose text inflates to
// gigabytes costs no more than the limit.
bool inflateText(const QByteArray &compressed, qsizetype limit, QByteArray *text)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    z.avail_in = uInt(compressed.size());
    // Room for a key of the usual length first, more only as it is needed.
    text->resize(qMin<qsizetype>(limit, 256));
    int result = Z_OK;
    for (;;) {
        z.next_out = reinterpret_cast<Bytef *>(text->data()) + z.total_out;
        z.avail_out = uInt(text->size() - qsizetype(z.total_out));
        result = inflate(&z, Z_FINISH);
        const bool wantsRoom = (result == Z_OK || result == Z_BUF_ERROR) && z.avail_out == 0;
        if (!wantsRoom || text->size() >= limit)
            break;
        text->resize(qMin(limit, text->size() * 4));
    }
    text->truncate(qsizetype(z.total_out));
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

constexpr qsizetype maxTextBytes = 64 * 1024;

} // namespace

namespace ThumbnailPng {

bool readHead(const QByteArray &png, Head *head)
{
    if (!isPng(png))
        return false;
    Chunks chunks(png);
    Chunk chunk;
    while (chunks.next(&chunk)) {
        const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(chunk.data), chunk.length);
        if (chunk.is("IHDR") && data.size() >= 8) {
            head->size = QSize(int(be32(chunk.data)), int(be32(chunk.data + 4)));
        } else if (chunk.is("tEXt") || chunk.is("zTXt") || chunk.is("iTXt")) {
            const qsizetype nul = data.indexOf('\0');
            if (nul > 0) {
                const QByteArray key = data.left(nul);
                QByteArray rest = data.mid(nul + 1);
                bool utf8 = false;
                bool compressed = chunk.is("zTXt");
                if (chunk.is("zTXt")) {
                    rest = rest.mid(1); // compression method
                } else if (chunk.is("iTXt")) {
                    // compression flag, method, language\0, translated key\0, text
                    compressed = rest.size() > 0 && rest[0] != 0;
                    const qsizetype language = rest.indexOf('\0', 2);
                    const qsizetype translated = language < 0 ? -1 : rest.indexOf('\0', language + 1);
                    rest = translated < 0 ? QByteArray() : rest.mid(translated + 1);
                    utf8 = true;
                }
                QByteArray inflated;
                if (compressed && !inflateText(rest, maxTextBytes, &inflated))
                    continue; // damaged, or longer than any key of ours: not taken
                if (compressed)
                    rest = inflated;
                head->text.insert(key, utf8 ? QString::fromUtf8(rest) : QString::fromLatin1(rest));
            }
        } else if (chunk.is("IDAT") || chunk.is("IEND")) {
            break;
        }
    }
    return head->size.isValid();
}

QImage decode(const QByteArray &png)
{
    if (!isPng(png))
        return {};
    bool handled = false;
    QImage image = decodeDirect(png, &handled);
    if (handled)
        return image;
    image = QImage::fromData(png, "png");
    if (image.isNull())
        return {};
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

} // namespace ThumbnailPng
