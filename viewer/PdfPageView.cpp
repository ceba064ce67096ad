#include "viewer/PdfPageView.h"

#include "viewer/FlatScrollBarStyle.h"
#include "viewer/PagePlan.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

PdfPageView::PdfPageView(PdfRenderService *service, QWidget *parent)
    : QAbstractScrollArea(parent), m_service(service)
{
    setObjectName(QStringLiteral("documentSurface"));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    // The view paints every pixel itself: nothing behind it is drawn first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(40);
    horizontalScrollBar()->setSingleStep(40);
    // Repainted with every document shown: drawn flat, on the spot.
    auto *flat = new FlatScrollBarStyle;
    flat->setParent(this);
    verticalScrollBar()->setStyle(flat);
    horizontalScrollBar()->setStyle(flat);
    connect(m_service, &PdfRenderService::pageRendered, this, &PdfPageView::onPageRendered);
    // The other pages' sizes follow the first page of a freshly opened
    // document: lay out again where the user is.
    connect(m_service, &PdfRenderService::pageSizesReady, this,
            [this](quint64 docId, const QList<QSizeF> &sizes) {
                if (docId != m_info.docId || sizes.size() != m_info.pageSizes.size() || sizes == m_info.pageSizes)
                    return;
                m_info.pageSizes = sizes;
                relayout();
            });
    connect(m_service, &PdfRenderService::linksReady, this,
            [this](quint64 docId, int page, const QList<PdfLinkInfo> &links) {
                if (docId != m_info.docId)
                    return;
                m_links.insert(page, links);
                viewport()->update();
            });
    connect(m_service, &PdfRenderService::selectionReady, this,
            [this](quint64 docId, int page, const QList<QPolygonF> &bounds, const QString &text) {
                if (docId != m_info.docId || page != m_selPage)
                    return;
                m_selBounds = bounds;
                m_selectionText = text;
                viewport()->update();
            });
}

void PdfPageView::setDocument(const PdfDocumentInfo &info)
{
    m_info = info.ok() ? info : PdfDocumentInfo{};
    m_placeholders.clear();
    m_sharpPages.clear();
    m_pendingPages.clear();
    m_failedPages.clear();
    m_links.clear();
    m_linksRequested.clear();
    m_hits.clear();
    m_currentHit = -1;
    m_selPage = -1;
    m_selBounds.clear();
    m_selectionText.clear();
    m_pressedLink.reset();
    m_selecting = false;
    m_firstPainted = false;
    m_params.rotation = 0;
    m_params.currentPage = 0;
    m_currentPage = 0;
    layOut();
    // The top of the document: a position that fits any range, so the pages
    // are placed right before the scroll bars know the new range.
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    emit pagesPending(false);
    emit currentPageChanged(0);
    requestVisible();
    if (m_info.docId && m_pendingPages.isEmpty() && isVisible()) {
        // The first page is already rendered (at the open, or prepared in the
        // background): it goes on screen right away, and the scroll bars,
        // whose drawing costs about as much, follow on the next loop turn.
        viewport()->repaint();
        updateScrollRanges();
    } else {
        updateScrollRanges();
        viewport()->update();
    }
}

void PdfPageView::setLayoutMode(PageLayout::Mode mode)
{
    if (m_params.mode == mode)
        return;
    const int page = m_currentPage;
    m_params.mode = mode;
    m_params.currentPage = page;
    relayout(false);
    goToPage(page);
}

void PdfPageView::setZoomMode(PageLayout::Zoom zoom)
{
    m_params.zoom = zoom;
    relayout();
}

void PdfPageView::setCustomZoom(qreal zoom)
{
    m_params.zoom = PageLayout::Zoom::Custom;
    m_params.customZoom = qBound(0.1, zoom, 8.0);
    relayout();
}

void PdfPageView::zoomBy(qreal factor)
{
    setCustomZoom(m_layout.scale * 72.0 / 96.0 * factor);
}

void PdfPageView::rotateClockwise()
{
    const int page = m_currentPage;
    m_params.rotation = (m_params.rotation + 1) % 4;
    m_placeholders.clear();
    m_links.clear();
    relayout(false);
    goToPage(page);
}

void PdfPageView::setScrollBarsShown(bool shown)
{
    // Re-applied after every load: only a change costs a new layout.
    if (shown == m_scrollBarsShown)
        return;
    m_scrollBarsShown = shown;
    setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    relayout();
}

PageLayout::Params PdfPageView::layoutParams() const
{
    PageLayout::Params p = m_params;
    p.viewport = viewport()->size();
    return p;
}

