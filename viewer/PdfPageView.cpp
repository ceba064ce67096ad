#include "viewer/PdfPageView.h"

#include "viewer/FlatScrollBarStyle.h"

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
    const QRect r = m_layout.rects.value(page);
    return r.isNull() ? QSize() : PageLayout::pixelSize(r.size(), devicePixelRatioForPages());
}

QRect PdfPageView::pageRectInViewport(int page) const
{
    const QRect r = m_layout.rects.value(page);
    if (r.isNull())
        return r;
    return r.translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
}

void PdfPageView::requestVisible()
{
    if (!m_info.docId || m_layout.rects.isEmpty())
        return;
    const QRect vis(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), viewport()->size());
    const int centre = vis.center().y();
    QList<int> visible;
    int first = -1, last = -1;
    for (int i = 0; i < m_layout.rects.size(); ++i) {
        const QRect &r = m_layout.rects.at(i);
        if (r.isNull() || !r.intersects(vis))
            continue;
        visible << i;
        if (first < 0)
            first = i;
        last = i;
    }
    std::sort(visible.begin(), visible.end(), [&](int a, int b) {
        return qAbs(m_layout.rects.at(a).center().y() - centre) < qAbs(m_layout.rects.at(b).center().y() - centre);
    });
    const qreal dpr = devicePixelRatioForPages();
    QList<PdfRenderService::PageRequest> wanted;
    QSet<int> pending;
    for (int page : visible) {
        const QSize px = pixelSizeFor(page);
        const auto key = m_service->keyFor(m_info.docId, page, px, dpr, m_params.rotation);
        if ((key && m_service->cache().contains(*key)) || m_failedPages.contains(page))
            continue;
        wanted << PdfRenderService::PageRequest{page, px, dpr, m_params.rotation};
        pending.insert(page);
    }
    m_service->requestPages(m_info.docId, PdfRenderService::Group::Visible, wanted);
    // The pages just out of sight, so that scrolling on finds them ready; only
    // once the document is on screen, so as not to compete with its first page.
    QList<PdfRenderService::PageRequest> nearby;
    if (m_firstPainted && m_params.mode == PageLayout::Mode::SinglePage) {
        first = last = m_currentPage;
        for (int p : {m_currentPage + 1, m_currentPage - 1}) {
            if (p < 0 || p >= m_info.pageCount())
                continue;
            PageLayout::Params params = m_params;
            params.currentPage = p;
            const QRect r = PageLayout::compute(m_info.pageSizes, params).rects.value(p);
            nearby << PdfRenderService::PageRequest{p, PageLayout::pixelSize(r.size(), dpr), dpr, m_params.rotation};
        }
    } else if (m_firstPainted && first >= 0) {
        for (int p : {last + 1, first - 1})
            if (p >= 0 && p < m_info.pageCount())
                nearby << PdfRenderService::PageRequest{p, pixelSizeFor(p), dpr, m_params.rotation};
    }
    m_service->requestPages(m_info.docId, PdfRenderService::Group::Nearby, nearby);
    const bool wasPending = !m_pendingPages.isEmpty();
    m_pendingPages = pending;
    if (wasPending != !pending.isEmpty())
        emit pagesPending(!pending.isEmpty());
}

void PdfPageView::onPageRendered(quint64 docId, int page, const PageKey &key, const QImage &image)
{
    if (docId != m_info.docId || page < 0 || page >= m_layout.rects.size())
        return;
    const bool exact = key.pixelSize == pixelSizeFor(page) && key.rotation == m_params.rotation;
    if (image.isNull()) {
        if (exact)
            m_failedPages.insert(page);
    } else if (exact || !m_placeholders.contains(page)) {
        m_placeholders.insert(page, image);
    }
    // Keep placeholders only near the pages in sight.
    for (auto it = m_placeholders.begin(); it != m_placeholders.end();) {
        if (qAbs(it.key() - m_currentPage) > 6)
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
    QList<int> pages;
    QRegion background(event->rect());
    for (int page = 0; m_info.docId && page < m_layout.rects.size(); ++page) {
        const QRect r = pageRectInViewport(page);
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
        const QRect r = pageRectInViewport(page);
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
                p.fillRect(toViewport(page, hr), c);
        }
        if (page == m_selPage) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 100, 255, 70));
            for (const QPolygonF &poly : m_selBounds) {
                QPolygonF vp;
                for (const QPointF &pt : poly)
                    vp << toViewport(page, pt);
                p.drawPolygon(vp);
            }
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
    const int line = verticalScrollBar()->value() + viewport()->height() / 3;
    int best = m_currentPage;
    for (int i = 0; i < m_layout.rects.size(); ++i) {
        const QRect &r = m_layout.rects.at(i);
        if (r.top() <= line + PageLayout::gap) {
            best = i;
        } else {
            break;
        }
    }
    // In two-column rows the left page of the row counts.
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
    const QRect r = m_layout.rects.value(page);
    int y = r.top() - PageLayout::margin;
    if (locationPt.x() >= 0 && locationPt.y() >= 0)
        y = qRound(toViewport(page, locationPt).y()) + verticalScrollBar()->value() - PageLayout::margin;
    if (m_params.mode == PageLayout::Mode::SinglePage && locationPt.y() < 0)
        y = 0;
    verticalScrollBar()->setValue(y);
    if (m_currentPage != page) {
        m_currentPage = page;
        emit currentPageChanged(page);
    }
    requestVisible();
    viewport()->update();
}

