#include "viewer/isolated/RenderHelper.h"

#include "base/ProgramName.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int defaultWatchdogMs = 25000;
// The helper's ends of the sockets, as it expects them.
constexpr int helperRequestsFd = 3;
constexpr int helperAnswersFd = 4;
// How often a wait for an answer looks whether its deadline was cut short.
constexpr int waitSliceMs = 100;

} // namespace

Q_LOGGING_CATEGORY(lcRender, "sheafline.render")

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
    const QString name = QString::fromUtf16(sheafline::kRenderHelperName);
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
        qCWarning(lcRender, "the render helper %s is missing", qPrintable(QString::fromUtf16(sheafline::kRenderHelperName)));
        return false;
    }
    int requests[2], answers[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0)
        return false;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, answers) != 0) {
        ::close(requests[0]);
        ::close(requests[1]);
        return false;
    }
    // Reads time out now and then, so that a wait whose deadline is cut
    // short (shortenWait) notices without a poll before each read.
    const timeval slice{0, waitSliceMs * 1000};
    setsockopt(answers[0], SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requests[1], helperRequestsFd);
    posix_spawn_file_actions_adddup2(&actions, answers[1], helperAnswersFd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray program = QFile::encodeName(path);
    char *const argv[] = {const_cast<char *>(program.constData()), nullptr};
    pid_t pid = 0;
    const int err = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(requests[1]);
    ::close(answers[1]);
    if (err != 0) {
        ::close(requests[0]);
        ::close(answers[0]);
        qCWarning(lcRender, "cannot start %s: %s", program.constData(), strerror(err));
        return false;
    }
    m_requests = requests[0];
    m_answers = answers[0];
    m_channel.reset(m_answers, m_requests);
    m_known.clear();
    m_pid = pid;
    ++m_generation;
    m_handles = 0;

    QByteArray body;
    bool timedOut = false;
    const qint64 deadline = m_clock.elapsed() + watchdogMs();
    Confinement c;
    if (!m_channel.receive(&body, nullptr, [&] { return deadline - m_clock.elapsed(); }, &timedOut)
        || !RenderProtocol::decode(body, &c)) {
        qCWarning(lcRender, "the render helper did not start%s", timedOut ? " in time" : "");
        kill();
        return false;
    }
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
    m_channel.reset(-1, -1);
    for (int *fd : {&m_requests, &m_answers}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_known.clear();
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
    // A helper that went away while idle is noticed by the next request
    // (call()'s wasGone), not looked for before each one.
    return m_requests >= 0 || start();
}

RenderProtocol::PageBufferRef RenderHelper::refer(const PageBuffers::Buffer &buffer, std::vector<int> *fds)
{
    RenderProtocol::PageBufferRef ref{buffer.id, false};
    if (buffer.valid() && !m_known.contains(buffer.id)) {
        // Known from now on: should the request not arrive, this helper is
        // gone and the next one knows nothing.
        m_known.insert(buffer.id);
        ref.attached = true;
        fds->push_back(buffer.fd);
    }
    return ref;
}

QList<quint32> RenderHelper::retired()
{
    QList<quint32> ids;
    for (quint32 id : m_buffers->takeRetired())
        if (m_known.remove(id))
            ids << id;
    return ids;
}

bool RenderHelper::call(const QByteArray &request, const std::vector<int> &fds, QByteArray *answer, bool *wasGone)
{
    if (wasGone)
        *wasGone = false;
    if (!ensureRunning())
        return false;
    m_deadline = m_clock.elapsed() + watchdogMs();
    const std::optional<RenderProtocol::Op> op = RenderProtocol::opOf(request);
    m_inFlight = op ? quint8(*op) : 0;
    bool gone = false;
    bool timedOut = false;
    // One write, one read: the answer comes whole in one read when it is
    // there.  An answer with more behind it is not the helper's to give.
    const bool answered = m_channel.send(request, fds, &gone)
                          && m_channel.receive(answer, nullptr,
                                               [this] { return m_deadline - m_clock.elapsed(); }, &timedOut);
    const bool ok = answered && !m_channel.hasBuffered();
    m_inFlight = 0;
    if (!ok) {
        if (!gone)
            qCWarning(lcRender, "the render helper %s; it is restarted for the next request",
                      answered ? "said more than it was asked" : timedOut ? "did not answer in time" : "went away");
        kill();
    }
    if (wasGone)
        *wasGone = gone;
    return ok;
}

void RenderHelper::shortenWait(int graceMs)
{
    const qint64 deadline = m_clock.elapsed() + graceMs;
    qint64 current = m_deadline.load();
    while (deadline < current && !m_deadline.compare_exchange_weak(current, deadline)) {
    }
}

bool RenderHelper::post(const QByteArray &request)
{
    if (m_requests < 0)
        return false;
    if (m_channel.send(request))
        return true;
    kill();
    return false;
}

double RenderHelper::roundTripMs(int rounds)
{
    QList<double> trips;
    const QByteArray ping = RenderProtocol::encode(RenderProtocol::PingRequest{});
    for (int i = 0; i < rounds; ++i) {
        QMutexLocker lock(&m_mutex);
        QElapsedTimer t;
        t.start();
        QByteArray answer;
        RenderProtocol::PingAnswer pong;
        if (!call(ping, {}, &answer) || !RenderProtocol::decode(answer, &pong))
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
    RenderProtocol::ProbeAnswer a;
    if (!call(RenderProtocol::encode(RenderProtocol::ProbeRequest{}), {}, &answer)
        || !RenderProtocol::decode(answer, &a))
        return false;
    *results = a.results;
    return true;
}
