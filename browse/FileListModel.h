#pragma once

#include "browse/BrowseRules.h"
#include "browse/FileEntry.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QHash>
#include <QList>
#include <QLocale>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FolderRead;
class IconCache;

// The rows of the file list, shared by its three view styles: caption
// ("ファイル名"), size text ("サイズ", right-aligned) and date text ("日付"),
// with the icon of the entry's type.  Rows are replaced by setEntries(),
// fillFromFolder() and readFolder() and reordered only by sortRows().  UI
// thread; widget-free.  readFolder() reads on a worker thread of its own and
// tells of its progress through readProgress() and readFinished().
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
    // folder that cannot be read gives no rows.  A row's size and date texts
    // are read from the file system when first asked for (shown, sorted by,
    // or taken with entry() or entries()): a fill of many rows then costs one
    // look-up per row shown, not per row.  A row whose file has gone by then
    // keeps empty texts.
    void fillFromFolder(const QString &folder, const QLocale &locale);
    // The window's fill: the same rows in the same order as fillFromFolder(),
    // every text included, read on a worker thread so that the caller never
    // waits on the file system.  The rows go as the read starts; rows come
    // in, each at its place in the fill order, as the folder is read
    // (readProgress()), then their texts; readFinished() once the read is
    // complete.  The call waits up to `quickWaitMs` for the worker, so that
    // a folder that is read at once (a local one) shows complete in one go.
    // A read in hand is cancelled first: nothing it read lands.
    void readFolder(const QString &folder, const QLocale &locale, int quickWaitMs = kQuickWaitMs);
    static constexpr int kQuickWaitMs = 25;
    // True while a readFolder() read is under way.
    bool isReading() const { return m_read != nullptr; }
    // Stops the read under way, if any: its later results never land, the
    // rows stay as they are, and readCancelled() is sent instead of readFinished().
    void cancelRead();
    // Runs `then` now when no read is under way, else once it finishes;
    // dropped when the read is cancelled or replaced.
    void whenRead(std::function<void()> then);

    // The rows, every text read (while a read is under way, texts not read
    // yet are empty).
    const QList<FileEntry> &entries() const;
    const FileEntry &entry(int row) const;
    // The folder the last fill read (trailing delimiter).
    const QString &folder() const { return m_folder; }
    // The full path of a row's entry: the folder followed by its caption.
    QString filePath(int row) const { return m_folder + caption(row); }
    // A row's caption and whether it is a folder, its texts left unread.
    const QString &caption(int row) const { return m_entries.at(row).name; }
    bool isFolder(int row) const { return m_entries.at(row).isDir; }

    // Reorders the rows by `compare` (negative: first before second), a stable
    // sort.  Selections and other persistent indexes follow their rows.  With
    // `captionsOnly` the comparison looks at the captions alone, and texts not
    // read yet stay unread.  While a read is under way the sort waits for
    // its end (whenRead()), so that it applies to every row.
    void sortRows(const std::function<int(const FileEntry &, const FileEntry &)> &compare,
                  bool captionsOnly = false);

    // The date and time separators of the last fill (the default locale's
    // before any fill).
    BrowseRules::DateSeparators dateSeparators() const
    {
        return m_separators ? *m_separators : BrowseRules::DateSeparators(QLocale());
    }

    // Length in characters of the longest size text read so far (texts not
    // read yet do not count): the size column is made wide enough for it.
    qsizetype widestSizeTextLength() const { return m_widestSize; }

    // The icons, looked up once per type.
    IconCache *iconCache() const { return m_icons.get(); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // A readFolder() read: the rows known so far (sent as the read starts,
    // with 0, and for each batch of rows), and its end.
    void readProgress(int rows);
    void readFinished();
    // A read cancelled before its end with no read after it (cancelRead(),
    // setEntries(), fillFromFolder()).
    void readCancelled();

private:
    void addReadRows(QList<FileEntry> batch);
    void addReadTexts(const QList<FileEntry> &batch);
    void finishRead();

    // Reads the texts of `row` (of every row) when the fill left them unread.
    void readTexts(int row) const;
    void readAllTexts() const;

    // Texts are filled in on first use, from const accessors too.
    mutable QList<FileEntry> m_entries;
    // Per row: texts still to be read from m_folder.
    mutable std::vector<bool> m_unread;
    mutable qsizetype m_unreadCount = 0;
    mutable qsizetype m_widestSize = 0;
    QString m_folder;
    std::optional<BrowseRules::DateSeparators> m_separators;
    std::unique_ptr<IconCache> m_icons;

    std::shared_ptr<FolderRead> m_read;
    std::optional<QCollator> m_fillCollator;
    QHash<QString, int> m_rowOfName; // built once the read's rows are all in
    std::vector<std::function<void()>> m_whenRead;
};
