#pragma once

#include "viewer/PageLayout.h"
#include "viewer/PageViewGeometry.h"
#include "viewer/PdfRenderService.h"
#include "viewer/PdfTypes.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QPolygonF>
#include <QSet>

#include <optional>

// The document surface: lays out and paints the pages of one open document,
// asks the render service for the pages in sight (nearest first), and handles
// scrolling, zoom, links, text selection and find highlights.  Its geometry
// (PageViewGeometry) and which pages it asks for (PagePlan) are plain
// functions; the view applies them.  It holds the keyboard focus when the
// user works in the document.  UI thread only; the service is not owned.
class PdfPageView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit PdfPageView(PdfRenderService *service, QWidget *parent = nullptr);

    // Shows an opened document (info.ok()) or nothing (docId 0).
    void setDocument(const PdfDocumentInfo &info);
    void clearDocument() { setDocument({}); }
    const PdfDocumentInfo &document() const { return m_info; }
    quint64 docId() const { return m_info.docId; }

    void setLayoutMode(PageLayout::Mode mode);
    PageLayout::Mode layoutMode() const { return m_params.mode; }
    void setZoomMode(PageLayout::Zoom zoom);
    void setCustomZoom(qreal zoom); // 1.0 = 100 %; switches to custom zoom
    void zoomBy(qreal factor);
    PageLayout::Zoom zoomMode() const { return m_params.zoom; }
    int zoomPercent() const { return PageLayout::zoomPercent(m_layout.scale); }
    void rotateClockwise();
    int rotation() const { return m_params.rotation; }
    void setScrollBarsShown(bool shown);
    bool scrollBarsShown() const { return m_scrollBarsShown; }

    int currentPage() const { return m_currentPage; }
    void goToPage(int page, const QPointF &locationPt = QPointF(-1, -1));

    // Find: highlights all hits and moves to the first (or next/previous) one.
    void setSearchHits(const QList<PdfSearchHit> &hits);
    void nextHit(int step);
    int hitCount() const { return int(m_hits.size()); }
    int currentHit() const { return m_currentHit; }

    QString selectedText() const { return m_selectionText; }
    void copySelection() const;

    // Page rectangle in viewport coordinates (null when the page is not laid out).
    QRect pageRectInViewport(int page) const;
    // The logical size page 0 would get now: used to prepare other documents.
    PageLayout::Params layoutParams() const;
    qreal devicePixelRatioForPages() const;
    // Pages shown with their final pixels (not a placeholder) at the last paint.
    bool pageShownSharp(int page) const { return m_sharpPages.contains(page); }

signals:
    void currentPageChanged(int page);
    void zoomChanged(int percent);
    // The first page image of the current document has been painted.
    void firstPagePainted();
    void pagesPending(bool pending);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void relayout(bool keepPosition = true);
    // Lays the pages out for the viewport as it is now.
    void layOut();
    // Gives the scroll bars the range of the laid-out pages.
    void updateScrollRanges();
    void requestVisible();
    void updateCurrentPage();
    // Single-page mode: shows another page, at its top or (toBottom) its bottom.
    void showPage(int page, bool toBottom);
    // The geometry of the pages as they are laid out and scrolled now.
    PageViewGeometry pageGeometry() const;
    PageViewPosition viewPosition() const;
    std::optional<PdfLinkInfo> linkAt(const QPoint &viewportPos) const;
    QSize pixelSizeFor(int page) const;
    void onPageRendered(quint64 docId, int page, const PageKey &key, const QImage &image);
    void scrollToHit();

    PdfRenderService *m_service;
    PdfDocumentInfo m_info;
    PageLayout::Params m_params;
    PageLayout::Result m_layout;
    bool m_scrollBarsShown = true;
    int m_currentPage = 0;
    WheelPaging m_wheel;
    bool m_firstPainted = false;
    QHash<int, QImage> m_placeholders;    // latest image per page, any size (placeholder while re-rendering)
    QSet<int> m_sharpPages;
    QSet<int> m_pendingPages;
    QSet<int> m_failedPages;              // pages the engine could not draw: shown blank
    QHash<int, QList<PdfLinkInfo>> m_links;
    QSet<int> m_linksRequested;
    QList<PdfSearchHit> m_hits;
    int m_currentHit = -1;
    // Selection: page, anchor and bounds in points.
    int m_selPage = -1;
    QPointF m_selAnchor;
    bool m_selecting = false;
    QList<QPolygonF> m_selBounds;
    QString m_selectionText;
    std::optional<PdfLinkInfo> m_pressedLink;
};
