#include "browse/FileListModel.h"

#include "browse/BrowseRules.h"
#include "browse/FolderRead.h"
#include "browse/FolderScan.h"
#include "browse/IconCache.h"

#include <algorithm>
#include <numeric>

FileListModel::FileListModel(QObject *parent, IconCache *icons)
    : QAbstractTableModel(parent), m_icons(icons ? icons : new IconCache)
{
}

FileListModel::~FileListModel()
{
    // A read stuck on a share is left behind, never waited for.
    if (m_read)
        m_read->cancel();
}

void FileListModel::setEntries(QList<FileEntry> entries)
{
    cancelRead();
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
    cancelRead();
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

void FileListModel::readFolder(const QString &folder, const QLocale &locale, int quickWaitMs)
{
    if (m_read) {
        m_read->cancel();
        m_read.reset();
        m_whenRead.clear();
    }
    beginResetModel();
    m_entries.clear();
    m_folder = folder;
    m_separators.emplace(locale);
    m_fillCollator.emplace(BrowseRules::fillCollator(locale));
    m_unread.clear();
    m_unreadCount = 0;
    m_widestSize = 0;
    m_rowOfName.clear();
    endResetModel();
    emit readProgress(0);

    // Batches a tenth of a second apart: a slow share's rows show as they
    // come without a model change per row.
    constexpr int kBatchMs = 100;
    m_read = FolderRead::start(this, [folder, separators = *m_separators, this](FolderRead::Feed &feed) {
        FolderScan::readPdfEntries(
            folder, separators, kBatchMs,
            [&](QList<FileEntry> batch) {
                return feed.post([this, batch = std::move(batch)]() mutable { addReadRows(std::move(batch)); });
            },
            [&](QList<FileEntry> batch) {
                return feed.post([this, batch = std::move(batch)] { addReadTexts(batch); });
            });
        feed.post([this] { finishRead(); });
    });
    // Keep the handle: a piece run in the wait may end this read and start another.
    const std::shared_ptr<FolderRead> read = m_read;
    read->waitFinished(quickWaitMs);
}

void FileListModel::cancelRead()
{
    if (!m_read)
        return;
    m_read->cancel();
    m_read.reset();
    m_whenRead.clear();
    emit readCancelled();
}

void FileListModel::whenRead(std::function<void()> then)
{
    if (m_read)
        m_whenRead.push_back(std::move(then));
    else
        then();
}

void FileListModel::addReadRows(QList<FileEntry> batch)
{
    if (batch.isEmpty()) {
        // Every row is in: the texts that follow find their rows by name.
        m_rowOfName.reserve(m_entries.size());
        for (int row = 0; row < m_entries.size(); ++row)
            m_rowOfName.insert(m_entries.at(row).name, row);
        return;
    }
    const QCollator &collator = *m_fillCollator;
    const auto widen = [this](const QList<FileEntry> &rows) {
        for (const FileEntry &e : rows)
            m_widestSize = std::max(m_widestSize, e.sizeText.size());
    };
    if (m_entries.isEmpty()) {
        // The whole folder at once (a local one, most often): one sort, one reset.
        BrowseRules::sortForFill(batch, collator);
        widen(batch);
        beginResetModel();
        m_entries = std::move(batch);
        endResetModel();
    } else {
        // Each at its place in the fill order: the rows never move under the user.
        widen(batch);
        for (FileEntry &e : batch) {
            const auto at = std::upper_bound(m_entries.cbegin(), m_entries.cend(), e,
                                             [&](const FileEntry &a, const FileEntry &b) {
                                                 return collator.compare(a.name, b.name) < 0;
                                             });
            const int row = int(at - m_entries.cbegin());
            beginInsertRows({}, row, row);
            m_entries.insert(row, std::move(e));
            endInsertRows();
        }
    }
    emit readProgress(int(m_entries.size()));
}

void FileListModel::addReadTexts(const QList<FileEntry> &batch)
{
    int first = int(m_entries.size()), last = -1;
    for (const FileEntry &e : batch) {
        const auto it = m_rowOfName.constFind(e.name);
        if (it == m_rowOfName.constEnd())
            continue;
        FileEntry &row = m_entries[it.value()];
        row.sizeText = e.sizeText;
        row.dateText = e.dateText;
        row.isDir = e.isDir;
        m_widestSize = std::max(m_widestSize, row.sizeText.size());
        first = std::min(first, it.value());
        last = std::max(last, it.value());
    }
    if (last >= first)
        emit dataChanged(index(first, 0), index(last, 2));
}

void FileListModel::finishRead()
{
    m_read.reset();
    m_rowOfName.clear();
    // Before the signal: what waited for the whole folder (a sort, a row to
    // select) is part of the fill.
    const std::vector<std::function<void()>> then = std::exchange(m_whenRead, {});
    for (const auto &f : then)
        f();
    emit readFinished();
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
    if (m_read) {
        whenRead([this, compare, captionsOnly] { sortRows(compare, captionsOnly); });
        return;
    }
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
