// sheafline-dragsource URL...: a window of another program that drags the
// given URLs (as a file manager drags files) once the mouse is pressed in it
// and moved, and prints how the drag ended.  It runs on until it is ended, as
// a file manager does: the target asks for the data once more at the drop.
// The journeys drive it with real input, so the drop crosses the X
// drag-and-drop protocol.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DragSource : public QWidget
{
public:
    explicit DragSource(QList<QUrl> urls) : m_urls(std::move(urls))
    {
        setWindowTitle(QStringLiteral("Sheafline drag source"));
        resize(160, 160);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), QColor(120, 40, 160));
    }
    void mousePressEvent(QMouseEvent *event) override { m_pressedAt = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_pressedAt.isNull() || m_started
            || (event->position().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance())
            return;
        m_started = true;
        auto *data = new QMimeData;
        data->setUrls(m_urls);
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
        std::printf("drag ended: %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QList<QUrl> m_urls;
    QPoint m_pressedAt;
    bool m_started = false;
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (const QString &arg : app.arguments().mid(1))
        urls << QUrl(arg);
    DragSource source(urls);
    source.show();
    return app.exec();
}
