#include "viewer/PageViewGeometry.h"

#include <Qt>

QRect PageViewGeometry::pageRect(int page) const
{
    const QRect r = m_rects.value(page);
    if (r.isNull())
        return r;
    return r.translated(-m_scroll);
}

QPointF PageViewGeometry::toViewport(int page, const QPointF &pt) const
{
    const QRect r = pageRect(page);
    const QSizeF s = m_sizes.value(page);
    const qreal W = s.width(), H = s.height();
    QPointF q;
    switch (m_rotation) {
    case 1: q = QPointF(H - pt.y(), pt.x()); break;
    case 2: q = QPointF(W - pt.x(), H - pt.y()); break;
    case 3: q = QPointF(pt.y(), W - pt.x()); break;
    default: q = pt; break;
    }
    const QSizeF rs = (m_rotation % 2) ? s.transposed() : s;
    return QPointF(r.left() + q.x() * r.width() / rs.width(), r.top() + q.y() * r.height() / rs.height());
}

QRectF PageViewGeometry::toViewport(int page, const QRectF &rectPt) const
{
    return QRectF(toViewport(page, rectPt.topLeft()), toViewport(page, rectPt.bottomRight())).normalized();
}

QPolygonF PageViewGeometry::toViewport(int page, const QPolygonF &polygonPt) const
{
    QPolygonF out;
    out.reserve(polygonPt.size());
    for (const QPointF &pt : polygonPt)
        out << toViewport(page, pt);
    return out;
}

QPointF PageViewGeometry::toPage(int page, const QPoint &pos) const
{
    const QRect r = pageRect(page);
    const QSizeF s = m_sizes.value(page);
    const QSizeF rs = (m_rotation % 2) ? s.transposed() : s;
    const qreal u = (pos.x() - r.left()) * rs.width() / qMax(1, r.width());
    const qreal v = (pos.y() - r.top()) * rs.height() / qMax(1, r.height());
    const qreal W = s.width(), H = s.height();
    switch (m_rotation) {
    case 1: return QPointF(v, H - u);
    case 2: return QPointF(W - u, H - v);
    case 3: return QPointF(W - v, u);
    default: return QPointF(u, v);
    }
}

int PageViewGeometry::pageAt(const QPoint &pos) const
{
    for (int i = 0; i < m_rects.size(); ++i)
        if (pageRect(i).contains(pos))
            return i;
    return -1;
}

std::optional<PdfLinkInfo> PageViewGeometry::linkAt(const QPoint &pos,
                                                    const QHash<int, QList<PdfLinkInfo>> &links) const
{
    const int page = pageAt(pos);
    auto it = links.constFind(page);
    if (page < 0 || it == links.constEnd())
        return std::nullopt;
    const QPointF pt = toPage(page, pos);
    for (const PdfLinkInfo &l : *it)
        if (l.rect.contains(pt))
            return l;
    return std::nullopt;
}

int PageViewGeometry::pageScrollTarget(int page, const QPointF &locationPt, bool singlePage) const
{
    int y = m_rects.value(page).top() - PageLayout::margin;
    if (locationPt.x() >= 0 && locationPt.y() >= 0)
        y = qRound(toViewport(page, locationPt).y()) + m_scroll.y() - PageLayout::margin;
    if (singlePage && locationPt.y() < 0)
        y = 0;
    return y;
}

int PageViewGeometry::hitScrollTarget(const PdfSearchHit &hit, int viewportHeight) const
{
    if (hit.rects.isEmpty())
        return m_scroll.y();
    const QRectF vr = toViewport(hit.page, hit.rects.first());
    return m_scroll.y() + qRound(vr.center().y()) - viewportHeight / 2;
}

int PageViewGeometry::currentPageAt(int viewportHeight, int fallback) const
{
    const int line = m_scroll.y() + viewportHeight / 3;
    int best = fallback;
    for (int i = 0; i < m_rects.size(); ++i) {
        if (m_rects.at(i).top() > line + PageLayout::gap)
            break;
        best = i;
    }
    return best;
}

std::optional<int> singlePageStep(int current, int delta, int pageCount)
{
    const int target = current + delta;
    if (target < 0 || target >= pageCount)
        return std::nullopt;
    return target;
}

PageKeyMove pageKeyMove(int key, const PageViewPosition &at)
{
    using Kind = PageKeyMove::Kind;
    using Scroll = PageKeyMove::Scroll;
    const auto scroll = [](Scroll s) { return PageKeyMove{Kind::Scroll, s}; };
    const auto showPage = [&](int delta) {
        const std::optional<int> page = singlePageStep(at.currentPage, delta, at.pageCount);
        return page ? PageKeyMove{Kind::ShowPage, Scroll::LineDown, *page, delta < 0} : PageKeyMove{Kind::Stay};
    };
    const auto goTo = [](int page) { return PageKeyMove{Kind::GoToPage, Scroll::LineDown, page}; };
    const bool atBottom = at.singlePage && at.vValue == at.vMaximum;
    const bool atTop = at.singlePage && at.vValue == 0;
    switch (key) {
    case Qt::Key_Down:
        return atBottom ? showPage(1) : scroll(Scroll::LineDown);
    case Qt::Key_Up:
        return atTop ? showPage(-1) : scroll(Scroll::LineUp);
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        return atBottom ? showPage(1) : scroll(Scroll::PageDown);
    case Qt::Key_PageUp:
        return atTop ? showPage(-1) : scroll(Scroll::PageUp);
    case Qt::Key_Home:
        return goTo(0);
    case Qt::Key_End:
        return goTo(at.pageCount - 1);
    case Qt::Key_Left:
        return at.hMaximum > 0 ? scroll(Scroll::LineLeft) : goTo(at.currentPage - 1);
    case Qt::Key_Right:
        return at.hMaximum > 0 ? scroll(Scroll::LineRight) : goTo(at.currentPage + 1);
    default:
        return {};
    }
}

WheelPaging::Move WheelPaging::onWheel(const QPoint &angleDelta, const QPoint &pixelDelta,
                                       const PageViewPosition &at)
{
    // One notch (120) scrolls three lines of 40 pixels.
    const int dy = !pixelDelta.isNull() ? pixelDelta.y() : angleDelta.y();
    const int dx = !pixelDelta.isNull() ? pixelDelta.x() : angleDelta.x();
    Move move;
    if (at.singlePage && dy != 0 && ((dy < 0 && at.vValue == at.vMaximum) || (dy > 0 && at.vValue == 0))) {
        move.scrolls = false;
        m_atEdge += angleDelta.y() != 0 ? angleDelta.y() : dy;
        if (qAbs(m_atEdge) >= 120) {
            move.turn = m_atEdge < 0 ? 1 : -1;
            m_atEdge = 0;
        }
        return move;
    }
    m_atEdge = 0;
    move.scrollBy = QPoint(dx, dy);
    return move;
}
