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
    m_unread.clear();
    m_unreadCount = 0;
    m_widestSize = 0;
    for (const FileEntry &e : std::as_const(m_entries))
        m_widestSize = std::max(m_widestSize, e.sizeText.size());
    endResetModel();
}

void FileListModel::fillFromFolder(const QString &folder, const QLocale &locale)
{
    QList<FileEntry> entries = FolderScan::listPdfNames(folder);
    BrowseRules::sortForFill(entries, BrowseRules::fillCollator(locale));
    beginResetModel();
    m_entries = std::move(entries);
    m_folder = folder;
    m_separators.emplace(locale);
    m_unread.assign(m_entries.size(), true);
    m_unreadCount = m_entries.size();
    m_widestSize = 0;
    endResetModel();
}

void FileListModel::readTexts(int row) const
{
    if (m_unreadCount == 0 || row < 0 || size_t(row) >= m_unread.size() || !m_unread[row])
        return;
    m_unread[row] = false;
    --m_unreadCount;
    FolderScan::readTexts(m_folder, m_entries[row], *m_separators);
    m_widestSize = std::max(m_widestSize, m_entries[row].sizeText.size());
}

void FileListModel::readAllTexts() const
{
    for (int row = 0; m_unreadCount > 0 && row < m_entries.size(); ++row)
        readTexts(row);
}

const QList<FileEntry> &FileListModel::entries() const
{
    readAllTexts();
    return m_entries;
}

const FileEntry &FileListModel::entry(int row) const
{
    readTexts(row);
    return m_entries.at(row);
}

void FileListModel::sortRows(const std::function<int(const FileEntry &, const FileEntry &)> &compare,
                             bool captionsOnly)
{
    if (!captionsOnly)
        readAllTexts();
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
    std::vector<bool> unread(m_unreadCount > 0 ? n : 0);
    for (int i = 0; i < n; ++i) {
        newRowOf[order[i]] = i;
        sorted.append(std::move(m_entries[order[i]]));
        if (!unread.empty())
            unread[i] = m_unread[order[i]];
    }
    m_entries = std::move(sorted);
    m_unread = std::move(unread);
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
    if (role == Qt::DisplayRole && index.column() > 0)
        readTexts(index.row());
    const FileEntry &e = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            // One line in every view: a name may hold a line break.
            return BrowseRules::oneLineName(e.name);
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
