#include "browse/ThumbnailCache.h"

#include "base/ProgramName.h"

#include "browse/ThumbnailPng.h"

#include "base/ImageFit.h"
#include "base/VersionInfo.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kUri = "Thumb::URI";
const char *const kMTime = "Thumb::MTime";
const char *const kSize = "Thumb::Size";

// A thumbnail of 1024 x 1024 pixels compresses far below this; anything
// larger is not a thumbnail.
constexpr qint64 kMaxThumbnailBytes = 16ll * 1024 * 1024;

// A descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool ownedByUs(int fd, mode_t type)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == type && st.st_uid == ::geteuid();
}

// Opens the folder `name` inside `parent` without following a link, creating
// it 0700 when asked; it must be a folder of ours.
Fd openChildFolder(int parent, const QByteArray &name, bool create)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Fd fd(::openat(parent, name.constData(), flags));
    if (!fd.valid() && errno == ENOENT && create) {
        if (::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST)
            return Fd();
        fd.reset(::openat(parent, name.constData(), flags));
    }
    if (fd.valid() && !ownedByUs(fd.get(), S_IFDIR))
        fd.reset();
    return fd;
}

// Opens root/folders[0]/folders[1]/...: the folder above the root is the
// user's own choice and may be reached through links; from the root down,
// every step is checked.
Fd openCacheFolder(const QString &root, const QStringList &folders, bool create)
{
    const QString clean = QDir::cleanPath(root);
    const int slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || clean.size() <= 1)
        return Fd();
    const QString above = slash == 0 ? QStringLiteral("/") : clean.left(slash);
    if (create && !QDir(above).exists() && !QDir().mkpath(above))
        return Fd();
    Fd dir(::open(QFile::encodeName(above).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return Fd();
    dir = openChildFolder(dir.get(), QFile::encodeName(clean.mid(slash + 1)), create);
    for (const QString &folder : folders) {
        if (!dir.valid())
            break;
        dir = openChildFolder(dir.get(), QFile::encodeName(folder), create);
    }
    return dir;
}

// The bytes of a cache entry in the folder `dir`: a regular file of ours,
// never through a link.  Empty when there is none (or it is not to be trusted).
QByteArray readCacheFile(int dir, const QString &name)
{
    if (dir < 0)
        return {};
    // Non-blocking: a FIFO planted under the name must not hang the reader.
    const Fd fd(::openat(dir, QFile::encodeName(name).constData(),
                         O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
        || st.st_size <= 0 || st.st_size > kMaxThumbnailBytes)
        return {};
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

enum class Match { None, Same, Changed };

// Compares the text keys of a cache entry with the file as it is now.
Match matchKeys(const ThumbnailPng::Head &head, const ThumbnailCache::Source &source)
{
    if (head.text.value(kUri).toUtf8() != source.uri)
        return Match::None; // another file's entry under a colliding name: ignore it
    const QString mtime = head.text.value(kMTime).trimmed();
    bool ok = false;
    qint64 secs = mtime.toLongLong(&ok);
    if (!ok) {
        // Some writers give fractions.
        const double d = mtime.toDouble(&ok);
        secs = ok ? qint64(d) : -1;
    }
    if (!ok || secs != source.mtimeSecs)
        return Match::Changed;
    const QString size = head.text.value(kSize).trimmed();
    if (!size.isEmpty() && size.toLongLong() != source.size)
        return Match::Changed;
    return Match::Same;
}

// Checks the keys and the size first and decodes only an entry that fits.
ThumbnailCache::State readEntry(const QByteArray &png, const ThumbnailCache::Source &source, int maxPixels,
                                QImage *image)
{
    ThumbnailPng::Head head;
    if (!ThumbnailPng::readHead(png, &head))
        return ThumbnailCache::State::Stale; // not a PNG: make a proper one
    const Match match = matchKeys(head, source);
    if (match != Match::Same)
        return match == Match::Changed ? ThumbnailCache::State::Stale : ThumbnailCache::State::Missing;
    if (head.size.width() > maxPixels || head.size.height() > maxPixels)
        return ThumbnailCache::State::Stale; // too large for its folder
    if (!image)
        return ThumbnailCache::State::Valid;
    QImage decoded = ThumbnailPng::decode(png);
    if (decoded.isNull() || decoded.size() != head.size)
        return ThumbnailCache::State::Stale;
    *image = std::move(decoded);
    return ThumbnailCache::State::Valid;
}

QByteArray encodePng(const QImage &image, const ThumbnailCache::Source &source)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // On the image, not the writer: the writer's own text option splits keys
    // at their first colon, and these keys hold two.
    QImage keyed = image;
    keyed.setText(QString::fromLatin1(kUri), QString::fromUtf8(source.uri));
    keyed.setText(QString::fromLatin1(kMTime), QString::number(source.mtimeSecs));
    keyed.setText(QString::fromLatin1(kSize), QString::number(source.size));
    keyed.setText(QStringLiteral("Software"), QString::fromUtf16(sheafline::kApplicationName));
    QImageWriter writer(&buffer, "png");
    return writer.write(keyed) ? png : QByteArray();
}

} // namespace

ThumbnailCache::Environment ThumbnailCache::defaultEnvironment()
{
    Environment env;
    env.root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
    QString version;
    try {
        version = GetVersionInfoItem(VersionItem::FileVersion);
    } catch (...) {
    }
    env.failFolder = QString::fromUtf16(sheafline::kExecutableName) + QLatin1Char('-') + (version.isEmpty() ? QStringLiteral("0") : version);
    env.nowSecs = [] { return QDateTime::currentSecsSinceEpoch(); };
    return env;
}

int ThumbnailCache::flavorPixels(Flavor flavor)
{
    switch (flavor) {
    case Flavor::Normal: return 128;
    case Flavor::Large: return 256;
    case Flavor::XLarge: return 512;
    case Flavor::XXLarge: return 1024;
    }
    return 128;
}

QString ThumbnailCache::flavorFolder(Flavor flavor)
{
    switch (flavor) {
    case Flavor::Normal: return QStringLiteral("normal");
    case Flavor::Large: return QStringLiteral("large");
    case Flavor::XLarge: return QStringLiteral("x-large");
    case Flavor::XXLarge: return QStringLiteral("xx-large");
    }
    return QStringLiteral("normal");
}

ThumbnailCache::Flavor ThumbnailCache::flavorFor(int pixels)
{
    for (Flavor f : {Flavor::Normal, Flavor::Large, Flavor::XLarge})
        if (pixels <= flavorPixels(f))
            return f;
    return Flavor::XXLarge;
}

QByteArray ThumbnailCache::uriFor(const QString &absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    auto safe = [](uchar c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || std::strchr("!$&'()*+,-./:=@_~", c) != nullptr;
    };
    const QByteArray bytes = QFile::encodeName(absolutePath);
    QByteArray uri("file://");
    uri.reserve(uri.size() + bytes.size() * 3);
    for (char ch : bytes) {
        const auto c = uchar(ch);
        if (c != 0 && safe(c)) {
            uri.append(ch);
        } else {
            uri.append('%');
            uri.append(hex[c >> 4]);
            uri.append(hex[c & 15]);
        }
    }
    return uri;
}

QString ThumbnailCache::nameFor(const QByteArray &uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex())
        + QStringLiteral(".png");
}

