#include "viewer/web/WebToolbar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

// The built-in view's toolbar has the same buttons, texts and tips: both
// back-ends look alike.
QToolButton *toolButton(QWidget *parent, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

} // namespace

WebToolbar::WebToolbar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("webToolbar"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);

    auto *prev = toolButton(this, QStringLiteral("◀"), QStringLiteral("前のページ"));
    auto *next = toolButton(this, QStringLiteral("▶"), QStringLiteral("次のページ"));
    m_pageEdit = new QLineEdit(this);
    m_pageEdit->setFixedWidth(48);
    m_pageEdit->setAlignment(Qt::AlignRight);
    m_pageEdit->setToolTip(QStringLiteral("ページ番号"));
    m_pageCount = new QLabel(this);
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
    clear();
    hide();

    connect(prev, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(-1); });
    connect(next, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(1); });
    connect(m_pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            Q_EMIT pageRequested(page);
        // What the viewer then shows comes back through showView().
        m_pageEdit->setText(m_page > 0 ? QString::number(m_page) : QString());
    });
    connect(zoomOut, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(0.8); });
    connect(zoomIn, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(1.25); });
    connect(m_zoom, &QComboBox::textActivated, this, &WebToolbar::applyZoomText);
    connect(m_zoom->lineEdit(), &QLineEdit::returnPressed, this, &WebToolbar::applyZoomText);
    connect(fitWidth, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-width")); });
    connect(fitPage, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-fit")); });
    connect(rotate, &QToolButton::clicked, this, &WebToolbar::rotateRequested);
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] { find(false); });
    connect(m_findEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty())
            m_findLabel->clear();
    });
    connect(findNext, &QToolButton::clicked, this, [this] { find(false); });
    connect(findPrev, &QToolButton::clicked, this, [this] { find(true); });
}

void WebToolbar::showView(int page, int pages, int percent)
{
    m_page = pages > 0 ? page : 0;
    m_percent = percent;
    m_pageCount->setText(QStringLiteral("/ %1").arg(pages));
    // Not over what the user is typing.
    if (!m_pageEdit->isModified())
        m_pageEdit->setText(m_page > 0 ? QString::number(m_page) : QString());
    m_pageEdit->setEnabled(pages > 0);
    if (!m_zoom->lineEdit()->isModified())
        m_zoom->setEditText(QStringLiteral("%1%").arg(percent));
}

void WebToolbar::showFindResult(bool pending, int current, int total)
{
    if (m_findEdit->text().isEmpty())
        m_findLabel->clear();
    else if (pending)
        m_findLabel->setText(QStringLiteral("検索中…"));
    else if (total <= 0)
        m_findLabel->setText(QStringLiteral("見つかりません"));
    else
        m_findLabel->setText(QStringLiteral("%1 / %2 件").arg(qMax(current, 1)).arg(total));
}

void WebToolbar::clear()
{
    showView(0, 0, m_percent);
    m_findEdit->clear();
    m_findLabel->clear();
}

void WebToolbar::applyZoomText()
{
    QString t = m_zoom->currentText();
    t.remove(QLatin1Char('%'));
    bool ok = false;
    const double percent = t.trimmed().toDouble(&ok);
    if (ok && percent > 0)
        Q_EMIT zoomRequested(percent / 100.0);
    // The zoom the viewer takes comes back through showView().
    m_zoom->setEditText(QStringLiteral("%1%").arg(ok && percent > 0 ? qRound(percent) : m_percent));
}

void WebToolbar::find(bool previous)
{
    const QString text = m_findEdit->text();
    if (text.isEmpty()) {
        m_findLabel->clear();
        return;
    }
    Q_EMIT findRequested(text, previous);
}
