#pragma once

#include <QObject>

#include <functional>
#include <memory>

// One read of the file system on a thread of its own, its results handed to
// the thread of a receiving object in pieces.
//
// The work runs on a detached thread: nothing ever joins it, so a read stuck
// in the kernel (a share that stopped answering) holds up neither the
// receiver nor the program's exit.  The work hands each piece of its result
// to post(); the pieces run on the receiver's thread in the order posted, as
// one queued call per batch.  After cancel() (or once the receiver is gone)
// no posted piece runs and post() says so, so that the work can stop early.
//
// Widget-free.  start(), cancel(), waitFinished() and the handle belong to
// the receiver's thread; post() and cancelled() to the work.
class FolderRead
{
public:
    using Piece = std::function<void()>;

    // What the work sees of its read.
    class Feed
    {
    public:
        // Queues `piece` for the receiver; false (the piece dropped) once the
        // read is cancelled.
        bool post(Piece piece);
        bool cancelled() const;

    private:
        friend class FolderRead;
        struct State;
        explicit Feed(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        std::shared_ptr<State> m_state;
    };
    using Work = std::function<void(Feed &feed)>;

    // Number of works under way in the process, stuck ones included.  Any thread.
    static int running();

    // Starts `work` on a new thread; its pieces run on `receiver`'s thread.
    // The caller cancels the read before `receiver` goes.
    static std::shared_ptr<FolderRead> start(QObject *receiver, Work work);
    ~FolderRead();

    // Drops the pieces not run yet and every later one.  Does not wait.
    void cancel();
    bool isCancelled() const;
    // True once the work has returned and each of its pieces has run.
    bool isFinished() const;

    // Waits up to `ms` for the work to return, then runs the pieces it
    // posted here and now rather than from the event loop.  True when the
    // read is finished.  A read that comes back at once (a local folder)
    // then shows in one go, and one that does not costs the caller `ms` at
    // most.
    bool waitFinished(int ms);

private:
    explicit FolderRead(std::shared_ptr<Feed::State> state);
    std::shared_ptr<Feed::State> m_state;
};
