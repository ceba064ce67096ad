#include "browse/FileListView.h"

#include "browse/BrowseRules.h"
#include "browse/FileListModel.h"
#include "browse/FileNameDelegate.h"
#include "browse/IconCache.h"
#include "browse/ThumbnailListView.h"

#include <QFileIconProvider>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

FileListView::FileListView(QWidget *parent)
    : QWidget(parent),
      m_model(new FileListModel(this, new IconCache(new QFileIconProvider))),
      m_stack(new QStackedWidget(this)),
      m_report(new QTreeView(m_stack)),
      m_icons(new QListView(m_stack)),
      m_thumbs(new ThumbnailListView(m_stack))
{
    m_report->setModel(m_model);
    m_report->setItemDelegate(new FileNameDelegate(m_report));
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setWordWrap(false);
    m_report->setSelectionMode(QAbstractItemView::SingleSelection);
    m_report->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_report->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_report->setAllColumnsShowFocus(true);
    m_report->setIconSize(QSize(16, 16));
    m_report->header()->setStretchLastSection(false);
    m_report->header()->setSectionsClickable(true);
    m_report->header()->setSectionsMovable(false);
    m_report->header()->setSortIndicatorShown(false);
    m_report->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_report->setColumnWidth(0, 90);
    m_report->setColumnWidth(1, 60);
    m_report->setColumnWidth(2, 85);

    m_icons->setModel(m_model);
    m_icons->setItemDelegate(new FileNameDelegate(m_icons));
    m_icons->setModelColumn(0);
    m_icons->setSelectionModel(m_report->selectionModel());
    m_icons->setSelectionMode(QAbstractItemView::SingleSelection);
    // Whole rows, as the report view selects them: one selection for both views.
    m_icons->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_icons->setWordWrap(false);
    m_icons->setTextElideMode(Qt::ElideRight);
    m_icons->setMovement(QListView::Static);
    m_icons->setFlow(QListView::LeftToRight);
    m_icons->setWrapping(true);
    m_icons->setResizeMode(QListView::Adjust);
    // A fixed grid with uniform items: laying out 10,000 rows needs no text measuring.
    m_icons->setUniformItemSizes(true);
    m_icons->setLayoutMode(QListView::Batched);

    m_thumbs->setModel(m_model);
    m_thumbs->setModelColumn(0);
    m_thumbs->setSelectionModel(m_report->selectionModel());

    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);
    m_stack->addWidget(m_thumbs);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    for (QAbstractItemView *view : views()) {
        view->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, &FileListView::doubleClicked);
    }
    connect(m_report->header(), &QHeaderView::sectionClicked, this, &FileListView::columnClicked);
    connect(m_report->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current, const QModelIndex &previous) {
                // A move from the unannounced stand-in row started at no row.
                const int from = std::exchange(m_fromNoRow, false) ? -1 : previous.row();
                emit currentRowChanged(current.row(), from);
            });
    // After a fill no row is current: a view would otherwise make the first
    // row current (unselected) when it next takes the focus, and the first
    // Down would then step past the first file to the second.
    connect(m_model, &QAbstractItemModel::modelReset, this, &FileListView::clearCurrentRow);
    connect(m_model, &QAbstractItemModel::modelReset, this, &FileListView::onRowsReplaced);
    m_report->viewport()->installEventFilter(this);
    setFocusProxy(m_report);
}

void FileListView::clearCurrentRow()
{
    // Set through the views, so that each takes "no current row" as chosen.
    for (QAbstractItemView *view : views())
        view->setCurrentIndex(QModelIndex());
}

QList<QAbstractItemView *> FileListView::views() const
{
    return {m_report, m_icons, m_thumbs};
}

QAbstractItemView *FileListView::currentView() const
{
    switch (m_style) {
    case ViewStyle::Report:
        return m_report;
    case ViewStyle::Thumbnail:
        return m_thumbs;
    default:
        return m_icons;
    }
}

void FileListView::setThumbnailProvider(ThumbnailProvider *provider)
{
    m_thumbs->setProvider(provider);
}

