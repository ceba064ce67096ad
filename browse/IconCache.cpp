#include "browse/IconCache.h"

#include <QAbstractFileIconProvider>
#include <QFileInfo>
#include <QMimeType>

IconCache::IconCache(QAbstractFileIconProvider *provider)
    : m_provider(provider ? provider : new QAbstractFileIconProvider)
{
}

IconCache::~IconCache()
{
    delete m_provider;
}

QIcon IconCache::folderIcon()
{
    if (!m_haveFolder) {
        ++m_lookups;
        m_folder = m_provider->icon(QAbstractFileIconProvider::Folder);
        m_haveFolder = true;
    }
    return m_folder;
}

QIcon IconCache::iconFor(const QString &name, bool isDir)
{
    if (isDir)
        return folderIcon();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    auto it = m_bySuffix.constFind(suffix);
    if (it != m_bySuffix.constEnd())
        return it.value();
    return m_bySuffix.insert(suffix, lookUp(suffix)).value();
}

QIcon IconCache::lookUp(const QString &suffix)
{
    ++m_lookups;
    // By name only: the type of a suffix never needs the file's contents.
    const QMimeType type = m_mime.mimeTypeForFile(QStringLiteral("x.") + suffix, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = m_provider->icon(QAbstractFileIconProvider::File);
    return icon;
}
