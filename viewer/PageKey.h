#pragma once

#include <QSize>
#include <QString>
#include <QtGlobal>

// One page at one size: what a page request asks the render service for.
struct PageRequest
{
    int page = 0;
    QSize pixelSize;   // device pixels
    qreal dpr = 1.0;
    int rotation = 0;  // quarter turns clockwise
};

// A file as it was opened: its modification time then tells a later change.
struct PageFile
{
    QString path;
    qint64 mtimeMs = 0;
};

// Identity of one rendered page image.  The modification time keeps a file
// that changed on disk from being served stale pixels; the device pixel ratio
// is part of the key because the same logical size differs in pixels on HiDPI.
struct PageKey
{
    QString path;
    qint64 mtimeMs = 0;
    int page = 0;
    QSize pixelSize;
    int dprMilli = 1000;
    int rotation = 0;   // quarter turns

    // The key of `request` drawn from `file`.
    static PageKey of(const PageFile &file, const PageRequest &request)
    {
        PageKey key;
        key.path = file.path;
        key.mtimeMs = file.mtimeMs;
        key.page = request.page;
        key.pixelSize = request.pixelSize;
        key.dprMilli = qRound(request.dpr * 1000);
        key.rotation = request.rotation & 3;
        return key;
    }

    friend bool operator==(const PageKey &a, const PageKey &b)
    {
        return a.page == b.page && a.pixelSize == b.pixelSize && a.mtimeMs == b.mtimeMs
               && a.dprMilli == b.dprMilli && a.rotation == b.rotation
               && a.path == b.path;
    }
};

inline size_t qHash(const PageKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.path, key.mtimeMs, key.page, key.pixelSize.width(), key.pixelSize.height(),
                      key.dprMilli, key.rotation);
}
