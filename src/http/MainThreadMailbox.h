#pragma once

// Calls handed from other threads to the Qt main thread.
//
// The calls wait in a queue of our own under our own lock, and the main
// thread is only told by name to look at the queue, so nothing a thread
// hands over passes through the event loop's internals unseen by race
// checkers.

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace larkspool {

class MainThreadMailbox : public QObject {
    Q_OBJECT
public:
    // Queues Call for the main thread of the running Qt application; false
    // when there is none.
    static bool Post(std::function<void()> Call);

private:
    Q_INVOKABLE void Drain();

    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
};

} // namespace larkspool
