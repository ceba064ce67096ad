#include "viewer/PagePlan.h"

#include <algorithm>

namespace PagePlan {

QSize pixelsOf(const PageLayout::Result &layout, int page, qreal dpr)
{
    const QRect r = layout.rects.value(page);
    return r.isNull() ? QSize() : PageLayout::pixelSize(r.size(), dpr);
}

Requests plan(const View &view, const std::function<bool(int page, const QSize &pixels)> &ready)
{
    Requests out;
    const QList<QRect> &rects = view.layout.rects;
    const int centre = view.visibleArea.center().y();
    const int rotation = view.params.rotation;
    const int pageCount = int(view.pageSizesPt.size());
    QList<int> visible;
    int first = -1, last = -1;
    for (int i = 0; i < rects.size(); ++i) {
        const QRect &r = rects.at(i);
        if (r.isNull() || !r.intersects(view.visibleArea))
            continue;
        visible << i;
        if (first < 0)
            first = i;
        last = i;
    }
    std::sort(visible.begin(), visible.end(), [&](int a, int b) {
        return qAbs(rects.at(a).center().y() - centre) < qAbs(rects.at(b).center().y() - centre);
    });
    for (int page : std::as_const(visible)) {
        const QSize px = pixelsOf(view.layout, page, view.dpr);
        if (ready(page, px))
            continue;
        out.visible << PageRequest{page, px, view.dpr, rotation};
        out.pending.insert(page);
    }
    // The pages just out of sight, so that scrolling on finds them ready; only
    // once the document is on screen, so as not to compete with its first page.
    if (!view.firstPainted)
        return out;
    if (view.params.mode == PageLayout::Mode::SinglePage) {
        for (int p : {view.currentPage + 1, view.currentPage - 1}) {
            if (p < 0 || p >= pageCount)
                continue;
            PageLayout::Params params = view.params;
            params.currentPage = p;
            const QRect r = PageLayout::compute(view.pageSizesPt, params).rects.value(p);
            out.nearby << PageRequest{p, PageLayout::pixelSize(r.size(), view.dpr), view.dpr, rotation};
        }
    } else if (first >= 0) {
        for (int p : {last + 1, first - 1})
            if (p >= 0 && p < pageCount)
                out.nearby << PageRequest{p, pixelsOf(view.layout, p, view.dpr), view.dpr, rotation};
    }
    return out;
}

} // namespace PagePlan
