// sheafline-bench startup [file.pdf]
//
// Start-up as whole processes, under an X server of the bench's own (Xvfb)
// unless $DISPLAY names one:
// 1. `sheafline file.pdf` from exec to its first page painted, against a bare
//    process that shows page 1 of the same file with the same engine
//    (sheafline-bare-firstpage), by turns;
//    startup_ratio = startup_ms_p50 / startup_bare_ms_p50.  In the same
//    turns, the program with X's OpenGL integration on, as every run had it
//    before the built-in view left it off (startup_gl_ms_p50);
// 2. the hand-over: from the exec of a second `sheafline other.pdf` to that
//    page painted in the window that runs, on a session bus of the bench's
//    own (handover_ms_p50) and on the fallback socket without a bus
//    (handover_socket_ms_p50).  The two PDFs lie in different folders, so
//    the window's tree and list change with each.
// Both programs report "shown <CLOCK_MONOTONIC ns> <path>" once a page is
// painted ($SHEAFLINE_REPORT_SHOWN), so the figures do not include the time
// the bench takes to notice.
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <time.h>

namespace {

constexpr int kRounds = 7;
constexpr int kWaitMs = 60000;

qint64 monotonicNs()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A page of text, as the documents people open mostly are.
bool writeTextPdf(const QString &path, const QString &title)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(144);
    QPainter p(&writer);
    if (!p.isActive())
        return false;
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPointSize(22);
    p.setFont(font);
    p.drawText(QPointF(100, 160), title);
    font.setPointSize(10);
    p.setFont(font);
    for (int line = 0; line < 60; ++line)
        p.drawText(QPointF(100, 260 + line * 24),
                   QStringLiteral("%1. The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs.")
                       .arg(line + 1));
    return true;
}

// A program's run: started with an environment, its "shown" lines read.
class Run
{
public:
    Run(const QProcessEnvironment &env, const QString &exe, const QStringList &args)
    {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_startNs = monotonicNs();
        m_process.start(exe, args);
    }
    ~Run() { stop(); }

    qint64 startNs() const { return m_startNs; }
    // The CLOCK_MONOTONIC time at which `path` was painted; -1 on timeout.
    qint64 waitShown(const QString &path)
    {
        const QDeadlineTimer deadline(kWaitMs);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
                if (line.startsWith(QLatin1String("shown ")) && line.section(QLatin1Char(' '), 2) == path)
                    return line.section(QLatin1Char(' '), 1, 1).toLongLong();
            }
            if (m_process.state() == QProcess::NotRunning)
                return -1;
            m_process.waitForReadyRead(100);
        }
        return -1;
    }
    bool waitEnded(int ms) { return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms); }
    int exitCode() const { return m_process.exitCode(); }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    qint64 m_startNs = 0;
};

// An X server for the children when the bench has none.
struct OwnDisplay
{
    QProcess xvfb;
    QString display;
    bool start()
    {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted(10000))
            return false;
        while (!xvfb.canReadLine())
            if (!xvfb.waitForReadyRead(15000))
                return false;
        display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();
        return true;
    }
    ~OwnDisplay()
    {
        if (xvfb.state() != QProcess::NotRunning) {
            xvfb.terminate();
            xvfb.waitForFinished(5000);
        }
    }
};

struct OwnBus
{
    QProcess daemon;
    QString address;
    bool start()
    {
        daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address=1")});
        if (!daemon.waitForStarted(10000) || !daemon.waitForReadyRead(10000))
            return false;
        address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~OwnBus()
    {
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            daemon.waitForFinished(5000);
        }
    }
};

// Hand-overs to a window showing `first`: `rounds` second starts, each
// with the other file; ms from exec to the page painted.
QList<double> handOvers(const QProcessEnvironment &env, const QString &first, const QString &second)
{
    QList<double> ms;
    Run running(env, QStringLiteral(SHEAFLINE_EXE), {first});
    if (running.waitShown(first) < 0)
        return ms;
    for (int round = 0; round < kRounds; ++round) {
        const QString file = round % 2 ? first : second;
        Run start(env, QStringLiteral(SHEAFLINE_EXE), {file});
        const qint64 shown = running.waitShown(file);
        if (shown < 0 || !start.waitEnded(kWaitMs) || start.exitCode() != 0)
            return {};
        ms << (shown - start.startNs()) / 1e6;
        // The window settles (the neighbours' preparation) before the next one.
        QThread::msleep(300);
    }
    return ms;
}

