#include "browse/FileListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

FileListView::FileListView(QWidget *parent)
    : QWidget(parent),
      m_model(new QStandardItemModel(0, 3, this)),
      m_stack(new QStackedWidget(this)),
      m_report(new QTreeView(m_stack)),
      m_icons(new QListView(m_stack))
{
    m_model->setHorizontalHeaderLabels({QStringLiteral("ファイル名"), QStringLiteral("サイズ"),
                                        QStringLiteral("日付")});
    m_model->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_report->setModel(m_model);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setSelectionMode(QAbstractItemView::SingleSelection);
    m_report->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_report->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_report->setAllColumnsShowFocus(true);
    m_report->header()->setStretchLastSection(false);
    m_report->header()->setSectionsClickable(true);
    m_report->header()->setSectionsMovable(false);
    m_report->setColumnWidth(0, 90);
    m_report->setColumnWidth(1, 60);
    m_report->setColumnWidth(2, 85);

    m_icons->setModel(m_model);
    m_icons->setModelColumn(0);
    m_icons->setSelectionModel(m_report->selectionModel());
    m_icons->setSelectionMode(QAbstractItemView::SingleSelection);
    m_icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_icons->setWordWrap(false);
    m_icons->setUniformItemSizes(true);

    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_report),
                                    static_cast<QAbstractItemView *>(m_icons)}) {
        view->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, &FileListView::doubleClicked);
    }
    connect(m_report->header(), &QHeaderView::sectionClicked, this, &FileListView::columnClicked);
    setFocusProxy(m_report);
}

QAbstractItemView *FileListView::currentView() const
{
    return m_style == ViewStyle::Report ? static_cast<QAbstractItemView *>(m_report) : m_icons;
}

void FileListView::setViewStyle(ViewStyle style)
{
    const bool hadFocus = currentView()->hasFocus();
    m_style = style;
    if (style == ViewStyle::Report) {
        m_stack->setCurrentWidget(m_report);
    } else {
        const bool large = style == ViewStyle::LargeIcon;
        m_icons->setViewMode(large ? QListView::IconMode : QListView::ListMode);
        m_icons->setFlow(large ? QListView::LeftToRight : QListView::TopToBottom);
        m_icons->setWrapping(true);
        m_icons->setResizeMode(QListView::Adjust);
        m_icons->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
        m_stack->setCurrentWidget(m_icons);
    }
    setFocusProxy(currentView());
    if (hadFocus)
        currentView()->setFocus();
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
    const QModelIndexList rows = m_report->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void FileListView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

bool FileListView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched == currentView()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        emit keyPressed(key->key(), key->modifiers());
    }
    return QWidget::eventFilter(watched, event);
}
