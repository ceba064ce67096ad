#pragma once

#include "viewer/PageKey.h"
#include "viewer/PageLayout.h"

#include <QList>
#include <QRect>
#include <QSet>

#include <functional>

// Which pages the page view asks the render service for, and what it keeps
// meanwhile.  Pure; any thread.
namespace PagePlan {

// The view as it is when it plans.
struct View
{
    QList<QSizeF> pageSizesPt;
    PageLayout::Params params;   // as the layout was computed
    PageLayout::Result layout;
    QRect visibleArea;           // content coordinates
    qreal dpr = 1.0;
    int currentPage = 0;
    bool firstPainted = false;   // the document has been on screen
};

struct Requests
{
    QList<PageRequest> visible; // the Visible group: nearest the centre of the view first
    QList<PageRequest> nearby;  // the Nearby group: just out of sight
    QSet<int> pending;          // the pages in sight still to come
};

// Device pixels of a laid-out page; empty when it is not laid out.
QSize pixelsOf(const PageLayout::Result &layout, int page, qreal dpr);

// The pages to ask for: the ones in sight that `ready` says are not drawn
// yet (at their size), nearest first; once the document is on screen, the
// pages next to them too (in single-page mode, the pages before and after
// the current one, laid out as they would be shown).
Requests plan(const View &view, const std::function<bool(int page, const QSize &pixels)> &ready);

// Whether a picture drawn as `key` is the one the view wants of the page now.
inline bool isExact(const PageKey &key, const QSize &wantedPixels, int rotation)
{
    return key.pixelSize == wantedPixels && key.rotation == rotation;
}

// Placeholder pictures (a page's last picture, of any size, shown while the
// right one is drawn) are kept for pages this close to the current one.
inline constexpr int placeholderReach = 6;
inline bool keepsPlaceholder(int page, int currentPage)
{
    return qAbs(page - currentPage) <= placeholderReach;
}

} // namespace PagePlan
