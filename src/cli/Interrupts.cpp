#include "cli/Interrupts.h"

#include <csignal>

namespace larkspool {

namespace {

// Never destroyed: a signal may still come while the process exits.
WakePipe* const gSignals = new WakePipe;

void OnSignal(int) {
    gSignals->Wake(); // async-signal-safe, keeps errno
}

} // namespace

bool CatchInterrupts() {
    if (!gSignals->IsOpen() && !gSignals->Open())
        return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // A system call the signal interrupts goes on where it can.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return true;
}

int InterruptFd() {
    return gSignals->ReadFd();
}

int DrainInterrupts() {
    return gSignals->Drain();
}

InterruptWatch::InterruptWatch(std::function<void(int)> OnInterrupt)
    : FOnInterrupt(std::move(OnInterrupt)) {
    if (!FWake.Open())
        return; // without the pipe nothing can end the thread: no watching
    FThread = std::thread([this] {
        while (FWake.Wait(InterruptFd()) == WakePipe::WaitResult::Ready) {
            // Each signal is acted on by itself: the second one aborts even
            // when both arrived together.
            for (int n = DrainInterrupts(); n > 0; --n) {
                std::lock_guard lock(FLock);
                FOnInterrupt(++FCount);
            }
        }
    });
}

int InterruptWatch::Count() const {
    return FCount;
}

InterruptWatch::~InterruptWatch() {
    if (FThread.joinable()) {
        FWake.Wake();
        FThread.join();
    }
}

} // namespace larkspool
