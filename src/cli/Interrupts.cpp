#include "cli/Interrupts.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace larkspool {

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool CatchInterrupts() {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
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
    return gSignalPipe[0];
}

int DrainInterrupts() {
    int count = 0;
    char bytes[16];
    ssize_t n;
    while ((n = ::read(gSignalPipe[0], bytes, sizeof bytes)) > 0)
        count += static_cast<int>(n);
    return count;
}

InterruptWatch::InterruptWatch(std::function<void(int)> OnInterrupt)
    : FOnInterrupt(std::move(OnInterrupt)) {
    if (::pipe2(FWake, O_CLOEXEC) != 0)
        return; // without the pipe nothing can end the thread: no watching
    FThread = std::thread([this] {
        pollfd fds[2] = {{InterruptFd(), POLLIN, 0}, {FWake[0], POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents != 0)
                return;
            if (fds[0].revents == 0)
                continue;
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
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(FWake[1], &byte, 1);
        FThread.join();
    }
    for (int fd : FWake)
        if (fd >= 0)
            ::close(fd);
}

} // namespace larkspool
