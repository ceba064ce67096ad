#include "browse/FolderScan.h"

#include "base/DirectoryReader.h"
#include "browse/BrowseRules.h"

#include <QElapsedTimer>

using sheafline::DirectoryEntry;
using sheafline::DirectoryReader;
using sheafline::Links;

namespace FolderScan {

namespace {

bool endsWithPdf(const char *name, qsizetype len)
{
    if (len < 4)
        return false;
    const char *ext = name + len - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'p' && (ext[2] | 0x20) == 'd' && (ext[3] | 0x20) == 'f';
}

// The texts of an entry from one look-up of it.
void describe(const sheafline::EntryStatus &st, FileEntry &e, const BrowseRules::DateSeparators &seps)
{
    e.isDir = st.isFolder;
    if (!e.isDir)
        e.sizeText = BrowseRules::sizeText(st.size);
    sheafline::LocalTime local;
    if (sheafline::toLocalTime(st.modifiedSecs, local))
        e.dateText = BrowseRules::dateText(local.year, local.month, local.day, local.hour, local.minute, seps);
}

} // namespace

QList<FileEntry> listPdfNames(const QString &folder)
{
    QList<FileEntry> entries;
    DirectoryReader reader(folder);
    if (!reader.isOpen())
        return entries;
    DirectoryEntry d;
    while (reader.next(d)) {
        // Names are bytes in the file system's encoding: test the suffix on the
        // bytes first, so the other entries cost no conversion.
        if (!endsWithPdf(d.name, d.length))
            continue;
        FileEntry e;
        e.name = DirectoryReader::nameOf(d);
        e.isDir = reader.isFolder(d, Links::Follow);
        entries.append(std::move(e));
    }
    return entries;
}

bool readTexts(const QString &folder, FileEntry &entry, const BrowseRules::DateSeparators &separators)
{
    sheafline::EntryStatus st;
    if (!DirectoryReader::status(folder + entry.name, Links::Follow, st))
        return false;
    describe(st, entry, separators);
    return true;
}

QList<FileEntry> listPdfEntries(const QString &folder, const QLocale &locale)
{
    const BrowseRules::DateSeparators separators(locale);
    QList<FileEntry> entries;
    for (FileEntry &e : listPdfNames(folder)) {
        // An entry gone between reading the folder and its look-up is left out.
        if (readTexts(folder, e, separators))
            entries.append(std::move(e));
    }
    return entries;
}

bool readPdfEntries(const QString &folder, const BrowseRules::DateSeparators &separators, int batchMs,
                    const std::function<bool(QList<FileEntry> batch)> &names,
                    const std::function<bool(QList<FileEntry> batch)> &texts)
{
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    QList<FileEntry> batch;
    // Sends the batch when it is due (or `last`); false when told to stop.
    const auto flush = [&](const std::function<bool(QList<FileEntry>)> &to, bool last) {
        if (batch.isEmpty() || (!last && sinceBatch.elapsed() < batchMs))
            return true;
        sinceBatch.restart();
        return to(std::exchange(batch, {}));
    };

    // Entries whose kind the listing told: their texts need a look-up of their own.
    QStringList unlooked;
    {
        DirectoryReader reader(folder);
        DirectoryEntry d;
        while (reader.next(d)) {
            if (!endsWithPdf(d.name, d.length))
                continue;
            FileEntry e;
            e.name = DirectoryReader::nameOf(d);
            if (d.kind == sheafline::EntryKind::Folder || d.kind == sheafline::EntryKind::File) {
                e.isDir = d.kind == sheafline::EntryKind::Folder;
                unlooked.append(e.name);
            } else {
                // The listing cannot tell (a link, a share that gives no
                // kinds): the one look-up gives the kind and the texts.
                sheafline::EntryStatus st;
                if (reader.status(d, Links::Follow, st))
                    describe(st, e, separators);
            }
            batch.append(std::move(e));
            if (!flush(names, false))
                return false;
        }
    }
    if (!flush(names, true) || !names({}))
        return false;

    for (const QString &name : std::as_const(unlooked)) {
        FileEntry e;
        e.name = name;
        readTexts(folder, e, separators);
        batch.append(std::move(e));
        if (!flush(texts, false))
            return false;
    }
    return flush(texts, true);
}

QStringList subFolders(const QString &folder, bool firstOnly)
{
    QStringList names;
    DirectoryReader reader(folder);
    DirectoryEntry d;
    while (reader.next(d)) {
        // A link to a folder is a folder; a loop fails the look-up and is skipped.
        if (!reader.isFolder(d, Links::Follow))
            continue;
        names.append(DirectoryReader::nameOf(d));
        if (firstOnly)
            break;
    }
    return names;
}

} // namespace FolderScan
