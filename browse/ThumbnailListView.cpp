#include "browse/ThumbnailListView.h"

#include "browse/FileListModel.h"
#include "browse/FileNameDelegate.h"
#include "browse/ThumbnailProvider.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <array>

namespace {

constexpr int pad = 4;
// The cell sizes Ctrl+wheel and Ctrl+plus/minus step through.
constexpr std::array<int, 13> ladder{64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512};

// The square a cell's picture is fitted into, in a cell of `cell` pixels
// whose item rectangle is `item`.
QRect squareIn(const QRect &item, int cell)
{
    return {item.x() + (item.width() - cell) / 2, item.y() + pad, cell, cell};
}

bool isFolderRow(const QAbstractItemModel *model, int row)
{
    const auto *files = qobject_cast<const FileListModel *>(model);
    return files && row >= 0 && row < files->rowCount() && files->isFolder(row);
}

// Paints one cell: the picture (or the type's icon) in the square, the name
// below it, shortened in the middle.
class ThumbnailDelegate : public QStyledItemDelegate
{
public:
    explicit ThumbnailDelegate(ThumbnailListView *view) : QStyledItemDelegate(view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return m_view->gridSize(); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        const QString name = opt.text;
        const QIcon icon = opt.icon;
        const bool selected = opt.state & QStyle::State_Selected;
        opt.text.clear();
        opt.icon = QIcon();
        // The style would mark a selection behind the text it lays out, which
        // here is none: a box one character wide.  The name's own line is
        // marked below instead.
        QStyleOptionViewItem panel = opt;
        panel.state &= ~QStyle::State_Selected;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

        const int cell = m_view->cellSize();
        const QRect square = squareIn(opt.rect, cell);

        painter->save();
        bool pictured = false;
        if (ThumbnailProvider *provider = m_view->provider(); provider && !isFolderRow(index.model(), index.row())) {
            const QImage image = provider->thumbnail(m_view->pathOf(index.row()));
            if (!image.isNull()) {
                QRect target(QPoint(), image.size().scaled(square.size(), Qt::KeepAspectRatio));
                target.moveCenter(square.center());
                painter->setRenderHint(QPainter::SmoothPixmapTransform);
                painter->drawImage(target, image);
                // A one-pixel frame, as four fills: far cheaper than an outline.
                const QColor frame = opt.palette.color(QPalette::Mid);
                painter->fillRect(QRect(target.left(), target.top(), target.width(), 1), frame);
                painter->fillRect(QRect(target.left(), target.bottom(), target.width(), 1), frame);
                painter->fillRect(QRect(target.left(), target.top(), 1, target.height()), frame);
                painter->fillRect(QRect(target.right(), target.top(), 1, target.height()), frame);
                pictured = true;
            }
        }
        if (!pictured) {
            const int side = qBound(16, cell / 2, 128);
            QRect iconRect(0, 0, side, side);
            iconRect.moveCenter(square.center());
            icon.paint(painter, iconRect, Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);
        }

        const QRect textRect = nameRect(opt.rect, square, opt.fontMetrics);
        // A picture that arrives repaints its square only: the name stays.
        if (m_area.isNull() || m_area.intersects(textRect)) {
            const QStaticText &text = shortName(name, opt.font, opt.fontMetrics, textRect.width());
            const int textWidth = qCeil(text.size().width());
            const int x = textRect.x() + (textRect.width() - textWidth) / 2;
            if (selected) {
                const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                    : (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
                painter->fillRect(QRect(x - 2, textRect.y(), textWidth + 4, textRect.height()),
                                  opt.palette.brush(group, QPalette::Highlight));
            }
            painter->setFont(opt.font);
            painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
            painter->drawStaticText(x, textRect.y(), text);
        }
        painter->restore();

        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.backgroundColor = opt.palette.color(selected ? QPalette::Highlight : QPalette::Base);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

    // The part of the view being painted (null: all of it).
    void setPaintArea(const QRect &area) { m_area = area; }

    // Where a cell's name goes: the line below its square, as wide as the cell.
    static QRect nameRect(const QRect &item, const QRect &square, const QFontMetrics &fm)
    {
        return {item.x() + 2, square.bottom() + 1 + pad, item.width() - 4, fm.height()};
    }

    // The full name in a tooltip where the cell shows it shortened.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QRect textRect = nameRect(opt.rect, squareIn(opt.rect, m_view->cellSize()), opt.fontMetrics);
        FileNameDelegate::showNameTip(event->globalPos(), view, opt.text, opt.rect,
                                      opt.fontMetrics.horizontalAdvance(opt.text) > textRect.width());
        return true;
    }

private:
    // A name shortened in the middle to `width`, laid out once: a cell is
    // drawn again each time its picture arrives, and shaping the text is the
    // larger part of drawing a cell.  They stay while the style is left: a
    // switch back draws a screenful of names at once.
    const QStaticText &shortName(const QString &name, const QFont &font, const QFontMetrics &fm, int width) const
    {
        if (width != m_namesWidth || font != m_namesFont || m_names.size() > 1024) {
            m_names.clear();
            m_namesWidth = width;
            m_namesFont = font;
        }
        auto it = m_names.find(name);
        if (it == m_names.end()) {
            QStaticText text(fm.elidedText(name, Qt::ElideMiddle, width));
            text.setTextFormat(Qt::PlainText);
            text.prepare(QTransform(), font);
            it = m_names.insert(name, text);
        }
        return *it;
    }

    ThumbnailListView *m_view;
    QRect m_area;
    mutable QHash<QString, QStaticText> m_names;
    mutable int m_namesWidth = -1;
    mutable QFont m_namesFont;
};

} // namespace

ThumbnailListView::ThumbnailListView(QWidget *parent)
    : QListView(parent), m_requestTimer(new QTimer(this))
{
    setItemDelegate(new ThumbnailDelegate(this));
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setWordWrap(false);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Scroll, resize and model changes arrive in bursts: one wish per burst.
    m_requestTimer->setSingleShot(true);
    m_requestTimer->setInterval(0);
    connect(m_requestTimer, &QTimer::timeout, this, &ThumbnailListView::sendRequest);
    applyCell();
}

ThumbnailListView::~ThumbnailListView()
{
    if (m_active && m_provider)
        m_provider->cancel();
}

void ThumbnailListView::setProvider(ThumbnailProvider *provider)
{
    if (m_provider)
        disconnect(m_provider, nullptr, this, nullptr);
    m_provider = provider;
    if (m_provider)
        connect(m_provider, &ThumbnailProvider::thumbnailReady, this, &ThumbnailListView::onThumbnailReady);
    markDirty();
}

QString ThumbnailListView::pathOf(int row) const
{
    const auto *files = qobject_cast<const FileListModel *>(model());
    return files && row >= 0 && row < files->rowCount() ? files->filePath(row) : QString();
}

void ThumbnailListView::setModel(QAbstractItemModel *newModel)
{
    if (model())
        disconnect(model(), nullptr, this, nullptr);
    QListView::setModel(newModel);
    if (!newModel)
        return;
    // A refill may have changed files on disk; each is checked again by its time.
    connect(newModel, &QAbstractItemModel::modelReset, this, [this] {
        if (m_provider)
            m_provider->recheck();
        markDirty();
    });
    connect(newModel, &QAbstractItemModel::layoutChanged, this, &ThumbnailListView::markDirty);
    connect(newModel, &QAbstractItemModel::rowsInserted, this, &ThumbnailListView::markDirty);
    connect(newModel, &QAbstractItemModel::rowsRemoved, this, &ThumbnailListView::markDirty);
    connect(newModel, &QAbstractItemModel::rowsMoved, this, &ThumbnailListView::markDirty);
}

void ThumbnailListView::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    if (active) {
        applyCell();
        m_dirty = true;
        if (isVisible()) {
            // The look-ups start before the first paint, which then runs beside them.
            m_requestTimer->stop();
            sendRequest();
        } else {
            scheduleRequest();
        }
    } else {
        m_requestTimer->stop();
        m_visibleRowOf.clear();
        m_lastRows.clear();
        if (m_provider)
            m_provider->cancel();
    }
}

