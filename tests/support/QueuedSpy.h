#pragma once

#include <QList>
#include <QObject>
#include <QVariant>

#include <type_traits>

// A signal spy for signals sent from a worker thread.  QSignalSpy records
// straight from the sending thread: the test then reads a list another thread
// writes, and a signal sent before wait() starts is missed by it.  This spy
// receives the signal queued on the thread it lives on (the test's), so the
// list changes only while that thread handles events, and a signal sent
// before the test looks is always in it.  Wait with QTRY_VERIFY(!spy.isEmpty())
// or QTRY_COMPARE(spy.size(), n).
class QueuedSpy : public QObject, public QList<QList<QVariant>>
{
public:
    template <typename Sender, typename... Args>
    QueuedSpy(const Sender *sender, void (Sender::*signal)(Args...))
    {
        connect(
            sender, signal, this,
            [this](Args... args) { append(QList<QVariant>{QVariant::fromValue(std::decay_t<Args>(args))...}); },
            Qt::QueuedConnection);
    }
};
