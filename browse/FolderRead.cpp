#include "browse/FolderRead.h"

#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {
std::atomic<int> g_running{0};
} // namespace

int FolderRead::running()
{
    return g_running.load();
}

struct FolderRead::Feed::State
{
    std::mutex mutex;
    std::condition_variable done;
    std::deque<Piece> pieces;
    QObject *receiver = nullptr; // cleared by cancel(), under the mutex
    bool cancelled = false;
    bool workReturned = false;
    bool callQueued = false;

    // Receiver's thread: runs what the work has posted so far.
    void runPieces()
    {
        std::deque<Piece> batch;
        {
            std::lock_guard lock(mutex);
            callQueued = false;
            if (cancelled)
                return;
            batch.swap(pieces);
        }
        for (Piece &piece : batch) {
            // A piece may cancel its own read (one that starts the next read,
            // say): the rest of the batch then goes too.
            {
                std::lock_guard lock(mutex);
                if (cancelled)
                    return;
            }
            piece();
        }
    }
};

bool FolderRead::Feed::post(Piece piece)
{
    const std::shared_ptr<State> state = m_state;
    std::lock_guard lock(state->mutex);
    if (state->cancelled)
        return false;
    state->pieces.push_back(std::move(piece));
    if (!state->callQueued) {
        state->callQueued = true;
        // Under the mutex: cancel() clears the receiver before the receiver
        // goes, so the call is never queued on an object being destroyed.
        // A call still queued when the receiver dies is dropped with it.
        QMetaObject::invokeMethod(state->receiver, [state] { state->runPieces(); }, Qt::QueuedConnection);
    }
    return true;
}

bool FolderRead::Feed::cancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

FolderRead::FolderRead(std::shared_ptr<Feed::State> state) : m_state(std::move(state)) {}

FolderRead::~FolderRead()
{
    cancel();
}

std::shared_ptr<FolderRead> FolderRead::start(QObject *receiver, Work work)
{
    auto state = std::make_shared<Feed::State>();
    state->receiver = receiver;
    ++g_running;
    std::thread([state, work = std::move(work)] {
        Feed feed(state);
        work(feed);
        --g_running;
        std::lock_guard lock(state->mutex);
        state->workReturned = true;
        state->done.notify_all();
    }).detach();
    return std::shared_ptr<FolderRead>(new FolderRead(std::move(state)));
}

void FolderRead::cancel()
{
    std::lock_guard lock(m_state->mutex);
    m_state->cancelled = true;
    m_state->receiver = nullptr;
    m_state->pieces.clear();
}

bool FolderRead::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

bool FolderRead::isFinished() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->workReturned && m_state->pieces.empty();
}

bool FolderRead::waitFinished(int ms)
{
    {
        std::unique_lock lock(m_state->mutex);
        m_state->done.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return m_state->workReturned || m_state->cancelled; });
    }
    // Keep the state alive: a piece may drop the last handle to this read.
    const std::shared_ptr<Feed::State> state = m_state;
    state->runPieces();
    std::lock_guard lock(state->mutex);
    return state->workReturned && state->pieces.empty() && !state->cancelled;
}
