#pragma once

#include <QWidget>

// A thin bar that drags the size of one neighbouring widget: with
// Qt::Horizontal it sits right of `target` and drags its width, with
// Qt::Vertical it sits below `target` and drags its height.  The target keeps
// a fixed size in that direction; the widget on the bar's other side takes
// the rest.  Neither side goes below `minimumSize`.  Owned by its parent; UI
// thread only.
class SplitterBar : public QWidget
{
    Q_OBJECT
public:
    SplitterBar(Qt::Orientation orientation, QWidget *target, QWidget *parent = nullptr);

    Qt::Orientation orientation() const { return m_orientation; }
    int minimumSize() const { return m_minimum; }
    void setMinimumSize(int pixels) { m_minimum = pixels; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int along(const QPoint &p) const;
    Qt::Orientation m_orientation;
    QWidget *m_target;
    int m_minimum = 30;
    int m_pressPos = -1;
    int m_pressSize = 0;
};
