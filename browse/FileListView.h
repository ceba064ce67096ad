#pragma once

#include <QWidget>

#include <functional>

class FileListModel;
class QAbstractItemView;
class QListView;
class QStackedWidget;
class QTreeView;
class ThumbnailListView;
class ThumbnailProvider;

// The file list control: one model of rows (caption, size text, date text,
// icon) shown either by a three-column report view or by a list view in
// small-icon or large-icon mode, or by the thumbnail view (first pages of the
// files, see ThumbnailListView).  The view that fits the style is the one
// visible and the one that takes the keyboard focus (it is the focus proxy).
// Both views share one selection (one row at a time), so a row stays
// selected across a change of style.  After every fill no row is current or
// selected: the first Down, Up or Home selects the first row, and End and
// PageDown move from the first row.  Captions are never wrapped.
// Lives on the UI thread; owned by its parent widget; owns its model.
class FileListView : public QWidget
{
    Q_OBJECT
public:
    enum class ViewStyle { Report, SmallIcon, LargeIcon, Thumbnail };

    explicit FileListView(QWidget *parent = nullptr);

    FileListModel *model() const { return m_model; }
    // The view of the present style (the focus proxy).
    QAbstractItemView *currentView() const;
    QTreeView *reportView() const { return m_report; }
    QListView *iconView() const { return m_icons; }
    ThumbnailListView *thumbnailView() const { return m_thumbs; }

    // Where the thumbnail style takes its pictures from (not owned).
    void setThumbnailProvider(ThumbnailProvider *provider);

    ViewStyle viewStyle() const { return m_style; }
    // Switches the visible view; rows, selection and focus are kept.
    void setViewStyle(ViewStyle style);

    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    // Lays the report view's columns out for a list `width` wide: the size
    // and date columns `sizeWidth` and `dateWidth` wide, or wider where their
    // texts need it in the view's font; the name column fills the rest less
    // `slack`, and is never narrower than the widest name needs (a list too
    // narrow for all three scrolls sideways).  Kept up after each fill, and
    // when a wider size text comes into view.
    void fitColumns(int width, int sizeWidth, int dateWidth, int slack);
    // What the texts of `column` need, cell margins (and for names the icon)
    // included: the widest name of the rows, a date in the widest digits,
    // the longest size text read so far in the widest digits.
    int textWidthNeeded(int column) const;

    // Row of the selected entry, -1 when none is selected.
    int selectedRow() const;
    // Caption of the selected entry, empty when none is selected.
    QString selectedName() const;
    // Full path of the selected entry, empty when none is selected.
    QString selectedPath() const;
    // Selects `row` and makes it current (-1 clears the selection).
    void selectRow(int row);

signals:
    // Every resize of the control (the window's ListView1Resize).
    void resized();
    // A double click on a row.
    void doubleClicked();
    // A key pressed in the visible view, before the view handles it.
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);
    // A click on a column header of the report view.
    void columnClicked(int column);
    // The current row moved (-1: none), in whichever view: they share one
    // selection.
    void currentRowChanged(int current, int previous);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyIconMode(bool large);
    void clearCurrentRow();
    // Sets the report's column widths from the last fitColumns() call.
    void refitColumns();
    // After a fill: new names, new widths.
    void onRowsReplaced();
    // Before the report paints: the visible rows' texts are read and a size
    // text wider than its column widens it, so nothing is drawn cut.
    void fitVisibleSizes();
    // The rows' names as the views show them.
    QStringList shownNames() const;
    // The width `text` takes in a cell of the report's `column`.
    int cellWidthFor(int column, const QString &text) const;
    // Before the visible view handles `key`: End and PageDown on a list
    // without a current row move from its first row.
    void startFromFirstRow(int key);
    // Every view of the rows, whatever the style.
    QList<QAbstractItemView *> views() const;

    FileListModel *m_model;
    QStackedWidget *m_stack;
    QTreeView *m_report;
    QListView *m_icons;
    ThumbnailListView *m_thumbs;
    ViewStyle m_style = ViewStyle::Report;
    struct ColumnFit
    {
        int width = -1; // -1: the columns keep their set widths
        int sizeWidth = 0;
        int dateWidth = 0;
        int slack = 0;
    } m_fit;
    mutable int m_nameTextWidth = -1;    // widest name in the report's font, -1: not measured
    mutable QString m_widestName;        // the widest name measured
    mutable int m_iconNameTextWidth = -1; // the same in the icon view's font
    QString m_iconWidestName;
    qsizetype m_fittedSizeLength = 0;     // size texts the size column was fitted to
    bool m_fromNoRow = false; // the current row is a stand-in for "none"
};
