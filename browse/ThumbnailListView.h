#pragma once

#include "browse/ThumbnailProvider.h"

#include <QHash>
#include <QListView>
#include <QPointer>
#include <QStringList>

#include <functional>

class QTimer;


// The file list's thumbnail style: each PDF file as its first page, fitted
// into a square cell, with its name below (shortened in the middle); folders
// and files without a picture yet show their type's icon.  Ctrl+wheel and
// Ctrl+plus/minus change the cell between 64 and 512 pixels.
//
// While active (shown as the list's style), the view tells its provider which
// files to make: the visible ones in view order, then the rest of the list in
// list order, again whenever the list scrolls, is refilled or is sorted.
// Leaving the style cancels that work.
//
// UI thread.  Signals: screenComplete() after a paint that left every visible
// file with its final picture (or settled on its icon).
class ThumbnailListView : public QListView
{
    Q_OBJECT
public:
    static constexpr int minimumCell = 64;
    static constexpr int maximumCell = 512;
    static constexpr int defaultCell = 128;

    explicit ThumbnailListView(QWidget *parent = nullptr);
    ~ThumbnailListView() override;

    // Where the pictures come from (not owned); without one the view shows icons.
    void setProvider(ThumbnailProvider *provider);
    ThumbnailProvider *provider() const { return m_provider; }
    // The file a row names (its model is a FileListModel); empty for none.
    QString pathOf(int row) const;

    // Also follows the model's changes (refill, sort) with a new wish.
    void setModel(QAbstractItemModel *model) override;

    void setActive(bool active);
    bool isActive() const { return m_active; }

    // Side of the square cell in logical pixels, kept within 64..512.
    int cellSize() const { return m_cell; }
    void setCellSize(int pixels);
    void zoomIn();
    void zoomOut();

    // Rows visible now, in view order.
    QList<int> visibleRows() const;
    // True when every visible file shows its final picture or settled icon.
    bool isScreenComplete() const;

signals:
    void screenComplete();

protected:
    // PageUp and PageDown move by the whole rows of cells that fit the view
    // (at least one row): the list view's own page step misses when a cell
    // is more than half as high as the view.
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void applyCell();
    void scheduleRequest();
    void markDirty();
    void sendRequest();
    void onThumbnailReady(const QString &path);
    // isScreenComplete(), from the visible files of the last wish when it is
    // current (a scroll, resize or change since schedules a new one).
    bool isWishSettled() const;

    QPointer<ThumbnailProvider> m_provider;
    QTimer *m_requestTimer;
    int m_cell = defaultCell;
    bool m_active = false;
    bool m_completeSent = false;
    QHash<QString, int> m_visibleRowOf; // visible files at the last request
    QList<int> m_lastRows;              // visible rows at the last request
    bool m_dirty = true;                // rows, cell or provider changed since
    QRect m_arrived;                    // around the pictures arrived since the last paint
};