void FileListView::applyIconMode(bool large)
{
    const QFontMetrics fm(m_icons->font());
    m_icons->setViewMode(large ? QListView::IconMode : QListView::ListMode);
    // setViewMode resets these; the list flows in rows and wraps between them.
    m_icons->setMovement(QListView::Static);
    m_icons->setFlow(QListView::LeftToRight);
    m_icons->setWrapping(true);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setWordWrap(false);
    if (large) {
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(QSize(fm.averageCharWidth() * 14, 32 + fm.height() + 12));
    } else {
        // Cells as wide as the widest name needs, up to the width of the
        // list: shorter names are not cut, longer ones are cut at the edge.
        m_icons->setIconSize(QSize(16, 16));
        if (m_iconNameTextWidth < 0) {
            const QStringList names = shownNames();
            const WidestText widest = widestText(names, fm);
            m_iconNameTextWidth = widest.width;
            m_iconWidestName = widest.index < 0 ? QString() : names.at(widest.index);
        }
        QStyleOptionViewItem opt;
        opt.initFrom(m_icons);
        opt.font = m_icons->font();
        opt.fontMetrics = fm;
        opt.features = QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
        opt.decorationSize = QSize(16, 16);
        opt.decorationPosition = QStyleOptionViewItem::Left;
        const auto cellFor = [&](const QString &text) {
            opt.text = text;
            return m_icons->style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), m_icons).width();
        };
        // As for the report's names: the widest name's cell, or wider where
        // a name not measured may be.
        const int overhead = cellFor(QStringLiteral("x")) - fm.horizontalAdvance(QLatin1Char('x'));
        const int need = qMax(m_iconNameTextWidth + overhead, cellFor(m_iconWidestName)) + 4;
        // The stack lays out only the view it shows: the room is taken from
        // the stack, less the view's frame and a vertical scroll bar.
        const int room = qMax(16, m_stack->width() - 2 * m_icons->frameWidth() - 2
                                      - m_icons->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_icons));
        m_icons->setGridSize(QSize(qBound(16 + overhead, need, room), qMax(16, fm.height()) + 4));
    }
}

QStringList FileListView::shownNames() const
{
    QStringList names;
    names.reserve(m_model->rowCount());
    for (int row = 0; row < m_model->rowCount(); ++row)
        names << BrowseRules::oneLineName(m_model->caption(row));
    return names;
}

void FileListView::onRowsReplaced()
{
    m_nameTextWidth = -1;
    m_iconNameTextWidth = -1;
    m_fittedSizeLength = 0;
    refitColumns();
    if (m_style == ViewStyle::SmallIcon)
        applyIconMode(false);
}

int FileListView::cellWidthFor(int column, const QString &text) const
{
    QStyleOptionViewItem opt;
    opt.initFrom(m_report);
    opt.font = m_report->font();
    opt.fontMetrics = QFontMetrics(opt.font);
    opt.features = QStyleOptionViewItem::HasDisplay;
    if (column == 0) {
        opt.features |= QStyleOptionViewItem::HasDecoration;
        opt.decorationSize = m_report->iconSize();
        opt.decorationPosition = QStyleOptionViewItem::Left;
    }
    opt.text = text;
    return m_report->style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), m_report).width();
}

int FileListView::textWidthNeeded(int column) const
{
    const QFontMetrics fm(m_report->font());
    // Digits may differ in width: every text is measured in the widest.
    QChar widestDigit = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d) {
        if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(widestDigit))
            widestDigit = QChar(d);
    }
    const auto inWidestDigits = [widestDigit](QString text) {
        for (QChar &c : text) {
            if (c.isDigit())
                c = widestDigit;
        }
        return text;
    };
    switch (column) {
    case 0: {
        if (m_nameTextWidth < 0) {
            const QStringList names = shownNames();
            const WidestText widest = widestText(names, fm);
            m_nameTextWidth = widest.width;
            m_widestName = widest.index < 0 ? QString() : names.at(widest.index);
        }
        // The widest name's cell as the style lays it out, or wider where a
        // name not measured may be; the margins and icon are measured around
        // a sample text (with no text at all the style leaves them out).
        const QString sample = QStringLiteral("x");
        const int estimated = cellWidthFor(0, sample) - fm.horizontalAdvance(sample) + m_nameTextWidth;
        return m_widestName.isEmpty() ? estimated : qMax(estimated, cellWidthFor(0, m_widestName));
    }
    case 1: {
        const qsizetype length = qMax<qsizetype>(m_model->widestSizeTextLength(), 3);
        return cellWidthFor(1, QString(length - 2, widestDigit) + QStringLiteral("kb"));
    }
    case 2:
        return cellWidthFor(2, inWidestDigits(BrowseRules::dateText(2000, 1, 1, 0, 0, m_model->dateSeparators())));
    }
    return 0;
}

