#pragma once

// Ctrl-C (and SIGTERM) for larkspool-save: the signal handler only writes a
// byte into a pipe; the main loop watches the pipe during the download run,
// and a watcher thread acts on it while the main thread is blocked in the
// browser.

#include <atomic>
#include <functional>
#include <thread>

namespace larkspool {

// Installs the handlers; false when the pipe cannot be made.
bool CatchInterrupts();
// The pipe's reading end (non-blocking); one byte per signal.
int InterruptFd();
// Reads every byte waiting in the pipe; returns how many there were.
int DrainInterrupts();

// While it lives, the first interrupt calls OnInterrupt on a thread of its
// own (it must be safe from any thread) and sets Interrupted().
class TInterruptWatch {
public:
    explicit TInterruptWatch(std::function<void()> OnInterrupt);
    ~TInterruptWatch();
    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    // Ends the watching; an interrupt after it waits in the pipe.
    void Finish();
    bool Interrupted() const { return FInterrupted; }

private:
    std::function<void()> FOnInterrupt;
    std::atomic<bool> FInterrupted{false};
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

} // namespace larkspool
