// The directory reader on POSIX: opendir/readdir, with fstatat relative to
// the open folder so that a look-up does not walk the whole path again.
#include "base/DirectoryReader.h"

#include <QFile>

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace sheafline {

struct DirectoryReader::Handle
{
    DIR *dir = nullptr;
    int fd = -1;
};

namespace {

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

EntryKind kindOf(unsigned char type)
{
    switch (type) {
    case DT_DIR:
        return EntryKind::Folder;
    case DT_LNK:
        return EntryKind::Link;
    case DT_UNKNOWN:
        return EntryKind::Unknown;
    default:
        return EntryKind::File;
    }
}

} // namespace

DirectoryReader::DirectoryReader(const QString &folder) : m_handle(std::make_unique<Handle>())
{
    m_handle->dir = ::opendir(QFile::encodeName(folder).constData());
    if (m_handle->dir)
        m_handle->fd = ::dirfd(m_handle->dir);
}

DirectoryReader::~DirectoryReader()
{
    if (m_handle->dir)
        ::closedir(m_handle->dir);
}

bool DirectoryReader::isOpen() const
{
    return m_handle->dir != nullptr;
}

bool DirectoryReader::next(DirectoryEntry &entry)
{
    if (!m_handle->dir)
        return false;
    while (const dirent *d = ::readdir(m_handle->dir)) {
        if (isDotOrDotDot(d->d_name))
            continue;
        entry.name = d->d_name;
        entry.length = qsizetype(std::strlen(d->d_name));
        entry.kind = kindOf(d->d_type);
        return true;
    }
    return false;
}

namespace {

// Looks `name` up relative to the folder `fd` (or the working folder).
bool statusAt(int fd, const char *name, Links links, EntryStatus &out)
{
    struct stat st;
    const bool found = (links == Links::Follow && ::fstatat(fd, name, &st, 0) == 0)
        || ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found)
        return false;
    out.isFolder = S_ISDIR(st.st_mode);
    out.size = st.st_size;
    out.modifiedSecs = st.st_mtim.tv_sec;
    return true;
}

} // namespace

bool DirectoryReader::status(const DirectoryEntry &entry, Links links, EntryStatus &out) const
{
    return statusAt(m_handle->fd, entry.name, links, out);
}

bool DirectoryReader::status(const QString &path, Links links, EntryStatus &out)
{
    return statusAt(AT_FDCWD, QFile::encodeName(path).constData(), links, out);
}

bool DirectoryReader::isFolder(const DirectoryEntry &entry, Links links) const
{
    switch (entry.kind) {
    case EntryKind::Folder:
        return true;
    case EntryKind::File:
        return false;
    case EntryKind::Link:
        if (links == Links::AsThemselves)
            return false;
        break;
    case EntryKind::Unknown:
        break;
    }
    struct stat st;
    const int flags = links == Links::Follow ? 0 : AT_SYMLINK_NOFOLLOW;
    return ::fstatat(m_handle->fd, entry.name, &st, flags) == 0 && S_ISDIR(st.st_mode);
}

QString DirectoryReader::nameOf(const DirectoryEntry &entry)
{
    return QFile::decodeName(entry.name);
}

bool toLocalTime(qint64 secs, LocalTime &out)
{
    struct tm local;
    const time_t t = time_t(secs);
    if (!::localtime_r(&t, &local))
        return false;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    return true;
}

} // namespace sheafline