void FileListView::fitColumns(int width, int sizeWidth, int dateWidth, int slack)
{
    m_fit = {width, sizeWidth, dateWidth, slack};
    refitColumns();
}

void FileListView::refitColumns()
{
    if (m_fit.width < 0)
        return;
    m_fittedSizeLength = m_model->widestSizeTextLength();
    const int size = qMax(m_fit.sizeWidth, textWidthNeeded(1));
    const int date = qMax(m_fit.dateWidth, textWidthNeeded(2));
    const int name = qMax(qMax(0, m_fit.width - size - date - m_fit.slack), textWidthNeeded(0));
    m_report->setColumnWidth(0, name);
    m_report->setColumnWidth(1, size);
    m_report->setColumnWidth(2, date);
}

void FileListView::fitVisibleSizes()
{
    if (m_fit.width < 0 || m_model->rowCount() == 0)
        return;
    const QRect area = m_report->viewport()->rect();
    const QModelIndex first = m_report->indexAt(area.topLeft());
    if (!first.isValid())
        return;
    const QModelIndex lastShown = m_report->indexAt(QPoint(0, area.bottom()));
    const int last = lastShown.isValid() ? lastShown.row() : m_model->rowCount() - 1;
    for (int row = first.row(); row <= last; ++row)
        m_model->entry(row);
    if (m_model->widestSizeTextLength() > m_fittedSizeLength)
        refitColumns();
}

void FileListView::setViewStyle(ViewStyle style)
{
    const bool hadFocus = currentView()->hasFocus();
    m_style = style;
    if (style != ViewStyle::Thumbnail)
        m_thumbs->setActive(false);
    if (style == ViewStyle::Report) {
        m_stack->setCurrentWidget(m_report);
    } else if (style == ViewStyle::Thumbnail) {
        m_stack->setCurrentWidget(m_thumbs);
    } else {
        applyIconMode(style == ViewStyle::LargeIcon);
        m_stack->setCurrentWidget(m_icons);
    }
    // Once shown: the view asks for its visible files at once.
    if (style == ViewStyle::Thumbnail)
        m_thumbs->setActive(true);
    setFocusProxy(currentView());
    if (hadFocus)
        currentView()->setFocus();
    const QModelIndex current = m_report->selectionModel()->currentIndex();
    if (current.isValid())
        currentView()->scrollTo(m_model->index(current.row(), 0));
}

int FileListView::columnWidth(int column) const
{
    return m_report->columnWidth(column);
}

void FileListView::setColumnWidth(int column, int width)
{
    m_report->setColumnWidth(column, width);
}

int FileListView::selectedRow() const
{
    const QModelIndexList selected = m_report->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

QString FileListView::selectedName() const
{
    const int row = selectedRow();
    return row < 0 ? QString() : m_model->caption(row);
}

QString FileListView::selectedPath() const
{
    const int row = selectedRow();
    return row < 0 ? QString() : m_model->filePath(row);
}

void FileListView::selectRow(int row)
{
    QItemSelectionModel *sel = m_report->selectionModel();
    if (row < 0 || row >= m_model->rowCount()) {
        sel->clear();
        return;
    }
    sel->setCurrentIndex(m_model->index(row, 0),
                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FileListView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The small icons' cells are at most as wide as the list.
    if (m_style == ViewStyle::SmallIcon)
        applyIconMode(false);
    emit resized();
}

bool FileListView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && watched == m_report->viewport())
        fitVisibleSizes();
    if (event->type() == QEvent::KeyPress && watched == currentView()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        emit keyPressed(key->key(), key->modifiers());
        startFromFirstRow(key->key());
    }
    return QWidget::eventFilter(watched, event);
}

void FileListView::startFromFirstRow(int key)
{
    // With no current row a view takes any move to mean "the first row",
    // which is right for Down, Up and Home but leaves End and PageDown
    // there too.  Those move from the first row as if it were current.  The
    // stand-in is set unannounced: only the row the key lands on is news.
    if (key != Qt::Key_End && key != Qt::Key_PageDown)
        return;
    QItemSelectionModel *sel = m_report->selectionModel();
    if (sel->currentIndex().isValid() || m_model->rowCount() == 0)
        return;
    // A key that cannot leave the one row selects it, as Down would.
    if (m_model->rowCount() == 1) {
        selectRow(0);
        return;
    }
    {
        const QSignalBlocker quiet(sel);
        sel->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
    }
    m_fromNoRow = true;
}
