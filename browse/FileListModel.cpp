#include "browse/FileListModel.h"

#include "browse/BrowseRules.h"
#include "browse/FolderScan.h"
#include "browse/IconCache.h"

#include <algorithm>
#include <numeric>

FileListModel::FileListModel(QObject *parent, IconCache *icons)
    : QAbstractTableModel(parent), m_icons(icons ? icons : new IconCache)
{
}

FileListModel::~FileListModel() = default;

void FileListModel::setEntries(QList<FileEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

void FileListModel::fillFromFolder(const QString &folder, const QLocale &locale)
{
    QList<FileEntry> entries = FolderScan::listPdfEntries(folder, locale);
    BrowseRules::sortForFill(entries, BrowseRules::fillCollator(locale));
    setEntries(std::move(entries));
}

void FileListModel::sortRows(const std::function<int(const FileEntry &, const FileEntry &)> &compare)
{
    const int n = static_cast<int>(m_entries.size());
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return compare(m_entries.at(a), m_entries.at(b)) < 0;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(n);
    QList<FileEntry> sorted;
    sorted.reserve(n);
    for (int i = 0; i < n; ++i) {
        newRowOf[order[i]] = i;
        sorted.append(std::move(m_entries[order[i]]));
    }
    m_entries = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before)
        after.append(index(newRowOf[idx.row()], idx.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const FileEntry &e = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            return e.name;
        case 1:
            return e.sizeText;
        case 2:
            return e.dateText;
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == 0)
            return m_icons->iconFor(e.name, e.isDir);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == 1)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case 0:
            return QStringLiteral("ファイル名");
        case 1:
            return QStringLiteral("サイズ");
        case 2:
            return QStringLiteral("日付");
        }
    } else if (role == Qt::TextAlignmentRole && section == 1) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
