#include "Desktop.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <vector>

namespace Desktop {

QString run(const QString &program, const QStringList &args, bool *ok, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    const bool finished = p.waitForStarted(timeoutMs) && p.waitForFinished(timeoutMs);
    if (!finished)
        p.kill();
    if (ok)
        *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

static void xdotool(const QStringList &args)
{
    bool ok = false;
    run(QStringLiteral("xdotool"), args, &ok);
    if (!ok)
        qWarning("xdotool %s failed", qPrintable(args.join(QLatin1Char(' '))));
}

static QStringList at(const QPoint &p)
{
    return {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y())};
}

void key(const QString &keys)
{
    xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")}
            + keys.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

void type(const QString &text)
{
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

void click(const QPoint &p, int button)
{
    xdotool(at(p) + QStringList{QStringLiteral("click"), QString::number(button)});
}

void doubleClick(const QPoint &p)
{
    xdotool(at(p) + QStringList{QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                                QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
}

void drag(const QPoint &from, const QPoint &to, int button, const QString &modifier)
{
    // One step per call: the window manager and the program see a press, a
    // movement in steps and a release, as from a hand on the mouse.
    if (!modifier.isEmpty())
        xdotool({QStringLiteral("keydown"), modifier});
    xdotool(at(from));
    xdotool({QStringLiteral("mousedown"), QString::number(button)});
    constexpr int steps = 8;
    for (int i = 1; i <= steps; ++i)
        xdotool(at(from + (to - from) * i / steps));
    xdotool({QStringLiteral("mouseup"), QString::number(button)});
    if (!modifier.isEmpty())
        xdotool({QStringLiteral("keyup"), modifier});
}

void moveMouse(const QPoint &p)
{
    xdotool(at(p));
}

QImage grabScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// ---- Reading text ----

namespace {

// Dark pixels are ink: text drawn dark on a light ground.
inline bool isInk(QRgb px)
{
    return qGray(px) < 128;
}

struct Mask
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> ink;
    int inkCount = 0;
    bool at(int x, int y) const { return ink[size_t(y) * size_t(width) + size_t(x)]; }
};

Mask textMask(const QString &text, const QFont &font, qreal offset)
{
    const QFontMetrics metrics(font);
    const QSize size(metrics.horizontalAdvance(text) + 8, metrics.height() + 8);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(QPointF(4 + offset, 4 + metrics.ascent()), text);
    }
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isInk(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    Mask mask;
    if (box.isEmpty())
        return mask;
    mask.width = box.width();
    mask.height = box.height();
    mask.ink.resize(size_t(box.width()) * size_t(box.height()));
    for (int y = 0; y < box.height(); ++y)
        for (int x = 0; x < box.width(); ++x) {
            const bool ink = isInk(image.pixel(box.x() + x, box.y() + y));
            mask.ink[size_t(y) * size_t(box.width()) + size_t(x)] = ink;
            mask.inkCount += ink;
        }
    return mask;
}

} // namespace

std::optional<QPoint> findText(const QImage &image, const QRect &area, const QString &text,
                               const QList<QFont> &fonts)
{
    const QRect region = area & image.rect();
    if (region.isEmpty())
        return std::nullopt;
    Mask screen;
    screen.width = region.width();
    screen.height = region.height();
    screen.ink.resize(size_t(screen.width) * size_t(screen.height));
    for (int y = 0; y < screen.height; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(region.y() + y));
        for (int x = 0; x < screen.width; ++x)
            screen.ink[size_t(y) * size_t(screen.width) + size_t(x)] = isInk(line[region.x() + x]);
    }
    // Text drawn right-aligned or centred, or after other text, may start
    // between two pixels; where each glyph then falls is rounded from the
    // start in the rasteriser's 1/64 pixel units, so each of those is tried
    // (most give the same picture).
    QList<Mask> masks;
    for (const QFont &font : fonts) {
        for (int sixtyfourths = 0; sixtyfourths < 64; ++sixtyfourths) {
            Mask m = textMask(text, font, sixtyfourths / 64.0);
            const bool known = std::any_of(masks.cbegin(), masks.cend(), [&m](const Mask &k) {
                return k.width == m.width && k.height == m.height && k.ink == m.ink;
            });
            if (!known)
                masks.append(std::move(m));
        }
    }
    for (const Mask &t : masks) {
        if (t.inkCount == 0 || t.width > screen.width || t.height > screen.height)
            continue;
        // Antialiasing may put a few edge pixels on the other side of the threshold.
        const int allowed = 2 + t.inkCount / 20;
        // A place is only compared in full where one of allowed + 1 of the
        // template's ink pixels, spread over it, is ink on the screen too:
        // anywhere else more than `allowed` pixels differ already.  (A single
        // anchor pixel would turn away every place where antialiasing put
        // just that one pixel on the other side of the threshold.)
        std::vector<QPoint> anchors;
        for (int i = 0, seen = 0, step = std::max(1, t.inkCount / (allowed + 1)); i < t.width * t.height; ++i)
            if (t.ink[size_t(i)] && seen++ % step == 0 && int(anchors.size()) <= allowed)
                anchors.emplace_back(i % t.width, i / t.width);
        for (int y = 0; y + t.height <= screen.height; ++y) {
            for (int x = 0; x + t.width <= screen.width; ++x) {
                if (std::none_of(anchors.cbegin(), anchors.cend(),
                                 [&](const QPoint &a) { return screen.at(x + a.x(), y + a.y()); }))
                    continue;
                int misses = 0;
                for (int ty = 0; ty < t.height && misses <= allowed; ++ty) {
                    const uint8_t *s = &screen.ink[size_t(y + ty) * size_t(screen.width) + size_t(x)];
                    const uint8_t *m = &t.ink[size_t(ty) * size_t(t.width)];
                    for (int tx = 0; tx < t.width; ++tx)
                        misses += s[tx] != m[tx];
                }
                if (misses <= allowed)
                    return region.topLeft() + QPoint(x + t.width / 2, y + t.height / 2);
            }
        }
    }
    return std::nullopt;
}

double colourShare(const QImage &image, const QRect &area, const QColor &colour, int tolerance)
{
    const QRect region = area & image.rect();
    if (region.isEmpty())
        return 0;
    qint64 hits = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = region.left(); x <= region.right(); ++x) {
            const QRgb px = line[x];
            if (qAbs(qRed(px) - colour.red()) <= tolerance && qAbs(qGreen(px) - colour.green()) <= tolerance
                && qAbs(qBlue(px) - colour.blue()) <= tolerance)
                ++hits;
        }
    }
    return double(hits) / double(qint64(region.width()) * region.height());
}

// ---- The window manager ----

WindowManager::~WindowManager()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString WindowManager::start(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_process.waitForStarted(5000))
        return QStringLiteral("openbox does not start: ") + m_process.errorString();
    // It manages the screen once it has announced itself on the root window.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        bool ok = false;
        const QString out = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, &ok);
        if (ok && out.contains(QLatin1String("window id")))
            return {};
        if (m_process.state() == QProcess::NotRunning)
            return QStringLiteral("openbox ended at start");
        QTest::qWait(50);
    }
    return QStringLiteral("openbox did not take the screen");
}

