#pragma once

#include "viewer/PdfTypes.h"

#include <QList>
#include <QSize>
#include <QStackedWidget>

class PdfPageView;
class PdfRenderService;
struct PageKey;
class QImage;
class QListWidget;
class QTreeWidget;

// The PDF view control's side pane: the document's bookmarks (outline) or its
// page thumbnails, as the page mode asks, beside the pages.  Loads each on
// first sight for the view's document; a click on an entry moves `view` to
// its page.  `view` and `service` are not owned and must outlive the pane.
// UI thread only.
class PdfSidePane : public QStackedWidget
{
    Q_OBJECT
public:
    PdfSidePane(PdfPageView *view, PdfRenderService *service, QWidget *parent);

    // "none" (pane hidden), "bookmarks" or "thumbs"; anything else is "none".
    void setPageMode(const QString &pageMode);
    QString pageMode() const { return m_pageMode; }
    // Shows what the page mode asks for the view's document, loading it on first sight.
    void refresh();
    // Forgets the document shown before.
    void clear();
    // Marks the view's current page among the thumbnails.
    void showCurrentPage();

    QTreeWidget *outlineTree() const { return m_outline; }
    QListWidget *thumbnailList() const { return m_thumbs; }

private:
    void showOutline(quint64 docId, const QList<PdfOutlineEntry> &entries);
    void showThumbnail(quint64 docId, int page, const PageKey &key, const QImage &image);
    void requestVisibleThumbnails();
    QSize thumbnailSize(int page) const; // logical pixels

    PdfPageView *m_view;
    PdfRenderService *m_service;
    QTreeWidget *m_outline;
    QListWidget *m_thumbs;
    QString m_pageMode = QStringLiteral("none");
    bool m_outlineLoaded = false;
    bool m_thumbsBuilt = false;
};
