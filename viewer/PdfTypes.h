#pragma once

#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>

// Plain values that cross the render seam (worker thread <-> view).

// Outcome of opening a document.
enum class PdfOpenStatus { Ok, NeedsPassword, WrongPassword, NotFound, Unreadable, InvalidFormat, NoPages, Unsupported };

struct PdfOutlineEntry
{
    QString title;
    int level = 0;      // 0 for top-level entries
    int page = -1;      // target page, -1 when the entry has none
    QPointF location;   // in points from the page's top-left
};

struct PdfLinkInfo
{
    QRectF rect;        // points, page coordinates (unrotated)
    int page = -1;      // internal target page, -1 for none
    QPointF location;
    QUrl url;           // external target
};

struct PdfSearchHit
{
    int page = 0;
    QList<QRectF> rects; // points
};

struct PdfDocumentInfo
{
    quint64 docId = 0;
    QString path;
    qint64 mtimeMs = 0;
    PdfOpenStatus status = PdfOpenStatus::Unreadable;
    QList<QSizeF> pageSizes; // points, unrotated
    QString title;
    int pageCount() const { return int(pageSizes.size()); }
    bool ok() const { return status == PdfOpenStatus::Ok; }
};

Q_DECLARE_METATYPE(PdfDocumentInfo)
Q_DECLARE_METATYPE(PdfOutlineEntry)
Q_DECLARE_METATYPE(PdfLinkInfo)
Q_DECLARE_METATYPE(PdfSearchHit)
