#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Reads the entries of one folder straight from the file system, one at a
// time, without building a list first.  "." and ".." are skipped; hidden
// entries are not.  A folder that cannot be opened reads as empty.
//
// Names are handed out as the file system's own bytes, so that a caller can
// test them (a suffix, say) before it pays for a conversion; they stay valid
// until the next call of next().  Not copyable; any thread, one reader per
// thread.  The platform's own calls live in the layer beside this header
// (DirectoryReaderPosix.cpp).
namespace sheafline {

// What the folder listing itself tells of an entry, before any further look-up.
enum class EntryKind { Folder, File, Link, Unknown };

struct DirectoryEntry
{
    const char *name = nullptr; // file-system bytes, null-terminated
    qsizetype length = 0;       // of name, in bytes
    EntryKind kind = EntryKind::Unknown;
};

// What one look-up of an entry tells.
struct EntryStatus
{
    bool isFolder = false;
    qint64 size = 0;
    qint64 modifiedSecs = 0; // seconds since 1970-01-01 UTC
};

// How an entry that is a symbolic link is seen.
enum class Links { Follow, AsThemselves };

class DirectoryReader
{
public:
    explicit DirectoryReader(const QString &folder);
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader &) = delete;
    DirectoryReader &operator=(const DirectoryReader &) = delete;

    // False when the folder could not be opened (then next() returns false).
    bool isOpen() const;

    // The next entry; false at the end.
    bool next(DirectoryEntry &entry);

    // Looks the entry up.  With Links::Follow a link is seen as what it
    // points to, and a dangling link (or a loop) as itself.  False when the
    // entry is gone.
    bool status(const DirectoryEntry &entry, Links links, EntryStatus &out) const;
    // The same for an entry named by its whole path, without a reader.
    static bool status(const QString &path, Links links, EntryStatus &out);

    // True when the entry is a folder.  With Links::Follow a link to a folder
    // counts (a dangling link or a loop does not); with Links::AsThemselves
    // it never does.  Looks the entry up only when the listing cannot tell.
    bool isFolder(const DirectoryEntry &entry, Links links) const;

    // The entry's name as text.
    static QString nameOf(const DirectoryEntry &entry);

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
};

// Local calendar time of a moment given in seconds since 1970-01-01 UTC.
struct LocalTime
{
    int year = 0;
    int month = 0; // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
};
bool toLocalTime(qint64 secs, LocalTime &out);

} // namespace sheafline
