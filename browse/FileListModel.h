#pragma once

#include "browse/FileEntry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QLocale>

#include <functional>
#include <memory>

class IconCache;

// The rows of the file list, shared by its three view styles: caption
// ("ファイル名"), size text ("サイズ", right-aligned) and date text ("日付"),
// with the icon of the entry's type.  Rows are replaced only by setEntries()
// and reordered only by sortRows().  UI thread; widget-free.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Takes ownership of `icons`; without one the model makes a plain cache.
    explicit FileListModel(QObject *parent = nullptr, IconCache *icons = nullptr);
    ~FileListModel() override;

    // Replaces all rows at once (one model reset: the views redraw once).
    void setEntries(QList<FileEntry> entries);
    void clear() { setEntries({}); }
    // Fills the rows from the "*.pdf" entries of `folder` (trailing delimiter),
    // in ascending caption order, case-sensitive, collated for `locale`.  A
    // folder that cannot be read gives no rows.
    void fillFromFolder(const QString &folder, const QLocale &locale);
    const QList<FileEntry> &entries() const { return m_entries; }
    const FileEntry &entry(int row) const { return m_entries.at(row); }

    // Reorders the rows by `compare` (negative: first before second), a stable
    // sort.  Selections and other persistent indexes follow their rows.
    void sortRows(const std::function<int(const FileEntry &, const FileEntry &)> &compare);

    // The icons, looked up once per type.
    IconCache *iconCache() const { return m_icons.get(); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<FileEntry> m_entries;
    std::unique_ptr<IconCache> m_icons;
};