qreal PdfPageView::devicePixelRatioForPages() const
{
    return viewport()->devicePixelRatioF();
}

void PdfPageView::relayout(bool keepPosition)
{
    QScrollBar *vbar = verticalScrollBar();
    const double ratio = keepPosition && vbar->maximum() > 0 ? double(vbar->value()) / vbar->maximum() : 0.0;
    layOut();
    updateScrollRanges();
    if (keepPosition)
        vbar->setValue(qRound(ratio * vbar->maximum()));
    m_sharpPages.clear();
    requestVisible();
    viewport()->update();
}

void PdfPageView::layOut()
{
    m_params.viewport = viewport()->size();
    m_params.currentPage = m_currentPage;
    const int oldPercent = zoomPercent();
    m_layout = PageLayout::compute(m_info.pageSizes, m_params);
    if (zoomPercent() != oldPercent)
        emit zoomChanged(zoomPercent());
}

void PdfPageView::updateScrollRanges()
{
    const QSize content = m_layout.contentSize;
    const QSize vp = viewport()->size();
    verticalScrollBar()->setRange(0, qMax(0, content.height() - vp.height()));
    verticalScrollBar()->setPageStep(qMax(1, vp.height() - 40));
    horizontalScrollBar()->setRange(0, qMax(0, content.width() - vp.width()));
    horizontalScrollBar()->setPageStep(qMax(1, vp.width() - 40));
}

QSize PdfPageView::pixelSizeFor(int page) const
{
    return PagePlan::pixelsOf(m_layout, page, devicePixelRatioForPages());
}

PageViewGeometry PdfPageView::pageGeometry() const
{
    return PageViewGeometry(m_layout.rects, m_info.pageSizes, m_params.rotation,
                            QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()));
}

PageViewPosition PdfPageView::viewPosition() const
{
    PageViewPosition at;
    at.singlePage = m_params.mode == PageLayout::Mode::SinglePage;
    at.currentPage = m_currentPage;
    at.pageCount = m_info.pageCount();
    at.vValue = verticalScrollBar()->value();
    at.vMaximum = verticalScrollBar()->maximum();
    at.hMaximum = horizontalScrollBar()->maximum();
    return at;
}

QRect PdfPageView::pageRectInViewport(int page) const
{
    return pageGeometry().pageRect(page);
}

void PdfPageView::requestVisible()
{
    if (!m_info.docId || m_layout.rects.isEmpty())
        return;
    PagePlan::View view;
    view.pageSizesPt = m_info.pageSizes;
    view.params = m_params;
    view.layout = m_layout;
    view.visibleArea = QRect(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), viewport()->size());
    view.dpr = devicePixelRatioForPages();
    view.currentPage = m_currentPage;
    view.firstPainted = m_firstPainted;
    const PagePlan::Requests plan = PagePlan::plan(view, [&](int page, const QSize &px) {
        const auto key = m_service->keyFor(m_info.docId, page, px, view.dpr, m_params.rotation);
        return (key && m_service->cache().contains(*key)) || m_failedPages.contains(page);
    });
    m_service->requestPages(m_info.docId, PdfRenderService::Group::Visible, plan.visible);
    m_service->requestPages(m_info.docId, PdfRenderService::Group::Nearby, plan.nearby);
    const bool wasPending = !m_pendingPages.isEmpty();
    m_pendingPages = plan.pending;
    if (wasPending != !m_pendingPages.isEmpty())
        emit pagesPending(!m_pendingPages.isEmpty());
}

void PdfPageView::onPageRendered(quint64 docId, int page, const PageKey &key, const QImage &image)
{
    if (docId != m_info.docId || page < 0 || page >= m_layout.rects.size())
        return;
    const bool exact = PagePlan::isExact(key, pixelSizeFor(page), m_params.rotation);
    if (image.isNull()) {
        if (exact)
            m_failedPages.insert(page);
    } else if (exact || !m_placeholders.contains(page)) {
        m_placeholders.insert(page, image);
    }
    // Keep placeholders only near the pages in sight.
    for (auto it = m_placeholders.begin(); it != m_placeholders.end();) {
        if (!PagePlan::keepsPlaceholder(it.key(), m_currentPage))
            it = m_placeholders.erase(it);
        else
            ++it;
    }
    if (exact && m_pendingPages.remove(page) && m_pendingPages.isEmpty())
        emit pagesPending(false);
    if (!m_layout.rects.at(page).isNull()) {
        // The first picture of a document goes on screen at once.
        if (exact && !m_firstPainted && isVisible())
            viewport()->repaint(pageRectInViewport(page));
        else
            viewport()->update(pageRectInViewport(page));
    }
}

