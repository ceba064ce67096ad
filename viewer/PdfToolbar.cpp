#include "viewer/PdfToolbar.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfPageView.h"
#include "viewer/PdfRenderService.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

QToolButton *toolButton(QWidget *parent, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

} // namespace

PdfToolbar::PdfToolbar(PdfPageView *view, PdfRenderService *service, QWidget *parent)
    : QWidget(parent), m_view(view), m_service(service)
{
    setObjectName(QStringLiteral("pdfToolbar"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);

    auto *prev = toolButton(this, QStringLiteral("◀"), QStringLiteral("前のページ"));
    auto *next = toolButton(this, QStringLiteral("▶"), QStringLiteral("次のページ"));
    m_pageEdit = new QLineEdit(this);
    m_pageEdit->setFixedWidth(48);
    m_pageEdit->setAlignment(Qt::AlignRight);
    m_pageEdit->setToolTip(QStringLiteral("ページ番号"));
    m_pageCount = new QLabel(QStringLiteral("/ 0"), this);
    auto *zoomOut = toolButton(this, QStringLiteral("－"), QStringLiteral("縮小"));
    auto *zoomIn = toolButton(this, QStringLiteral("＋"), QStringLiteral("拡大"));
    m_zoom = new QComboBox(this);
    m_zoom->setEditable(true);
    m_zoom->setInsertPolicy(QComboBox::NoInsert);
    for (int z : {25, 50, 75, 100, 125, 150, 200, 300, 400})
        m_zoom->addItem(QStringLiteral("%1%").arg(z), z);
    m_zoom->setToolTip(QStringLiteral("表示倍率"));
    auto *fitWidth = toolButton(this, QStringLiteral("幅"), QStringLiteral("幅に合わせる"));
    auto *fitPage = toolButton(this, QStringLiteral("全体"), QStringLiteral("ページ全体を表示"));
    auto *rotate = toolButton(this, QStringLiteral("⟳"), QStringLiteral("右に回転"));
    m_findEdit = new QLineEdit(this);
    m_findEdit->setPlaceholderText(QStringLiteral("検索"));
    m_findEdit->setClearButtonEnabled(true);
    m_findEdit->setMaximumWidth(180);
    auto *findPrev = toolButton(this, QStringLiteral("▲"), QStringLiteral("前を検索"));
    auto *findNext = toolButton(this, QStringLiteral("▼"), QStringLiteral("次を検索"));
    m_findLabel = new QLabel(this);

    for (QWidget *w : std::initializer_list<QWidget *>{prev, m_pageEdit, m_pageCount, next, zoomOut, m_zoom, zoomIn,
                                                       fitWidth, fitPage, rotate})
        row->addWidget(w);
    row->addStretch(1);
    for (QWidget *w : std::initializer_list<QWidget *>{m_findEdit, findPrev, findNext, m_findLabel})
        row->addWidget(w);
    hide();

    connect(prev, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() - 1); });
    connect(next, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() + 1); });
    connect(m_pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            m_view->goToPage(page - 1);
        showPage();
    });
    connect(zoomOut, &QToolButton::clicked, this, [this] { m_view->zoomBy(0.8); });
    connect(zoomIn, &QToolButton::clicked, this, [this] { m_view->zoomBy(1.25); });
    connect(m_zoom, &QComboBox::textActivated, this, &PdfToolbar::applyZoomText);
    connect(m_zoom->lineEdit(), &QLineEdit::returnPressed, this, &PdfToolbar::applyZoomText);
    connect(m_view, &PdfPageView::zoomChanged, this, [this](int percent) {
        if (!m_zoom->lineEdit()->hasFocus())
            m_zoom->setEditText(QStringLiteral("%1%").arg(percent));
    });
    connect(fitWidth, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitWidth); });
    connect(fitPage, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitPage); });
    connect(rotate, &QToolButton::clicked, this, [this] { m_view->rotateClockwise(); });
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] {
        // Enter on the same text goes on to the next hit.
        if (m_view->hitCount() > 0 && m_searched == m_findEdit->text()) {
            m_view->nextHit(1);
        } else {
            m_searched = m_findEdit->text();
            find();
        }
    });
    connect(findNext, &QToolButton::clicked, this, [this] {
        m_view->nextHit(1);
        showHit();
    });
    connect(findPrev, &QToolButton::clicked, this, [this] {
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
    QString t = m_zoom->currentText();
    t.remove(QLatin1Char('%'));
    bool ok = false;
    const double percent = t.trimmed().toDouble(&ok);
    if (ok && percent > 0)
        m_view->setCustomZoom(percent / 100.0);
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