// ---- The program ----

Program::Program(const QString &exe, const QString &home) : m_exe(exe), m_home(home) {}

Program::~Program()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Program::start(const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/.local/share"));
    const QString runtime = m_home + QStringLiteral("/.runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    // Off the session bus of whoever runs the tests: a Sheafline of theirs
    // would take the program's arguments.  A journey that wants a bus gives
    // its own.
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
        if (it.value().isNull())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_home);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(m_exe, args);
    return m_process.waitForStarted(10000);
}

std::optional<Window> Program::window(const QString &title) const
{
    if (m_process.state() == QProcess::NotRunning)
        return std::nullopt;
    bool ok = false;
    const QString ids = run(QStringLiteral("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--pid"), QString::number(m_process.processId()),
                             QStringLiteral("--name"), QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')},
                            &ok);
    for (const QString &id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id.trimmed()}, &ok);
        if (!ok || !info.contains(QLatin1String("IsViewable")))
            continue;
        auto field = [&info](const char *name) {
            const QRegularExpression re(QString::fromLatin1(name) + QStringLiteral(":\\s*(-?\\d+)"));
            return re.match(info).captured(1).toInt();
        };
        Window w;
        w.id = id.trimmed();
        w.frame = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                        field("Height"));
        if (w.frame.width() > 1 && w.frame.height() > 1)
            return w;
    }
    return std::nullopt;
}

bool Program::waitForExit(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    return m_process.waitForFinished(timeoutMs);
}

QString Program::errors() const
{
    return QString::fromLocal8Bit(m_process.readAllStandardError());
}

} // namespace Desktop