void PdfPageView::paintEvent(QPaintEvent *event)
{
    QPainter p(viewport());
    const QRect vis = viewport()->rect();
    // Every pixel is painted once: the background around the pages, then
    // each page's shadow edges and the page.
    const PageViewGeometry g = pageGeometry();
    QList<int> pages;
    QRegion background(event->rect());
    for (int page = 0; m_info.docId && page < m_layout.rects.size(); ++page) {
        const QRect r = g.pageRect(page);
        if (r.isNull() || !r.intersects(vis) || !event->region().intersects(r.adjusted(0, 0, 2, 2)))
            continue;
        pages << page;
        background -= r;
    }
    for (const QRect &b : background)
        p.fillRect(b, palette().color(QPalette::Dark));
    const qreal dpr = devicePixelRatioForPages();
    bool paintedSharp = false;
    for (int page : std::as_const(pages)) {
        const QRect r = g.pageRect(page);
        for (const QRect &edge : QRegion(r.translated(2, 2)) - r)
            p.fillRect(edge, QColor(0, 0, 0, 60));
        QImage img;
        const auto key = m_service->keyFor(m_info.docId, page, pixelSizeFor(page), dpr, m_params.rotation);
        if (key)
            img = m_service->cache().find(*key);
        const QImage picture = !img.isNull() || m_failedPages.contains(page) ? img : m_placeholders.value(page);
        // Pages are drawn opaque: the paper shows only where there is no picture yet.
        if (picture.isNull() || picture.hasAlphaChannel())
            p.fillRect(r, Qt::white);
        if (!img.isNull()) {
            p.drawImage(r, img);
            m_sharpPages.insert(page);
            paintedSharp = true;
            m_placeholders.insert(page, img);
        } else if (m_failedPages.contains(page)) {
            // Nothing better will come: the blank page is what there is to show.
            m_sharpPages.insert(page);
            paintedSharp = true;
        } else if (!picture.isNull()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QRectF(r), picture);
        }
        // Find hits, the current one stronger.
        for (int h = 0; h < m_hits.size(); ++h) {
            if (m_hits.at(h).page != page)
                continue;
            const QColor c = h == m_currentHit ? QColor(255, 140, 0, 120) : QColor(255, 230, 0, 100);
            for (const QRectF &hr : m_hits.at(h).rects)
                p.fillRect(g.toViewport(page, hr), c);
        }
        if (page == m_selPage) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 100, 255, 70));
            for (const QPolygonF &poly : m_selBounds)
                p.drawPolygon(g.toViewport(page, poly));
        }
    }
    if (paintedSharp && !m_firstPainted) {
        m_firstPainted = true;
        QTimer::singleShot(0, this, &PdfPageView::requestVisible);
        emit firstPagePainted();
    }
}

void PdfPageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void PdfPageView::scrollContentsBy(int, int)
{
    updateCurrentPage();
    requestVisible();
    viewport()->update();
}

void PdfPageView::updateCurrentPage()
{
    if (m_params.mode == PageLayout::Mode::SinglePage || m_layout.rects.isEmpty())
        return;
    // In two-column rows the left page of the row counts.
    const int best = pageGeometry().currentPageAt(viewport()->height(), m_currentPage);
    if (best != m_currentPage) {
        m_currentPage = best;
        emit currentPageChanged(best);
    }
}

void PdfPageView::goToPage(int page, const QPointF &locationPt)
{
    if (!m_info.docId)
        return;
    page = qBound(0, page, m_info.pageCount() - 1);
    if (m_params.mode == PageLayout::Mode::SinglePage && page != m_params.currentPage) {
        m_currentPage = page;
        relayout(false);
    }
    verticalScrollBar()->setValue(
        pageGeometry().pageScrollTarget(page, locationPt, m_params.mode == PageLayout::Mode::SinglePage));
    if (m_currentPage != page) {
        m_currentPage = page;
        emit currentPageChanged(page);
    }
    requestVisible();
    viewport()->update();
}