int benchStartup(const QStringList &args)
{
    QTemporaryDir work;
    const QString home = work.filePath(QStringLiteral("home"));
    const QString docs = work.filePath(QStringLiteral("docs"));
    const QString elsewhere = work.filePath(QStringLiteral("elsewhere"));
    for (const QString &dir : {home + QStringLiteral("/.config/MOSSGATE"), home + QStringLiteral("/run"), docs, elsewhere})
        QDir().mkpath(dir);
    QFile::setPermissions(home + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QString file = args.value(0);
    if (file.isEmpty()) {
        file = docs + QStringLiteral("/report.pdf");
        for (const QString &name : {QStringLiteral("annex"), QStringLiteral("report"), QStringLiteral("summary")})
            writeTextPdf(docs + QLatin1Char('/') + name + QStringLiteral(".pdf"), name);
    }
    file = QFileInfo(file).absoluteFilePath();
    const QString other = elsewhere + QStringLiteral("/other.pdf");
    if (!QFile::exists(file) || !writeTextPdf(other, QStringLiteral("other"))) {
        QTextStream(stderr) << "usage: sheafline-bench startup [file.pdf]\n";
        return 2;
    }
    {
        // Later starts, as most are: the settings are there; the update
        // check is refused at once by a port where nothing listens.
        QSettings seed(home + QStringLiteral("/.config/MOSSGATE/Sheafline.conf"), QSettings::IniFormat);
        seed.setValue(QStringLiteral("Folder"), docs);
        seed.setValue(QStringLiteral("updatepath"), QStringLiteral("http://127.0.0.1:9/"));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    OwnDisplay ownDisplay;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        if (!ownDisplay.start()) {
            QTextStream(stderr) << "no X server (Xvfb) for the children\n";
            return 2;
        }
        env.insert(QStringLiteral("DISPLAY"), ownDisplay.display);
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    env.insert(QStringLiteral("SHEAFLINE_REPORT_SHOWN"), QStringLiteral("1"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));

    // Start-up: program, bare process and program with OpenGL by turns,
    // the order turning each round.
    QProcessEnvironment withGl = env;
    withGl.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("xcb_glx"));
    QList<double> times[3]; // program, bare, program with OpenGL
    for (int round = 0; round < kRounds; ++round) {
        for (int turn = 0; turn < 3; ++turn) {
            const int kind = (turn + round) % 3;
            Run run(kind == 2 ? withGl : env,
                    kind == 1 ? QStringLiteral(SHEAFLINE_BARE_FIRSTPAGE_EXE) : QStringLiteral(SHEAFLINE_EXE), {file});
            const qint64 shown = run.waitShown(file);
            if (shown < 0) {
                QTextStream(stderr) << (kind == 1 ? "the bare process" : "sheafline") << " showed no page\n";
                return 1;
            }
            times[kind] << (shown - run.startNs()) / 1e6;
        }
    }
    const double p50 = bench::median(times[0]);
    const double bareP50 = bench::median(times[1]);
    bench::report("startup_ms_p50", p50);
    bench::report("startup_bare_ms_p50", bareP50);
    bench::report("startup_ratio", bareP50 > 0 ? p50 / bareP50 : 0);
    bench::report("startup_gl_ms_p50", bench::median(times[2]));

    OwnBus bus;
    if (bus.start()) {
        QProcessEnvironment onBus = env;
        onBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
        const QList<double> ms = handOvers(onBus, file, other);
        if (ms.isEmpty()) {
            QTextStream(stderr) << "the hand-over on the bus failed\n";
            return 1;
        }
        bench::report("handover_ms_p50", bench::median(ms));
    } else {
        QTextStream(stderr) << "no dbus-daemon: the hand-over is measured on the socket only\n";
    }
    const QList<double> socketMs = handOvers(env, file, other);
    if (socketMs.isEmpty()) {
        QTextStream(stderr) << "the hand-over on the socket failed\n";
        return 1;
    }
    bench::report("handover_socket_ms_p50", bench::median(socketMs));
    return 0;
}

} // namespace

SHEAFLINE_BENCH("startup",
                "whole processes: sheafline file.pdf to its first page painted against a bare process; the hand-over "
                "of a second start",
                benchStartup);