void ThumbnailListView::setCellSize(int pixels)
{
    pixels = qBound(minimumCell, pixels, maximumCell);
    if (pixels == m_cell)
        return;
    m_cell = pixels;
    applyCell();
    markDirty();
}

void ThumbnailListView::zoomIn()
{
    const auto next = std::upper_bound(ladder.begin(), ladder.end(), m_cell);
    setCellSize(next == ladder.end() ? maximumCell : *next);
}

void ThumbnailListView::zoomOut()
{
    const auto next = std::lower_bound(ladder.begin(), ladder.end(), m_cell);
    setCellSize(next == ladder.begin() ? minimumCell : *(next - 1));
}

void ThumbnailListView::applyCell()
{
    const QFontMetrics fm(font());
    setIconSize(QSize(m_cell, m_cell));
    setGridSize(QSize(m_cell + 4 * pad, m_cell + 3 * pad + fm.height()));
    // setGridSize keeps the layout; the new cells need a new one.
    scheduleDelayedItemsLayout();
    viewport()->update();
}

QList<int> ThumbnailListView::visibleRows() const
{
    QList<int> rows;
    if (!model() || model()->rowCount() == 0)
        return rows;
    const QRect area = viewport()->rect();
    const QSize grid = gridSize();
    // Probe the viewport at less than a cell's spacing: every cell that shows
    // is hit at least once.
    const int stepX = qMax(8, grid.width() / 2);
    const int stepY = qMax(8, grid.height() / 2);
    QSet<int> seen;
    for (int y = 0; y < area.height() + stepY; y += stepY) {
        for (int x = 0; x < area.width() + stepX; x += stepX) {
            const QModelIndex index = indexAt(QPoint(qMin(x, area.width() - 1), qMin(y, area.height() - 1)));
            if (index.isValid() && !seen.contains(index.row())) {
                seen.insert(index.row());
                rows << index.row();
            }
        }
    }
    // The cells flow in rows, left to right, in list order.
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ThumbnailListView::isScreenComplete() const
{
    if (!m_provider)
        return true;
    for (int row : visibleRows()) {
        if (!isFolderRow(model(), row) && !m_provider->isSettled(pathOf(row)))
            return false;
    }
    return true;
}

void ThumbnailListView::scheduleRequest()
{
    if (m_active)
        m_requestTimer->start();
}

void ThumbnailListView::markDirty()
{
    m_dirty = true;
    scheduleRequest();
}

void ThumbnailListView::sendRequest()
{
    if (!m_active || !m_provider || !model() || !isVisible())
        return;
    // The layout must be current for the visible cells to be known.
    executeDelayedItemsLayout();
    const QList<int> rows = visibleRows();
    // A scroll within the same cells, or a move of the selection, changes nothing.
    if (!m_dirty && rows == m_lastRows)
        return;
    m_dirty = false;
    m_lastRows = rows;
    m_provider->setPixelSize(qRound(m_cell * devicePixelRatioF()));
    QStringList visible;
    m_visibleRowOf.clear();
    for (int row : rows) {
        if (isFolderRow(model(), row))
            continue;
        const QString path = pathOf(row);
        visible << path;
        m_visibleRowOf.insert(path, row);
    }
    m_completeSent = false;
    m_provider->requestVisibleFirst(visible, [this, &rows] {
        QStringList rest;
        const int count = model()->rowCount();
        rest.reserve(count);
        for (int row = 0; row < count; ++row) {
            if (std::binary_search(rows.cbegin(), rows.cend(), row)) // rows are in list order
                continue;
            if (!isFolderRow(model(), row))
                rest << pathOf(row);
        }
        return rest;
    });
    viewport()->update();
}

void ThumbnailListView::onThumbnailReady(const QString &path)
{
    const int row = m_visibleRowOf.value(path, -1);
    if (row < 0 || !model())
        return;
    // Pictures that arrive together are drawn in one rectangle around them:
    // a clip of many small rectangles makes every fill and blend of the
    // paint slow.  (Each update holds the ones before, so the area to paint
    // stays one rectangle.)
    m_arrived |= squareIn(visualRect(model()->index(row, 0)), m_cell);
    viewport()->update(m_arrived);
}

QModelIndex ThumbnailListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = currentIndex();
    if ((cursorAction != MovePageDown && cursorAction != MovePageUp) || !current.isValid() || !model())
        return QListView::moveCursor(cursorAction, modifiers);
    const QSize grid = gridSize();
    const int perRow = qMax(1, viewport()->width() / qMax(1, grid.width()));
    const int rowsPerPage = qMax(1, viewport()->height() / qMax(1, grid.height()));
    const int step = perRow * rowsPerPage * (cursorAction == MovePageDown ? 1 : -1);
    const int row = qBound(0, current.row() + step, model()->rowCount() - 1);
    return model()->index(row, modelColumn(), rootIndex());
}

