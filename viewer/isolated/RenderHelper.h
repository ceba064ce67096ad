#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>

#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <sys/types.h>
#include <vector>

class PageBuffers;

// A render helper process (sheafline-render) of the program's own: started
// on the first request and again on the first request after it has gone.
// Requests are synchronous and serialised; a request that the helper does
// not answer within the watchdog time kills it.  Made and owned by
// PdfEngines; the helper process ends with the object.
//
// Thread-safe: callers hold mutex() around a conversation (the engines do).
class RenderHelper
{
public:
    RenderHelper();
    ~RenderHelper();
    RenderHelper(const RenderHelper &) = delete;
    RenderHelper &operator=(const RenderHelper &) = delete;

    // Where the helper program is: $SHEAFLINE_RENDER_HELPER, next to the
    // program, or where the build put it; empty when none is there.
    static QString helperPath();

    QMutex &mutex() { return m_mutex; }

    // The shared memory pages come back in.  Shared: a page image keeps it
    // alive, also past this object.
    const std::shared_ptr<PageBuffers> &pageBuffers() const { return m_buffers; }

    // Makes sure a helper runs, starting one when there is none or the last
    // one went away while idle; false when none can be started.  The caller
    // holds mutex().
    bool ensureRunning();

    // Sends a request and returns the answer (its leading "done" byte still
    // in place); false when the helper could not be started, died, or did
    // not answer in time, in which case it is gone and the next request
    // starts a new one.  Descriptors are sent, not taken over.  The caller
    // holds mutex().
    bool call(const QByteArray &request, const std::vector<int> &fds, QByteArray *answer);

    // Counts helper starts: an engine whose document was opened under an
    // earlier count must open it again.
    quint64 generation() const { return m_generation; }
    // A request number for the current helper's documents.
    quint32 nextHandle() { return ++m_handles; }

    // Milliseconds a request may take (25 s; $SHEAFLINE_RENDER_WATCHDOG_MS
    // overrides it).
    int watchdogMs() const;
    void setWatchdogMs(int ms);

    // Sends a request that has no answer (closing a document); false when
    // the helper is gone.  The caller holds mutex().
    bool post(const QByteArray &request);

    // For tests: the helper's process id (0 when none runs), the request
    // (its RenderProtocol::Op) waiting for its answer right now (0: none),
    // and the confinement the last started helper reported.
    pid_t pid() const;
    quint8 requestInFlight() const;
    struct Confinement
    {
        int landlockAbi = 0;
        bool landlock = false;
        bool seccomp = false;
        QString missing;
    };
    Confinement confinement() const;

    // Asks a test build of the helper to try forbidden actions from inside
    // its confinement (see RenderProtocol.h); each with the errno it got.
    bool probe(QList<QPair<QString, qint32>> *results);

    // Sends `rounds` requests that the helper answers at once (starting it
    // when needed); the median time of one in milliseconds, -1 when it did
    // not answer.  What any request costs beyond its work.
    double roundTripMs(int rounds);

    // Ends the helper now (at exit, and for tests).
    void stop();
    // Cuts the watchdog time of the request waiting now (if any) down to
    // graceMs: a caller about to wait for every document to be closed waits
    // no longer than that for a helper that hangs.  Any thread, without
    // mutex().
    void shortenWait(int graceMs);

private:
    bool start();
    void kill();
    bool waitForAnswer(bool *timedOut);

    QMutex m_mutex;
    const std::shared_ptr<PageBuffers> m_buffers;
    int m_socket = -1;
    // Read by other threads without mutex(): the process, the request in
    // flight, and when it times out (on m_clock).
    std::atomic<pid_t> m_pid{0};
    std::atomic<quint8> m_inFlight{0};
    std::atomic<qint64> m_deadline{0};
    QElapsedTimer m_clock;
    quint64 m_generation = 0;
    quint32 m_handles = 0;
    int m_watchdogMs = -1;
    bool m_notedConfinement = false;
    Confinement m_confinement;
};