void PdfPageView::stepSinglePage(int delta, bool toBottom)
{
    const int target = m_currentPage + delta;
    if (target < 0 || target >= m_info.pageCount())
        return;
    goToPage(target);
    if (toBottom)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void PdfPageView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    const bool single = m_params.mode == PageLayout::Mode::SinglePage;
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
    switch (event->key()) {
    case Qt::Key_Down:
        if (single && v->value() == v->maximum())
            stepSinglePage(1, false);
        else
            v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        return;
    case Qt::Key_Up:
        if (single && v->value() == 0)
            stepSinglePage(-1, true);
        else
            v->triggerAction(QAbstractSlider::SliderSingleStepSub);
        return;
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        if (single && v->value() == v->maximum())
            stepSinglePage(1, false);
        else
            v->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    case Qt::Key_PageUp:
        if (single && v->value() == 0)
            stepSinglePage(-1, true);
        else
            v->triggerAction(QAbstractSlider::SliderPageStepSub);
        return;
    case Qt::Key_Home:
        goToPage(0);
        return;
    case Qt::Key_End:
        goToPage(m_info.pageCount() - 1);
        return;
    case Qt::Key_Left:
        if (h->maximum() > 0)
            h->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else
            goToPage(m_currentPage - 1);
        return;
    case Qt::Key_Right:
        if (h->maximum() > 0)
            h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            goToPage(m_currentPage + 1);
        return;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void PdfPageView::wheelEvent(QWheelEvent *event)
{
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        if (angle.y() != 0)
            zoomBy(angle.y() > 0 ? 1.1 : 1 / 1.1);
        event->accept();
        return;
    }
    QScrollBar *v = verticalScrollBar();
    // One notch (120) scrolls three lines of 40 pixels.
    const int dy = !event->pixelDelta().isNull() ? event->pixelDelta().y() : angle.y();
    const int dx = !event->pixelDelta().isNull() ? event->pixelDelta().x() : angle.x();
    if (m_params.mode == PageLayout::Mode::SinglePage && dy != 0
        && ((dy < 0 && v->value() == v->maximum()) || (dy > 0 && v->value() == 0))) {
        // At the page edge the wheel turns the page after one full notch.
        m_wheelAtEdge += angle.y() != 0 ? angle.y() : dy;
        if (qAbs(m_wheelAtEdge) >= 120) {
            const bool forward = m_wheelAtEdge < 0;
            m_wheelAtEdge = 0;
            stepSinglePage(forward ? 1 : -1, !forward);
        }
        event->accept();
        return;
    }
    m_wheelAtEdge = 0;
    v->setValue(v->value() - dy);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - dx);
    event->accept();
}

int PdfPageView::pageAt(const QPoint &pos) const
{
    for (int i = 0; i < m_layout.rects.size(); ++i)
        if (pageRectInViewport(i).contains(pos))
            return i;
    return -1;
}

QPointF PdfPageView::toViewport(int page, const QPointF &pt) const
{
    const QRect r = pageRectInViewport(page);
    const QSizeF s = m_info.pageSizes.value(page);
    const qreal W = s.width(), H = s.height();
    QPointF q;
    switch (m_params.rotation) {
    case 1: q = QPointF(H - pt.y(), pt.x()); break;
    case 2: q = QPointF(W - pt.x(), H - pt.y()); break;
    case 3: q = QPointF(pt.y(), W - pt.x()); break;
    default: q = pt; break;
    }
    const QSizeF rs = (m_params.rotation % 2) ? s.transposed() : s;
    return QPointF(r.left() + q.x() * r.width() / rs.width(), r.top() + q.y() * r.height() / rs.height());
}

QRectF PdfPageView::toViewport(int page, const QRectF &rectPt) const
{
    return QRectF(toViewport(page, rectPt.topLeft()), toViewport(page, rectPt.bottomRight())).normalized();
}

QPointF PdfPageView::toPagePoint(int page, const QPoint &pos) const
{
    const QRect r = pageRectInViewport(page);
    const QSizeF s = m_info.pageSizes.value(page);
    const QSizeF rs = (m_params.rotation % 2) ? s.transposed() : s;
    const qreal u = (pos.x() - r.left()) * rs.width() / qMax(1, r.width());
    const qreal v = (pos.y() - r.top()) * rs.height() / qMax(1, r.height());
    const qreal W = s.width(), H = s.height();
    switch (m_params.rotation) {
    case 1: return QPointF(v, H - u);
    case 2: return QPointF(W - u, H - v);
    case 3: return QPointF(W - v, u);
    default: return QPointF(u, v);
    }
}

std::optional<PdfLinkInfo> PdfPageView::linkAt(const QPoint &pos) const
{
    const int page = pageAt(pos);
    auto it = m_links.constFind(page);
    if (page < 0 || it == m_links.constEnd())
        return std::nullopt;
    const QPointF pt = toPagePoint(page, pos);
    for (const PdfLinkInfo &l : *it)
        if (l.rect.contains(pt))
            return l;
    return std::nullopt;
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
    m_selPage = pageAt(pos);
    m_selecting = m_selPage >= 0;
    if (m_selecting)
        m_selAnchor = toPagePoint(m_selPage, pos);
    viewport()->update();
}

void PdfPageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_selecting && (event->buttons() & Qt::LeftButton)) {
        m_service->requestSelection(m_info.docId, m_selPage, m_selAnchor, toPagePoint(m_selPage, pos));
        return;
    }
    // Links are fetched when the pointer first comes over a page: stepping
    // through documents with the keyboard never pays for them.
    const int page = pageAt(pos);
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
        const QPointF to = toPagePoint(m_selPage, pos);
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
        if (!hit.rects.isEmpty()) {
            const QRectF vr = toViewport(hit.page, hit.rects.first());
            QScrollBar *v = verticalScrollBar();
            v->setValue(v->value() + qRound(vr.center().y()) - viewport()->height() / 2);
        }
    }
    viewport()->update();
}
