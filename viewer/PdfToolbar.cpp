#include "viewer/PdfToolbar.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfPageView.h"
#include "viewer/PdfRenderService.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

PdfToolbar::PdfToolbar(PdfPageView *view, PdfRenderService *service, QWidget *parent)
    : QWidget(parent), m_view(view), m_service(service), m_row(this)
{
    setObjectName(QStringLiteral("pdfToolbar"));
    connect(m_row.print, &QToolButton::clicked, this, &PdfToolbar::printRequested);
    hide();

    connect(m_row.prev, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() - 1); });
    connect(m_row.next, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() + 1); });
    connect(m_row.pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_row.pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            m_view->goToPage(page - 1);
        showPage();
    });
    connect(m_row.zoomOut, &QToolButton::clicked, this, [this] { m_view->zoomBy(0.8); });
    connect(m_row.zoomIn, &QToolButton::clicked, this, [this] { m_view->zoomBy(1.25); });
    connect(m_row.zoom, &QComboBox::textActivated, this, &PdfToolbar::applyZoomText);
    connect(m_row.zoom->lineEdit(), &QLineEdit::returnPressed, this, &PdfToolbar::applyZoomText);
    connect(m_view, &PdfPageView::zoomChanged, this, [this](int percent) {
        if (!m_row.zoom->lineEdit()->hasFocus())
            m_row.zoom->setEditText(QStringLiteral("%1%").arg(percent));
    });
    connect(m_row.fitWidth, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitWidth); });
    connect(m_row.fitPage, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitPage); });
    connect(m_row.rotate, &QToolButton::clicked, this, [this] { m_view->rotateClockwise(); });
    connect(m_row.findEdit, &QLineEdit::returnPressed, this, [this] {
        // Enter on the same text goes on to the next hit.
        if (m_view->hitCount() > 0 && m_searched == m_row.findEdit->text()) {
            m_view->nextHit(1);
        } else {
            m_searched = m_row.findEdit->text();
            find();
        }
    });
    connect(m_row.findNext, &QToolButton::clicked, this, [this] {
        m_view->nextHit(1);
        showHit();
    });
    connect(m_row.findPrev, &QToolButton::clicked, this, [this] {
        m_view->nextHit(-1);
        showHit();
    });
    connect(m_service, &PdfRenderService::searchReady, this, &PdfToolbar::showSearchResult);
}

void PdfToolbar::showPage()
{
    const int n = m_view->document().pageCount();
    m_row.pageCount->setText(QStringLiteral("/ %1").arg(n));
    m_row.pageEdit->setText(n > 0 ? QString::number(m_view->currentPage() + 1) : QString());
    m_row.pageEdit->setEnabled(n > 0);
}

void PdfToolbar::clearSearch()
{
    m_row.findEdit->clear();
    m_row.findLabel->clear();
    m_searched.clear();
}

void PdfToolbar::applyZoomText()
{
    if (const double zoom = zoomFromText(m_row.zoom->currentText()); zoom > 0)
        m_view->setCustomZoom(zoom);
    m_row.zoom->setEditText(QStringLiteral("%1%").arg(m_view->zoomPercent()));
}

void PdfToolbar::find()
{
    const QString text = m_row.findEdit->text();
    if (text.isEmpty()) {
        m_view->setSearchHits({});
        m_row.findLabel->clear();
        return;
    }
    m_row.findLabel->setText(QStringLiteral("検索中…"));
    m_service->requestSearch(m_view->docId(), text);
}

void PdfToolbar::showHit()
{
    if (m_view->hitCount() > 0)
        m_row.findLabel->setText(QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(m_view->hitCount()));
}

void PdfToolbar::showSearchResult(quint64 docId, const QString &text, const QList<PdfSearchHit> &hits)
{
    if (docId != m_view->docId() || text != m_row.findEdit->text())
        return;
    m_view->setSearchHits(hits);
    m_row.findLabel->setText(hits.isEmpty() ? QStringLiteral("見つかりません")
                                        : QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(hits.size()));
}
