#pragma once

// Ctrl-C, SIGTERM and SIGHUP for larkspool-save: the signal handler only
// writes a byte into a pipe, and a watcher thread acts on it at once,
// whatever the main thread is busy with (loading a page, reading a log,
// matching links, relinking).

#include "platform/Descriptors.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace larkspool {

// Installs the handlers; false when the pipe cannot be made.
bool CatchInterrupts();
// The pipe's reading end (non-blocking); one byte per signal.
int InterruptFd();
// Reads every byte waiting in the pipe; returns how many there were.
int DrainInterrupts();

// While it lives, each interrupt calls OnInterrupt on a thread of its own
// with the number of interrupts so far (1 for the first). OnInterrupt must
// be safe from any thread; it may end the process.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void(int Count)> OnInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // How many interrupts have been acted on.
    int Count() const;

    // Held while OnInterrupt runs: the main thread takes it to change what
    // OnInterrupt acts on (the next step of the save) without a race.
    std::mutex& Lock() { return FLock; }

private:
    std::function<void(int)> FOnInterrupt;
    std::mutex FLock;
    std::atomic<int> FCount{0}; // raised under FLock
    WakePipe FWake;             // ends the watching thread
    std::thread FThread;
};

} // namespace larkspool