ThumbnailCache::Source ThumbnailCache::sourceOf(const QString &path)
{
    Source s;
    s.path = path;
    s.uri = uriFor(path);
    s.name = nameFor(s.uri);
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        s.exists = true;
        s.mtimeSecs = st.st_mtim.tv_sec;
        s.mtimeMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        s.size = st.st_size;
    }
    return s;
}

ThumbnailCache::ThumbnailCache(Environment env) : m_env(std::move(env))
{
    if (!m_env.nowSecs)
        m_env.nowSecs = [] { return QDateTime::currentSecsSinceEpoch(); };
}

QString ThumbnailCache::thumbnailPath(Flavor flavor, const Source &source) const
{
    return m_env.root + QLatin1Char('/') + flavorFolder(flavor) + QLatin1Char('/') + source.name;
}

QString ThumbnailCache::failPath(const Source &source) const
{
    return m_env.root + QStringLiteral("/fail/") + m_env.failFolder + QLatin1Char('/') + source.name;
}

ThumbnailCache::Lookup ThumbnailCache::lookup(const Source &source, Flavor flavor, bool decode) const
{
    return Reader(*this).lookup(source, flavor, decode);
}

namespace {
// The reader's folders: the four flavors, then this program's failure marks.
constexpr int failFolderIndex = 4;
} // namespace

ThumbnailCache::Reader::Reader(const ThumbnailCache &cache) : m_cache(cache)
{
    m_folders.fill(-2);
}

ThumbnailCache::Reader::~Reader()
{
    for (int fd : m_folders)
        if (fd >= 0)
            ::close(fd);
}

