#include "browse/FolderScan.h"

#include "browse/BrowseRules.h"

#include <QFile>

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace FolderScan {

namespace {

// Closes the directory stream on every path out.
struct DirHandle
{
    DIR *dir;
    explicit DirHandle(const QString &folder) : dir(::opendir(QFile::encodeName(folder).constData())) {}
    ~DirHandle()
    {
        if (dir)
            ::closedir(dir);
    }
    DirHandle(const DirHandle &) = delete;
    DirHandle &operator=(const DirHandle &) = delete;
};

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

bool endsWithPdf(const char *name, size_t len)
{
    if (len < 4)
        return false;
    const char *ext = name + len - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'p' && (ext[2] | 0x20) == 'd' && (ext[3] | 0x20) == 'f';
}

} // namespace

QList<FileEntry> listPdfEntries(const QString &folder, const QLocale &locale)
{
    QList<FileEntry> entries;
    DirHandle handle(folder);
    if (!handle.dir)
        return entries;
    const int dirFd = ::dirfd(handle.dir);
    const BrowseRules::DateSeparators seps(locale);
    while (const dirent *d = ::readdir(handle.dir)) {
        const char *name = d->d_name;
        if (isDotOrDotDot(name))
            continue;
        // Names are bytes in the file system's encoding: test the suffix on the
        // bytes first, so the other entries cost no conversion.
        if (!endsWithPdf(name, std::strlen(name)))
            continue;
        struct stat st;
        if (::fstatat(dirFd, name, &st, 0) != 0 && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone between readdir and stat
        FileEntry e;
        e.name = QFile::decodeName(name);
        e.isDir = S_ISDIR(st.st_mode);
        if (!e.isDir)
            e.sizeText = BrowseRules::sizeText(st.st_size);
        struct tm local;
        const time_t mtime = st.st_mtim.tv_sec;
        if (::localtime_r(&mtime, &local))
            e.dateText = BrowseRules::dateText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                               local.tm_hour, local.tm_min, seps);
        entries.append(std::move(e));
    }
    return entries;
}

QStringList subFolders(const QString &folder, bool firstOnly)
{
    QStringList names;
    DirHandle handle(folder);
    if (!handle.dir)
        return names;
    const int dirFd = ::dirfd(handle.dir);
    while (const dirent *d = ::readdir(handle.dir)) {
        if (isDotOrDotDot(d->d_name))
            continue;
        bool dir = d->d_type == DT_DIR;
        if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            // Follow links: a link to a folder is a folder; a loop fails stat and is skipped.
            struct stat st;
            dir = ::fstatat(dirFd, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!dir)
            continue;
        names.append(QFile::decodeName(d->d_name));
        if (firstOnly)
            break;
    }
    return names;
}

} // namespace FolderScan
