#include "app/SplitterBar.h"

#include <QMouseEvent>

SplitterBar::SplitterBar(Qt::Orientation orientation, QWidget *target, QWidget *parent)
    : QWidget(parent), m_orientation(orientation), m_target(target)
{
    if (orientation == Qt::Horizontal) {
        setFixedWidth(3);
        setCursor(Qt::SplitHCursor);
    } else {
        setFixedHeight(3);
        setCursor(Qt::SplitVCursor);
    }
}

int SplitterBar::along(const QPoint &p) const
{
    return m_orientation == Qt::Horizontal ? p.x() : p.y();
}

void SplitterBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressPos = along(event->globalPosition().toPoint());
    m_pressSize = m_orientation == Qt::Horizontal ? m_target->width() : m_target->height();
}

void SplitterBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressPos < 0 || !parentWidget())
        return;
    const int delta = along(event->globalPosition().toPoint()) - m_pressPos;
    // Room on the other side: what the parent holds beyond the target and the bar.
    const int total = m_orientation == Qt::Horizontal ? parentWidget()->width()
                                                      : parentWidget()->height();
    const int offset = m_orientation == Qt::Horizontal ? m_target->x() : m_target->y();
    const int maximum = qMax(m_minimum, total - offset - 3 - m_minimum);
    const int size = qBound(m_minimum, m_pressSize + delta, maximum);
    if (m_orientation == Qt::Horizontal)
        m_target->setFixedWidth(size);
    else
        m_target->setFixedHeight(size);
}

void SplitterBar::mouseReleaseEvent(QMouseEvent *)
{
    m_pressPos = -1;
}
