#include "viewer/PdfToolbar.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfPageView.h"
#include "viewer/PdfRenderService.h"
#include "viewer/ViewerToolbarRow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

PdfToolbar::PdfToolbar(PdfPageView *view, PdfRenderService *service, QWidget *parent)
    : QWidget(parent), m_view(view), m_service(service)
{
    setObjectName(QStringLiteral("pdfToolbar"));
    const ViewerToolbarRow controls(this);
    m_pageEdit = controls.pageEdit;
    m_pageCount = controls.pageCount;
    m_zoom = controls.zoom;
    m_findEdit = controls.findEdit;
    m_findLabel = controls.findLabel;
    m_print = controls.print;
    connect(m_print, &QToolButton::clicked, this, &PdfToolbar::printRequested);
    hide();

    connect(controls.prev, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() - 1); });
    connect(controls.next, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() + 1); });
    connect(m_pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            m_view->goToPage(page - 1);
        showPage();
    });
    connect(controls.zoomOut, &QToolButton::clicked, this, [this] { m_view->zoomBy(0.8); });
    connect(controls.zoomIn, &QToolButton::clicked, this, [this] { m_view->zoomBy(1.25); });
    connect(m_zoom, &QComboBox::textActivated, this, &PdfToolbar::applyZoomText);
    connect(m_zoom->lineEdit(), &QLineEdit::returnPressed, this, &PdfToolbar::applyZoomText);
    connect(m_view, &PdfPageView::zoomChanged, this, [this](int percent) {
        if (!m_zoom->lineEdit()->hasFocus())
            m_zoom->setEditText(QStringLiteral("%1%").arg(percent));
    });
    connect(controls.fitWidth, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitWidth); });
    connect(controls.fitPage, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitPage); });
    connect(controls.rotate, &QToolButton::clicked, this, [this] { m_view->rotateClockwise(); });
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] {
        // Enter on the same text goes on to the next hit.
        if (m_view->hitCount() > 0 && m_searched == m_findEdit->text()) {
            m_view->nextHit(1);
        } else {
            m_searched = m_findEdit->text();
            find();
        }
    });
    connect(controls.findNext, &QToolButton::clicked, this, [this] {
        m_view->nextHit(1);
        showHit();
    });
    connect(controls.findPrev, &QToolButton::clicked, this, [this] {
        m_view->nextHit(-1);
        showHit();
    });
    connect(m_service, &PdfRenderService::searchReady, this, &PdfToolbar::showSearchResult);
}

void PdfToolbar::showPage()
{
    const int n = m_view->document().pageCount();
    m_pageCount->setText(QStringLiteral("/ %1").arg(n));
    m_pageEdit->setText(n > 0 ? QString::number(m_view->currentPage() + 1) : QString());
    m_pageEdit->setEnabled(n > 0);
}

void PdfToolbar::clearSearch()
{
    m_findEdit->clear();
    m_findLabel->clear();
    m_searched.clear();
}

void PdfToolbar::applyZoomText()
{
    if (const double zoom = zoomFromText(m_zoom->currentText()); zoom > 0)
        m_view->setCustomZoom(zoom);
    m_zoom->setEditText(QStringLiteral("%1%").arg(m_view->zoomPercent()));
}

void PdfToolbar::find()
{
    const QString text = m_findEdit->text();
    if (text.isEmpty()) {
        m_view->setSearchHits({});
        m_findLabel->clear();
        return;
    }
    m_findLabel->setText(QStringLiteral("検索中…"));
    m_service->requestSearch(m_view->docId(), text);
}

void PdfToolbar::showHit()
{
    if (m_view->hitCount() > 0)
        m_findLabel->setText(QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(m_view->hitCount()));
}

void PdfToolbar::showSearchResult(quint64 docId, const QString &text, const QList<PdfSearchHit> &hits)
{
    if (docId != m_view->docId() || text != m_findEdit->text())
        return;
    m_view->setSearchHits(hits);
    m_findLabel->setText(hits.isEmpty() ? QStringLiteral("見つかりません")
                                        : QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(hits.size()));
}