void PdfPageView::showPage(int page, bool toBottom)
{
    goToPage(page);
    if (toBottom)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void PdfPageView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::ZoomIn) || (event->modifiers() & Qt::ControlModifier && event->key() == Qt::Key_Plus)) {
        zoomBy(1.25);
        return;
    }
    if (event->matches(QKeySequence::ZoomOut)) {
        zoomBy(0.8);
        return;
    }
    const PageKeyMove move = pageKeyMove(event->key(), viewPosition());
    switch (move.kind) {
    case PageKeyMove::Kind::Unhandled:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    case PageKeyMove::Kind::Stay:
        return;
    case PageKeyMove::Kind::ShowPage:
        showPage(move.page, move.toBottom);
        return;
    case PageKeyMove::Kind::GoToPage:
        goToPage(move.page);
        return;
    case PageKeyMove::Kind::Scroll:
        break;
    }
    using Scroll = PageKeyMove::Scroll;
    switch (move.scroll) {
    case Scroll::LineDown: verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Scroll::LineUp: verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Scroll::PageDown: verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Scroll::PageUp: verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Scroll::LineLeft: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Scroll::LineRight: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    }
}

void PdfPageView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (event->modifiers() & Qt::ControlModifier) {
        const int dy = event->angleDelta().y();
        if (dy != 0)
            zoomBy(dy > 0 ? 1.1 : 1 / 1.1);
        return;
    }
    const WheelPaging::Move move = m_wheel.onWheel(event->angleDelta(), event->pixelDelta(), viewPosition());
    if (move.turn != 0) {
        if (const auto page = singlePageStep(m_currentPage, move.turn, m_info.pageCount()))
            showPage(*page, move.turn < 0);
    } else if (move.scrolls) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() - move.scrollBy.y());
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - move.scrollBy.x());
    }
}

std::optional<PdfLinkInfo> PdfPageView::linkAt(const QPoint &pos) const
{
    return pageGeometry().linkAt(pos, m_links);
}

void PdfPageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    m_pressedLink = linkAt(pos);
    if (m_pressedLink)
        return;
    m_selBounds.clear();
    m_selectionText.clear();
    m_selPage = pageGeometry().pageAt(pos);
    m_selecting = m_selPage >= 0;
    if (m_selecting)
        m_selAnchor = pageGeometry().toPage(m_selPage, pos);
    viewport()->update();
}

void PdfPageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_selecting && (event->buttons() & Qt::LeftButton)) {
        m_service->requestSelection(m_info.docId, m_selPage, m_selAnchor, pageGeometry().toPage(m_selPage, pos));
        return;
    }
    // Links are fetched when the pointer first comes over a page: stepping
    // through documents with the keyboard never pays for them.
    const int page = pageGeometry().pageAt(pos);
    if (page >= 0 && !m_linksRequested.contains(page)) {
        m_linksRequested.insert(page);
        m_service->requestLinks(m_info.docId, page);
    }
    viewport()->setCursor(linkAt(pos) ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void PdfPageView::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const auto over = linkAt(pos);
    if (m_pressedLink && over && over->rect == m_pressedLink->rect) {
        const PdfLinkInfo link = *m_pressedLink;
        m_pressedLink.reset();
        if (link.page >= 0)
            goToPage(link.page, link.location);
        else if (link.url.isValid())
            QDesktopServices::openUrl(link.url);
        return;
    }
    m_pressedLink.reset();
    if (m_selecting) {
        m_selecting = false;
        const QPointF to = pageGeometry().toPage(m_selPage, pos);
        if ((to - m_selAnchor).manhattanLength() > 1)
            m_service->requestSelection(m_info.docId, m_selPage, m_selAnchor, to);
    }
}

void PdfPageView::copySelection() const
{
    if (!m_selectionText.isEmpty())
        QGuiApplication::clipboard()->setText(m_selectionText);
}

void PdfPageView::setSearchHits(const QList<PdfSearchHit> &hits)
{
    m_hits = hits;
    m_currentHit = hits.isEmpty() ? -1 : 0;
    // Start from the first hit at or after the current page.
    for (int i = 0; i < hits.size(); ++i) {
        if (hits.at(i).page >= m_currentPage) {
            m_currentHit = i;
            break;
        }
    }
    scrollToHit();
}

void PdfPageView::nextHit(int step)
{
    if (m_hits.isEmpty())
        return;
    m_currentHit = (m_currentHit + step + int(m_hits.size())) % int(m_hits.size());
    scrollToHit();
}

void PdfPageView::scrollToHit()
{
    if (m_currentHit >= 0 && m_currentHit < m_hits.size()) {
        const PdfSearchHit &hit = m_hits.at(m_currentHit);
        goToPage(hit.page);
        if (!hit.rects.isEmpty())
            verticalScrollBar()->setValue(pageGeometry().hitScrollTarget(hit, viewport()->height()));
    }
    viewport()->update();
}
