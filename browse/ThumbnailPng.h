#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

// The PNG files of the thumbnail cache.  The keys are read from the chunks
// before the image data (QImageReader's own text look-up splits keys at their
// first colon, and these keys hold two).  The picture of the kind every
// thumbnailer writes (8-bit RGB or RGBA, not interlaced) is decoded here in
// one go, straight into the format it is drawn from; any other kind goes
// through QImageReader.
//
// Nothing in the file is trusted: sizes are checked against the data, every
// chunk the picture comes from must carry its right checksum, and a damaged
// file gives no picture.  Widget-free, no state: any thread.
namespace ThumbnailPng {

struct Head
{
    QSize size;
    QHash<QByteArray, QString> text; // tEXt, zTXt and iTXt keys and their texts
};

// The size and the text keys; false when `png` is not a PNG.
bool readHead(const QByteArray &png, Head *head);

// The picture: Format_RGB32 when opaque, Format_ARGB32_Premultiplied with an
// alpha channel.  Null when the file is damaged or not a PNG.
QImage decode(const QByteArray &png);

} // namespace ThumbnailPng
