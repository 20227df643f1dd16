#pragma once

// Calls handed from other threads to the Qt main thread: the stand-in for
// messages posted to a window of the main thread. The HTTP component hands
// its events over this way, the native-messaging host the browser's
// messages.
//
// The calls wait in a queue of our own under our own lock, and the main
// thread is woken through a pipe watched by its event loop, so nothing that
// a thread hands over passes through the event loop's own queue (whose
// locking race checkers cannot see).

#include "platform/Descriptors.h"

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

namespace larkspool {

class MainThreadMailbox : public QObject {
    Q_OBJECT
public:
    // Sets the mailbox up; call on the main thread before other threads post
    // (the HTTP component and the host do so when they are made there).
    static void Prepare();
    // Queues Call for the main thread of the running Qt application; false
    // when there is none.
    static bool Post(std::function<void()> Call);

private:
    MainThreadMailbox();
    Q_INVOKABLE void Drain();

    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
    WakePipe FWake;
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace larkspool