QByteArray ThumbnailCache::Reader::read(int folder, const QString &name)
{
    int &fd = m_folders[size_t(folder)];
    if (fd == -2) {
        const QStringList path = folder == failFolderIndex
            ? QStringList{QStringLiteral("fail"), m_cache.m_env.failFolder}
            : QStringList{flavorFolder(Flavor(folder))};
        fd = openCacheFolder(m_cache.m_env.root, path, false).release();
    }
    return readCacheFile(fd, name);
}

ThumbnailCache::Lookup ThumbnailCache::Reader::lookup(const Source &source, Flavor flavor, bool decode)
{
    Lookup result;
    result.flavor = flavor;
    if (!source.exists)
        return result;
    bool stale = false;
    for (int f = int(flavor); f <= int(Flavor::XXLarge); ++f) {
        const auto each = Flavor(f);
        const QByteArray png = read(f, source.name);
        if (png.isEmpty())
            continue;
        QImage image;
        const State state = readEntry(png, source, flavorPixels(each), decode ? &image : nullptr);
        if (state == State::Valid) {
            result.state = State::Valid;
            result.image = std::move(image);
            result.flavor = each;
            return result;
        }
        stale = stale || (each == flavor && state == State::Stale);
    }
    const QByteArray fail = read(failFolderIndex, source.name);
    if (!fail.isEmpty() && readEntry(fail, source, 1024, nullptr) == State::Valid) {
        result.state = State::Failed;
        return result;
    }
    result.state = stale ? State::Stale : State::Missing;
    return result;
}

bool ThumbnailCache::store(const Source &source, Flavor flavor, const QImage &image) const
{
    if (image.isNull() || !source.exists)
        return false;
    const int box = flavorPixels(flavor);
    QImage fit = image;
    if (fit.width() > box || fit.height() > box)
        fit = fit.scaled(sheafline::fitInSquare(fit.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!fit.hasAlphaChannel() && fit.format() != QImage::Format_RGB32)
        fit = fit.convertToFormat(QImage::Format_RGB32);
    const QByteArray png = encodePng(fit, source);
    return !png.isEmpty() && write({flavorFolder(flavor)}, source.name, png);
}

bool ThumbnailCache::storeFailure(const Source &source) const
{
    if (!source.exists)
        return false;
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    const QByteArray png = encodePng(mark, source);
    return !png.isEmpty() && write({QStringLiteral("fail"), m_env.failFolder}, source.name, png);
}

bool ThumbnailCache::isSettled(const Source &source) const
{
    return qAbs(m_env.nowSecs() - source.mtimeSecs) >= 2;
}

bool ThumbnailCache::write(const QStringList &folders, const QString &name, const QByteArray &png) const
{
    // Every path this write may create, write or rename is announced first:
    // the folders it may make, the temporary file and the final name.
    QString folder = QDir::cleanPath(m_env.root);
    const auto announce = [this](const QString &path) {
        if (m_env.willWrite)
            m_env.willWrite(path);
    };
    if (m_env.willWrite) {
        const QString above = folder.left(qMax(0, folder.lastIndexOf(QLatin1Char('/'))));
        for (const QString &made : QStringList{above, folder}) {
            if (!made.isEmpty() && !QFileInfo::exists(made))
                announce(made);
        }
    }
    for (const QString &f : folders) {
        folder += QLatin1Char('/') + f;
        if (m_env.willWrite && !QFileInfo::exists(folder))
            announce(folder);
    }
    const Fd dir = openCacheFolder(m_env.root, folders, true);
    if (!dir.valid())
        return false;
    // A fresh name of our own beside the final one: O_EXCL refuses anything
    // already there, a planted link included.
    QByteArray temp;
    Fd fd;
    for (int attempt = 0; attempt < 8 && !fd.valid(); ++attempt) {
        const QString tempName = QStringLiteral(".%1.%2.tmp")
                                     .arg(name)
                                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        announce(folder + QLatin1Char('/') + tempName);
        temp = QFile::encodeName(tempName);
        fd.reset(::openat(dir.get(), temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid() && errno != EEXIST)
            return false;
    }
    if (!fd.valid())
        return false;
    bool ok = ::fchmod(fd.get(), 0600) == 0;
    qsizetype done = 0;
    while (ok && done < png.size()) {
        const ssize_t n = ::write(fd.get(), png.constData() + done, size_t(png.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += n;
    }
    ok = ::close(fd.release()) == 0 && ok;
    announce(folder + QLatin1Char('/') + name);
    // rename() replaces whatever the final name is, a link included, without following it.
    if (!ok || ::renameat(dir.get(), temp.constData(), dir.get(), QFile::encodeName(name).constData()) != 0) {
        ::unlinkat(dir.get(), temp.constData(), 0);
        return false;
    }
    return true;
}
