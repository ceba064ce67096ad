#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

class QFontMetrics;

// How the file list's report and icon views draw a row's name: as the
// style draws it, shortened where it does not fit, with the whole name in a
// tooltip wherever it is shortened.  In a list view with a grid every item
// is one grid cell, so that a name is shortened at its cell's edge (not at
// the first item's width, and never over the next cell).
// UI thread; owned by the view it draws for.
class FileNameDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit FileNameDelegate(QObject *parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The tooltip of a name: the whole `name` over `area` of `view` when
    // the view shows it `shortened`, otherwise none.  The name is shown as
    // plain text whatever characters it holds.
    static void showNameTip(const QPoint &globalPos, QAbstractItemView *view, const QString &name,
                            const QRect &area, bool shortened);
};

// The widest of `texts` in `fm`: `index` is the widest of those measured
// (-1 for none), `width` at least as wide as each text is drawn.  Measuring
// every text is a text layout each (about 15 µs, too slow for a list of
// 10,000 names on every fill); instead each text's width is estimated from
// cached character advances, and the texts that estimate widest are
// measured.  The width is the larger of those measures and the estimate of
// the widest text not measured.  Any thread, with its own QFontMetrics.
struct WidestText
{
    qsizetype index = -1;
    int width = 0;
};
WidestText widestText(const QStringList &texts, const QFontMetrics &fm);
inline int widestTextWidth(const QStringList &texts, const QFontMetrics &fm)
{
    return widestText(texts, fm).width;
}
