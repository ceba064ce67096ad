#pragma once

#include "viewer/isolated/PageBuffers.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <sys/types.h>
#include <vector>

// What the render helper and its engines have to say (warnings only).
Q_DECLARE_LOGGING_CATEGORY(lcRender)

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

    // Makes sure a helper runs, starting one when there is none; false when
    // none can be started.  The caller holds mutex().
    bool ensureRunning();

    // Sends a request and returns the answer's body; false when the helper
    // could not be started, died, did not answer in time or sent more than
    // an answer, in which case it is gone and the next request starts a new
    // one.  *wasGone then tells a helper that had gone away before the
    // request reached it (while idle): the request was none of its doing
    // and may be asked again of the next helper.  Descriptors are sent, not
    // taken over.  The caller holds mutex().
    bool call(const QByteArray &request, const std::vector<int> &fds, QByteArray *answer, bool *wasGone = nullptr);

    // How a request to the running helper names a page buffer: the first
    // time, its descriptor goes along (appended to fds).  The caller holds
    // mutex() and sends the request next.
    RenderProtocol::PageBufferRef refer(const PageBuffers::Buffer &buffer, std::vector<int> *fds);
    // The buffers the running helper holds that the program has let go of,
    // to retire with the next request that names a buffer.  The caller
    // holds mutex().
    QList<quint32> retired();

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
    using Confinement = RenderProtocol::Hello;
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

    QMutex m_mutex;
    const std::shared_ptr<PageBuffers> m_buffers;
    int m_requests = -1; // the socket requests go out on
    int m_answers = -1;  // and the one answers come in on
    RenderProtocol::Channel m_channel;
    QSet<quint32> m_known; // buffer ids the running helper holds
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
