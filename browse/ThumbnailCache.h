#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <functional>

// The desktop's shared thumbnail cache, as other file browsers read and write
// it: one PNG per file and size in <root>/{normal,large,x-large,xx-large},
// named after the MD5 of the file's URI, carrying the URI and the file's
// modification time (seconds) as text keys; failures are remembered per
// program in <root>/fail/<program>-<version>.
//
// Nothing in the cache is trusted: a symbolic link or an entry of another
// owner where a folder or a thumbnail should be is never followed, a folder
// is created 0700 and a file 0600, and a thumbnail is written to a temporary
// file beside its final name and then renamed into place.  When the cache
// cannot be written, store() says so and nothing else happens.
//
// Widget-free, no mutable state: any thread may call any member, several at
// once.
class ThumbnailCache
{
public:
    struct Environment
    {
        QString root;          // the "thumbnails" folder, e.g. $XDG_CACHE_HOME/thumbnails
        QString failFolder;    // this program's name under fail/, "sheafline-<version>"
        std::function<qint64()> nowSecs; // the clock, seconds since the epoch
        // Told each path (absolute, cleaned) a store is about to create,
        // write, rename or remove, before it does, on the thread that
        // stores: the program's own writes are then not taken for changes
        // on disk (OwnWrites).  May be empty.
        std::function<void(const QString &path)> willWrite;
    };
    // The user's cache ($XDG_CACHE_HOME, else ~/.cache), this program's
    // version and the system clock.
    static Environment defaultEnvironment();

    enum class Flavor { Normal, Large, XLarge, XXLarge };
    static int flavorPixels(Flavor flavor);          // 128, 256, 512, 1024
    static QString flavorFolder(Flavor flavor);      // "normal", "large", ...
    // The smallest flavor at least `pixels` wide (the largest for more).
    static Flavor flavorFor(int pixels);

    // The file's absolute URI as the desktop's file browsers spell it:
    // "file://" and the UTF-8 path with every byte other than letters,
    // digits and !$&'()*+,-./:=@_~ written as %XX.
    static QByteArray uriFor(const QString &absolutePath);
    // The MD5 of the URI in lower-case hex, with ".png".
    static QString nameFor(const QByteArray &uri);

    // One source file as the cache sees it, read once per look-up.
    struct Source
    {
        QString path;
        QByteArray uri;
        QString name;          // nameFor(uri)
        qint64 mtimeSecs = 0;  // what Thumb::MTime holds
        qint64 mtimeMs = 0;    // finer, to notice a change within the same second
        qint64 size = -1;      // bytes, what Thumb::Size holds
        bool exists = false;   // a regular file (a link counts by its target)
    };
    static Source sourceOf(const QString &path);

    explicit ThumbnailCache(Environment env);
    const Environment &environment() const { return m_env; }

    QString thumbnailPath(Flavor flavor, const Source &source) const;
    QString failPath(const Source &source) const;

    enum class State {
        Missing, // nothing usable: make one
        Valid,   // image holds a thumbnail for the file as it is now
        Stale,   // there is one, made for another version of the file: make it again
        Failed,  // this program could not make one for the file as it is now
    };
    struct Lookup
    {
        State state = State::Missing;
        QImage image;
        Flavor flavor = Flavor::Normal;
    };
    // Looks for a valid thumbnail of `flavor`, then of the larger flavors,
    // then for this program's failure mark.  With decode, the image of a
    // valid thumbnail comes too; without, only its keys and size are read.
    Lookup lookup(const Source &source, Flavor flavor, bool decode = true) const;

    // Looks up many files in a row: each folder of the cache is opened (and
    // checked) once, on first use, not once per file.  A folder made after
    // that is seen by the next reader.  One thread at a time.
    class Reader
    {
    public:
        explicit Reader(const ThumbnailCache &cache);
        ~Reader();
        Reader(const Reader &) = delete;
        Reader &operator=(const Reader &) = delete;
        // As ThumbnailCache::lookup().
        Lookup lookup(const Source &source, Flavor flavor, bool decode = true);

    private:
        // The bytes of entry `name` in folder `folder` (a flavor, or the failure marks).
        QByteArray read(int folder, const QString &name);

        const ThumbnailCache &m_cache;
        std::array<int, 5> m_folders; // descriptors: -2 not opened yet, -1 none
    };

    // Writes a thumbnail (scaled down to the flavor when larger); false when
    // the cache cannot be written.
    bool store(const Source &source, Flavor flavor, const QImage &image) const;
    // Writes the failure mark of the file as it is now; false when it cannot.
    bool storeFailure(const Source &source) const;

    // Whether the file's modification time is far enough in the past that a
    // later change would show in whole seconds.  A thumbnail of a file that
    // was written this second (still being copied, say) is kept in memory
    // only, and a failure of it is not remembered.
    bool isSettled(const Source &source) const;

private:
    bool write(const QStringList &folders, const QString &name, const QByteArray &png) const;

    Environment m_env;
};
