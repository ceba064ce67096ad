#include "viewer/web/WebToolbar.h"

#include "viewer/ViewerToolbarRow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

WebToolbar::WebToolbar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("webToolbar"));
    // The built-in view's toolbar has the same buttons, texts and tips: both
    // back-ends look alike.
    const ViewerToolbarRow controls(this);
    m_pageEdit = controls.pageEdit;
    m_pageCount = controls.pageCount;
    m_zoom = controls.zoom;
    m_findEdit = controls.findEdit;
    m_findLabel = controls.findLabel;
    clear();
    hide();

    connect(controls.prev, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(-1); });
    connect(controls.next, &QToolButton::clicked, this, [this] { Q_EMIT stepRequested(1); });
    connect(m_pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            Q_EMIT pageRequested(page);
        // What the viewer then shows comes back through showView().
        m_pageEdit->setText(m_page > 0 ? QString::number(m_page) : QString());
    });
    connect(controls.zoomOut, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(0.8); });
    connect(controls.zoomIn, &QToolButton::clicked, this, [this] { Q_EMIT zoomByRequested(1.25); });
    connect(m_zoom, &QComboBox::textActivated, this, &WebToolbar::applyZoomText);
    connect(m_zoom->lineEdit(), &QLineEdit::returnPressed, this, &WebToolbar::applyZoomText);
    connect(controls.fitWidth, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-width")); });
    connect(controls.fitPage, &QToolButton::clicked, this, [this] { Q_EMIT fitRequested(QStringLiteral("page-fit")); });
    connect(controls.rotate, &QToolButton::clicked, this, &WebToolbar::rotateRequested);
    connect(controls.print, &QToolButton::clicked, this, &WebToolbar::printRequested);
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] { find(false); });
    connect(m_findEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty())
            m_findLabel->clear();
    });
    connect(controls.findNext, &QToolButton::clicked, this, [this] { find(false); });
    connect(controls.findPrev, &QToolButton::clicked, this, [this] { find(true); });
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
    const double zoom = zoomFromText(m_zoom->currentText());
    if (zoom > 0)
        Q_EMIT zoomRequested(zoom);
    // The zoom the viewer takes comes back through showView().
    m_zoom->setEditText(QStringLiteral("%1%").arg(zoom > 0 ? qRound(zoom * 100) : m_percent));
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
