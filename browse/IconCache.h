#pragma once

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>

class QAbstractFileIconProvider;

// The platform's icon of each kind of directory entry, looked up once per
// type (folder, or the MIME type of a file's suffix) and then shared by every
// entry of that type.  The icon carries both the small and the large size;
// the view picks one.  UI thread.
class IconCache
{
public:
    // `provider` gives the generic folder and file icons (a QFileIconProvider
    // in the UI, which falls back to the style's icons without an icon
    // theme); null means QAbstractFileIconProvider, theme icons only.
    explicit IconCache(QAbstractFileIconProvider *provider = nullptr);
    ~IconCache();
    IconCache(const IconCache &) = delete;
    IconCache &operator=(const IconCache &) = delete;

    // The icon of a folder.
    QIcon folderIcon();
    // The icon of the entry `name` (its suffix decides), or the folder icon.
    QIcon iconFor(const QString &name, bool isDir);

    // Number of type lookups made so far (each distinct type counts once).
    int lookups() const { return m_lookups; }

private:
    QIcon lookUp(const QString &suffix);

    QAbstractFileIconProvider *m_provider;
    QMimeDatabase m_mime;
    QHash<QString, QIcon> m_bySuffix;
    QIcon m_folder;
    bool m_haveFolder = false;
    int m_lookups = 0;
};