void ThumbnailListView::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        const int key = event->key();
        if (key == Qt::Key_Plus || key == Qt::Key_Equal || event->matches(QKeySequence::ZoomIn)) {
            zoomIn();
            event->accept();
            return;
        }
        if (key == Qt::Key_Minus || event->matches(QKeySequence::ZoomOut)) {
            zoomOut();
            event->accept();
            return;
        }
    }
    QListView::keyPressEvent(event);
}

void ThumbnailListView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QListView::wheelEvent(event);
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta > 0)
        zoomIn();
    else if (delta < 0)
        zoomOut();
    event->accept();
}

bool ThumbnailListView::isWishSettled() const
{
    if (m_dirty || !m_provider)
        return isScreenComplete();
    for (auto it = m_visibleRowOf.cbegin(); it != m_visibleRowOf.cend(); ++it)
        if (!m_provider->isSettled(it.key()))
            return false;
    return true;
}

void ThumbnailListView::paintEvent(QPaintEvent *event)
{
    m_arrived = QRect();
    auto *delegate = static_cast<ThumbnailDelegate *>(itemDelegate());
    delegate->setPaintArea(event->rect());
    QListView::paintEvent(event);
    delegate->setPaintArea({});
    if (m_active && !m_completeSent && !m_requestTimer->isActive() && isWishSettled()) {
        m_completeSent = true;
        emit screenComplete();
    }
}

void ThumbnailListView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    scheduleRequest();
}

void ThumbnailListView::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    scheduleRequest();
}
