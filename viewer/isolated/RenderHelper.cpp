#include "viewer/isolated/RenderHelper.h"

#include "viewer/isolated/PageBuffers.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int defaultWatchdogMs = 25000;
// The helper's end of the socket, as it expects it.
constexpr int helperSocketFd = 3;

Q_LOGGING_CATEGORY(lcRender, "sheafline.render")

} // namespace

RenderHelper::RenderHelper() : m_buffers(std::make_shared<PageBuffers>())
{
    m_clock.start();
}

RenderHelper::~RenderHelper()
{
    stop();
}

QString RenderHelper::helperPath()
{
    const QString name = QStringLiteral("sheafline-render");
    QStringList candidates;
    if (const QString env = qEnvironmentVariable("SHEAFLINE_RENDER_HELPER"); !env.isEmpty())
        candidates << env;
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
#ifdef SHEAFLINE_RENDER_HELPER_BUILT
    candidates << QStringLiteral(SHEAFLINE_RENDER_HELPER_BUILT);
#endif
    for (const QString &c : candidates) {
        const QFileInfo fi(c);
        if (fi.isFile() && fi.isExecutable())
            return fi.absoluteFilePath();
    }
    return {};
}

int RenderHelper::watchdogMs() const
{
    if (m_watchdogMs > 0)
        return m_watchdogMs;
    bool ok = false;
    const int env = qEnvironmentVariableIntValue("SHEAFLINE_RENDER_WATCHDOG_MS", &ok);
    return ok && env > 0 ? env : defaultWatchdogMs;
}

void RenderHelper::setWatchdogMs(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_watchdogMs = ms;
}

pid_t RenderHelper::pid() const
{
    return m_pid.load();
}

quint8 RenderHelper::requestInFlight() const
{
    return m_inFlight.load();
}

RenderHelper::Confinement RenderHelper::confinement() const
{
    QMutexLocker lock(const_cast<QMutex *>(&m_mutex));
    return m_confinement;
}

bool RenderHelper::start()
{
    const QString path = helperPath();
    if (path.isEmpty()) {
        qCWarning(lcRender, "the render helper sheafline-render is missing");
        return false;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], helperSocketFd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray program = QFile::encodeName(path);
    char *const argv[] = {const_cast<char *>(program.constData()), nullptr};
    pid_t pid = 0;
    const int err = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (err != 0) {
        ::close(pair[0]);
        qCWarning(lcRender, "cannot start %s: %s", program.constData(), strerror(err));
        return false;
    }
    m_socket = pair[0];
    m_pid = pid;
    ++m_generation;
    m_handles = 0;

    QByteArray hello;
    bool timedOut = false;
    if (!RenderProtocol::receive(m_socket, &hello, nullptr, watchdogMs(), &timedOut)) {
        qCWarning(lcRender, "the render helper did not start%s", timedOut ? " in time" : "");
        kill();
        return false;
    }
    QDataStream s(hello);
    s.setVersion(RenderProtocol::streamVersion);
    Confinement c;
    qint32 abi = 0;
    s >> abi >> c.landlock >> c.seccomp >> c.missing;
    c.landlockAbi = abi;
    m_confinement = c;
    // Said once per run, not at every restart.
    if ((!c.landlock || !c.seccomp) && !m_notedConfinement) {
        m_notedConfinement = true;
        qCWarning(lcRender, "documents are drawn in a separate process, but it is not confined: %s",
                  qPrintable(c.missing));
    }
    return true;
}

void RenderHelper::kill()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (const pid_t pid = m_pid; pid > 0) {
        // Reaped by its own pid: whoever else in the process waits for
        // children (QProcess) waits for theirs only.  Should the process
        // ignore SIGCHLD (a disposition shared by all), the kernel reaps it
        // and waitpid ends with ECHILD.
        ::kill(pid, SIGKILL);
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = 0;
}

void RenderHelper::stop()
{
    QMutexLocker lock(&m_mutex);
    kill();
}

bool RenderHelper::ensureRunning()
{
    if (m_socket >= 0) {
        // An idle helper says nothing: anything to read means it has gone.
        pollfd p{m_socket, POLLIN, 0};
        if (::poll(&p, 1, 0) != 0)
            kill();
    }
    return m_socket >= 0 || start();
}

bool RenderHelper::call(const QByteArray &request, const std::vector<int> &fds, QByteArray *answer)
{
    if (!ensureRunning())
        return false;
    m_deadline = m_clock.elapsed() + watchdogMs();
    m_inFlight = request.isEmpty() ? 0 : quint8(request.at(0));
    bool timedOut = false;
    const bool ok = RenderProtocol::send(m_socket, request, fds) && waitForAnswer(&timedOut)
                    && RenderProtocol::receive(m_socket, answer, nullptr,
                                               int(qMax<qint64>(1, m_deadline.load() - m_clock.elapsed())),
                                               &timedOut);
    m_inFlight = 0;
    if (!ok) {
        qCWarning(lcRender, "the render helper %s; it is restarted for the next request",
                  timedOut ? "did not answer in time" : "went away");
        kill();
    }
    return ok;
}

void RenderHelper::shortenWait(int graceMs)
{
    const qint64 deadline = m_clock.elapsed() + graceMs;
    qint64 current = m_deadline.load();
    while (deadline < current && !m_deadline.compare_exchange_weak(current, deadline)) {
    }
}

bool RenderHelper::waitForAnswer(bool *timedOut)
{
    // In slices, so that a shortened deadline takes effect.
    for (;;) {
        const qint64 left = m_deadline.load() - m_clock.elapsed();
        if (left <= 0) {
            *timedOut = true;
            return false;
        }
        pollfd p{m_socket, POLLIN, 0};
        const int r = ::poll(&p, 1, int(qMin<qint64>(left, 100)));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

bool RenderHelper::post(const QByteArray &request)
{
    if (m_socket < 0)
        return false;
    if (RenderProtocol::send(m_socket, request))
        return true;
    kill();
    return false;
}

double RenderHelper::roundTripMs(int rounds)
{
    QList<double> trips;
    for (int i = 0; i < rounds; ++i) {
        QMutexLocker lock(&m_mutex);
        QElapsedTimer t;
        t.start();
        QByteArray answer;
        if (!call(RenderProtocol::write(quint8(RenderProtocol::Op::Ping)), {}, &answer) || answer != "\x01")
            return -1;
        trips << t.nsecsElapsed() / 1e6;
    }
    if (trips.isEmpty())
        return -1;
    std::sort(trips.begin(), trips.end());
    return trips.at(trips.size() / 2);
}

bool RenderHelper::probe(QList<QPair<QString, qint32>> *results)
{
    QMutexLocker lock(&m_mutex);
    QByteArray answer;
    if (!call(RenderProtocol::write(quint8(RenderProtocol::Op::Probe)), {}, &answer))
        return false;
    QDataStream s(answer);
    s.setVersion(RenderProtocol::streamVersion);
    quint8 done = 0;
    s >> done >> *results;
    return done == 1 && s.status() == QDataStream::Ok;
}
