#pragma once

#include <QWidget>

class QAbstractItemView;
class QListView;
class QStackedWidget;
class QStandardItemModel;
class QTreeView;

// The file list control: one model of rows (caption, size text, date text,
// icon) shown either by a three-column report view or by a list view in
// small-icon or large-icon mode.  The view that fits the style is the one
// visible and the one that takes the keyboard focus (it is the focus proxy).
// Lives on the UI thread; owned by its parent widget.
class FileListView : public QWidget
{
    Q_OBJECT
public:
    enum class ViewStyle { Report, SmallIcon, LargeIcon };

    explicit FileListView(QWidget *parent = nullptr);

    QStandardItemModel *model() const { return m_model; }
    // The view of the present style (the focus proxy).
    QAbstractItemView *currentView() const;
    QTreeView *reportView() const { return m_report; }

    ViewStyle viewStyle() const { return m_style; }
    void setViewStyle(ViewStyle style);

    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);

    // Row of the selected entry, -1 when none is selected.
    int selectedRow() const;

signals:
    // Every resize of the control (the window's ListView1Resize).
    void resized();
    // A double click on a row.
    void doubleClicked();
    // A key pressed in the visible view, before the view handles it.
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);
    // A click on a column header of the report view.
    void columnClicked(int column);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStandardItemModel *m_model;
    QStackedWidget *m_stack;
    QTreeView *m_report;
    QListView *m_icons;
    ViewStyle m_style = ViewStyle::Report;
};
