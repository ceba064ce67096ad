#include "viewer/PdfSidePane.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfPageView.h"
#include "viewer/PdfRenderService.h"

#include <QListWidget>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

namespace {

constexpr int thumbWidth = 110;
constexpr int thumbHeight = 150;

} // namespace

PdfSidePane::PdfSidePane(PdfPageView *view, PdfRenderService *service, QWidget *parent)
    : QStackedWidget(parent), m_view(view), m_service(service)
{
    m_outline = new QTreeWidget(this);
    m_outline->setHeaderHidden(true);
    addWidget(m_outline);
    m_thumbs = new QListWidget(this);
    m_thumbs->setViewMode(QListView::IconMode);
    m_thumbs->setFlow(QListView::TopToBottom);
    m_thumbs->setWrapping(false);
    m_thumbs->setMovement(QListView::Static);
    m_thumbs->setIconSize(QSize(thumbWidth, thumbHeight));
    m_thumbs->setUniformItemSizes(true);
    m_thumbs->setSpacing(4);
    addWidget(m_thumbs);
    setMinimumWidth(80);
    hide();

    connect(m_service, &PdfRenderService::outlineReady, this, &PdfSidePane::showOutline);
    connect(m_outline, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        const int page = item->data(0, Qt::UserRole).toInt();
        if (page >= 0)
            m_view->goToPage(page, item->data(0, Qt::UserRole + 1).toPointF());
    });
    connect(m_thumbs, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        m_view->goToPage(item->data(Qt::UserRole).toInt());
    });
    connect(m_thumbs->verticalScrollBar(), &QScrollBar::valueChanged, this, &PdfSidePane::requestVisibleThumbnails);
    connect(m_service, &PdfRenderService::pageRendered, this, &PdfSidePane::showThumbnail);
    // Thumbnails asked for before the pages were measured had the first
    // page's shape: ask again at the measured sizes.
    connect(m_service, &PdfRenderService::pageSizesReady, this, [this](quint64 docId) {
        if (docId != m_view->docId() || !m_thumbsBuilt)
            return;
        for (int i = 0; i < m_thumbs->count(); ++i)
            m_thumbs->item(i)->setData(Qt::UserRole + 1, false);
        requestVisibleThumbnails();
    });
}

void PdfSidePane::setPageMode(const QString &pageMode)
{
    if (pageMode == QLatin1String("bookmarks") || pageMode == QLatin1String("thumbs"))
        m_pageMode = pageMode;
    else
        m_pageMode = QStringLiteral("none");
    refresh();
}

void PdfSidePane::refresh()
{
    if (m_pageMode == QLatin1String("none")) {
        hide();
        return;
    }
    show();
    const quint64 doc = m_view->docId();
    if (m_pageMode == QLatin1String("bookmarks")) {
        setCurrentWidget(m_outline);
        if (doc && !m_outlineLoaded) {
            m_outlineLoaded = true;
            m_service->requestOutline(doc);
        }
        return;
    }
    setCurrentWidget(m_thumbs);
    if (doc && !m_thumbsBuilt) {
        m_thumbsBuilt = true;
        QPixmap blank(thumbWidth, thumbHeight);
        blank.fill(Qt::white);
        const QIcon placeholder(blank);
        const int n = m_view->document().pageCount();
        for (int i = 0; i < n; ++i) {
            auto *item = new QListWidgetItem(placeholder, QString::number(i + 1), m_thumbs);
            item->setData(Qt::UserRole, i);
            item->setTextAlignment(Qt::AlignHCenter);
        }
        m_thumbs->setCurrentRow(m_view->currentPage());
    }
    QTimer::singleShot(0, this, &PdfSidePane::requestVisibleThumbnails);
}

void PdfSidePane::clear()
{
    m_outline->clear();
    m_outlineLoaded = false;
    m_thumbs->clear();
    m_thumbsBuilt = false;
}

void PdfSidePane::showCurrentPage()
{
    if (m_thumbsBuilt && m_thumbs->currentRow() != m_view->currentPage())
        m_thumbs->setCurrentRow(m_view->currentPage());
}

void PdfSidePane::showOutline(quint64 docId, const QList<PdfOutlineEntry> &entries)
{
    if (docId != m_view->docId())
        return;
    m_outline->clear();
    QList<QTreeWidgetItem *> parents;
    for (const PdfOutlineEntry &e : entries) {
        const int level = qBound(0, e.level, int(parents.size()));
        parents.resize(level);
        auto *item = level == 0 ? new QTreeWidgetItem(m_outline) : new QTreeWidgetItem(parents.last());
        item->setText(0, e.title);
        item->setData(0, Qt::UserRole, e.page);
        item->setData(0, Qt::UserRole + 1, e.location);
        parents << item;
    }
    if (entries.isEmpty()) {
        auto *item = new QTreeWidgetItem(m_outline);
        item->setText(0, QStringLiteral("しおりはありません"));
        item->setData(0, Qt::UserRole, -1);
        item->setFlags(Qt::NoItemFlags);
    }
    m_outline->expandToDepth(0);
}

void PdfSidePane::showThumbnail(quint64 docId, int page, const PageKey &key, const QImage &image)
{
    if (docId != m_view->docId() || !m_thumbsBuilt
        || key.pixelSize != PageLayout::pixelSize(thumbnailSize(page), m_thumbs->devicePixelRatioF()))
        return;
    QListWidgetItem *item = m_thumbs->item(page);
    if (item && !image.isNull())
        item->setIcon(QIcon(QPixmap::fromImage(image)));
}

QSize PdfSidePane::thumbnailSize(int page) const
{
    const QSizeF s = m_view->document().pageSizes.value(page);
    if (s.isEmpty())
        return {};
    const QSizeF fitted = s.scaled(QSizeF(thumbWidth, thumbHeight), Qt::KeepAspectRatio);
    return QSize(qMax(1, qRound(fitted.width())), qMax(1, qRound(fitted.height())));
}

void PdfSidePane::requestVisibleThumbnails()
{
    if (!m_thumbsBuilt || !m_thumbs->isVisible() || m_thumbs->count() == 0)
        return;
    // Only the items in sight (and a few beyond) are rendered.
    const QRect area = m_thumbs->viewport()->rect();
    int first = m_thumbs->row(m_thumbs->itemAt(area.topLeft() + QPoint(4, 4)));
    int last = m_thumbs->row(m_thumbs->itemAt(QPoint(4, area.bottom() - 4)));
    if (first < 0)
        first = 0;
    if (last < 0)
        last = qMin(m_thumbs->count() - 1, first + 8);
    QList<PdfRenderService::PageRequest> wanted;
    for (int i = qMax(0, first - 2); i <= qMin(m_thumbs->count() - 1, last + 2); ++i) {
        if (m_thumbs->item(i)->data(Qt::UserRole + 1).toBool())
            continue;
        m_thumbs->item(i)->setData(Qt::UserRole + 1, true);
        const qreal dpr = m_thumbs->devicePixelRatioF();
        wanted << PdfRenderService::PageRequest{i, PageLayout::pixelSize(thumbnailSize(i), dpr), dpr, 0};
    }
    if (!wanted.isEmpty())
        m_service->requestPages(m_view->docId(), PdfRenderService::Group::Thumbnail, wanted);
}
