#pragma once

#include "viewer/PageLayout.h"
#include "viewer/PdfTypes.h"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QPolygonF>
#include <QRect>
#include <QSizeF>

#include <optional>

// Where the pages of a laid-out document are in the page view, and back: a
// page point (points from the unrotated page's top-left) to a viewport
// point under the view's rotation and zoom, the page and link under the
// pointer, and where to scroll for a page or a find hit.  A plain value made
// from the view's layout and scroll position; any thread.
class PageViewGeometry
{
public:
    PageViewGeometry() = default;
    // rects: the layout's page rectangles (content coordinates); pageSizesPt:
    // the pages' unrotated sizes; scroll: the scroll bars' values.
    PageViewGeometry(QList<QRect> rects, QList<QSizeF> pageSizesPt, int rotation, QPoint scroll)
        : m_rects(std::move(rects)), m_sizes(std::move(pageSizesPt)), m_rotation(rotation & 3), m_scroll(scroll)
    {
    }

    // The page's rectangle in the viewport; null when it is not laid out.
    QRect pageRect(int page) const;
    QPointF toViewport(int page, const QPointF &pt) const;
    QRectF toViewport(int page, const QRectF &rectPt) const;
    // A selection's outline, page points to the viewport.
    QPolygonF toViewport(int page, const QPolygonF &polygonPt) const;
    QPointF toPage(int page, const QPoint &viewportPos) const;
    // The page under a viewport point; -1 for none.
    int pageAt(const QPoint &viewportPos) const;
    // The link under a viewport point among the links known per page.
    std::optional<PdfLinkInfo> linkAt(const QPoint &viewportPos, const QHash<int, QList<PdfLinkInfo>> &links) const;

    // The vertical scroll value that brings `page` to the top, or the point
    // `locationPt` of it when that is given (x and y not negative).  In
    // single-page mode (where the page is the one laid out) without a
    // location, the top of the page.
    int pageScrollTarget(int page, const QPointF &locationPt, bool singlePage) const;
    // The vertical scroll value that centres the hit's first rectangle in a
    // viewport `viewportHeight` high; the present value for a hit without one.
    int hitScrollTarget(const PdfSearchHit &hit, int viewportHeight) const;
    // The current page of a continuous layout: the last page whose top is
    // above a third of the viewport's height; `fallback` when there is none.
    int currentPageAt(int viewportHeight, int fallback) const;

private:
    QList<QRect> m_rects;
    QList<QSizeF> m_sizes;
    int m_rotation = 0;
    QPoint m_scroll;
};

// What a key does in the page view, decided from the scroll position.
struct PageKeyMove
{
    enum class Kind {
        Unhandled,  // the key is not the view's
        Stay,       // taken, nothing moves (no page beyond the last, say)
        Scroll,     // a scroll bar's action
        ShowPage,   // single-page mode: another page, at its top or bottom
        GoToPage,
    };
    enum class Scroll { LineDown, LineUp, PageDown, PageUp, LineLeft, LineRight };

    Kind kind = Kind::Unhandled;
    Scroll scroll = Scroll::LineDown;
    int page = -1;
    bool toBottom = false; // ShowPage: at its bottom (paging back)

    friend bool operator==(const PageKeyMove &, const PageKeyMove &) = default;
};

// Where the view stands when a key or the wheel comes.
struct PageViewPosition
{
    bool singlePage = false;
    int currentPage = 0;
    int pageCount = 0;
    int vValue = 0;
    int vMaximum = 0;
    int hMaximum = 0;
};

// `key` is a Qt::Key; Home, End, the arrows, Page Up/Down and Space are the
// view's.  In single-page mode a key that scrolls past the page's edge
// shows the next or previous page instead.
PageKeyMove pageKeyMove(int key, const PageViewPosition &at);

// The page single-page mode shows after stepping `delta` from `current`;
// none past either end.
std::optional<int> singlePageStep(int current, int delta, int pageCount);

// The wheel in the page view: it scrolls, except at the page's edge in
// single-page mode, where it turns the page once a full notch (120) has
// been turned that way.
class WheelPaging
{
public:
    // What one wheel event does.
    struct Move
    {
        bool scrolls = true; // else it was taken up at the edge
        QPoint scrollBy;     // when it scrolls: subtracted from the scroll values
        int turn = 0;        // at the edge: +1 the next page (from its top), -1 the previous one (from its bottom)
    };
    Move onWheel(const QPoint &angleDelta, const QPoint &pixelDelta, const PageViewPosition &at);

private:
    int m_atEdge = 0; // wheel turned against the edge so far
};
