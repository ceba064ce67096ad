#include "viewer/web/WebToolbar.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

WebToolbar::WebToolbar(QWidget *parent) : QWidget(parent), m_row(this)
{
    setObjectName(QStringLiteral("webToolbar"));
    clear();
    hide();

    connect(m_row.prev, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(-1); });
    connect(m_row.next, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(1); });
    connect(m_row.pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_row.pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            Q_EMIT pageRequested(page);
        // What the viewer then shows comes back through showView().
        m_row.pageEdit->setText(m_page > 0 ? QString::number(m_page) : QString());
    });
    connect(m_row.zoomOut, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(0.8); });
    connect(m_row.zoomIn, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(1.25); });
    connect(m_row.zoom, &QComboBox::textActivated, this, &WebToolbar::applyZoomText);
    connect(m_row.zoom->lineEdit(), &QLineEdit::returnPressed, this, &WebToolbar::applyZoomText);
    connect(m_row.fitWidth, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-width")); });
    connect(m_row.fitPage, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-fit")); });
    connect(m_row.rotate, &QToolButton::clicked, this, &WebToolbar::rotateRequested);
    connect(m_row.print, &QToolButton::clicked, this, &WebToolbar::printRequested);
    connect(m_row.findEdit, &QLineEdit::returnPressed, this, [this] { find(false); });
    connect(m_row.findEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty())
            m_row.findLabel->clear();
    });
    connect(m_row.findNext, &QToolButton::clicked, this, [this] { find(false); });
    connect(m_row.findPrev, &QToolButton::clicked, this, [this] { find(true); });
}

void WebToolbar::showView(int page, int pages, int percent)
{
    m_page = pages > 0 ? page : 0;
    m_percent = percent;
    m_row.pageCount->setText(QStringLiteral("/ %1").arg(pages));
    // Not over what the user is typing.
    if (!m_row.pageEdit->isModified())
        m_row.pageEdit->setText(m_page > 0 ? QString::number(m_page) : QString());
    m_row.pageEdit->setEnabled(pages > 0);
    if (!m_row.zoom->lineEdit()->isModified())
        m_row.zoom->setEditText(QStringLiteral("%1%").arg(percent));
}

void WebToolbar::showFindResult(bool pending, int current, int total)
{
    if (m_row.findEdit->text().isEmpty())
        m_row.findLabel->clear();
    else if (pending)
        m_row.findLabel->setText(QStringLiteral("検索中…"));
    else if (total <= 0)
        m_row.findLabel->setText(QStringLiteral("見つかりません"));
    else
        m_row.findLabel->setText(QStringLiteral("%1 / %2 件").arg(qMax(current, 1)).arg(total));
}

void WebToolbar::clear()
{
    showView(0, 0, m_percent);
    m_row.findEdit->clear();
    m_row.findLabel->clear();
}

void WebToolbar::applyZoomText()
{
    const double zoom = zoomFromText(m_row.zoom->currentText());
    if (zoom > 0)
        Q_EMIT zoomRequested(zoom);
    // The zoom the viewer takes comes back through showView().
    m_row.zoom->setEditText(QStringLiteral("%1%").arg(zoom > 0 ? qRound(zoom * 100) : m_percent));
}

void WebToolbar::find(bool previous)
{
    const QString text = m_row.findEdit->text();
    if (text.isEmpty()) {
        m_row.findLabel->clear();
        return;
    }
    Q_EMIT findRequested(text, previous);
}
