#include "platform/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace larkspool {

UniqueFd& UniqueFd::operator=(UniqueFd&& Other) noexcept {
    if (this != &Other)
        Reset(Other.Release());
    return *this;
}

int UniqueFd::Release() noexcept {
    const int fd = FFd;
    FFd = -1;
    return fd;
}

bool UniqueFd::Close() noexcept {
    if (FFd < 0)
        return true;
    // Linux frees the descriptor even when close reports an error, so it is
    // never retried: the number may already belong to another thread's file.
    const int result = ::close(FFd);
    FFd = -1;
    return result == 0;
}

void UniqueFd::Reset(int Fd) noexcept {
    const int saved = errno;
    Close();
    errno = saved;
    FFd = Fd;
}

bool WriteAll(int Fd, std::string_view Data) {
    while (!Data.empty()) {
        const ssize_t n = ::write(Fd, Data.data(), Data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            // Never for a pipe or a file with bytes to write; a loop on it
            // would never end.
            errno = EIO;
            return false;
        }
        Data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

ssize_t ReadSome(int Fd, void* Buffer, std::size_t Size) {
    ssize_t n;
    do {
        n = ::read(Fd, Buffer, Size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t ReadFull(int Fd, void* Buffer, std::size_t Size) {
    std::size_t done = 0;
    while (done < Size) {
        const ssize_t n = ReadSome(Fd, static_cast<char*>(Buffer) + done, Size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool LockExclusive(int Fd, bool Wait) {
    int result;
    while ((result = ::flock(Fd, Wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

bool ReadToEnd(int Fd, std::string& Bytes, std::size_t Limit) {
    char chunk[65536];
    while (Bytes.size() <= Limit) {
        const ssize_t n = ReadSome(Fd, chunk, sizeof chunk);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        Bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

bool OpenPipe(Pipe& Ends, int Flags) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | Flags) != 0)
        return false;
    Ends.Read.Reset(fds[0]);
    Ends.Write.Reset(fds[1]);
    return true;
}

bool WakePipe::Open() {
    Pipe ends;
    // Non-blocking: a wake never blocks (not even a signal handler's on a
    // full pipe), and Drain stops when the pipe is empty.
    if (!OpenPipe(ends, O_NONBLOCK))
        return false;
    FRead = std::move(ends.Read);
    FWrite = std::move(ends.Write);
    return true;
}

void WakePipe::Close() noexcept {
    FRead.Reset();
    FWrite.Reset();
}

void WakePipe::Wake() const noexcept {
    if (!FWrite.IsOpen())
        return;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWrite.Get(), &byte, 1);
    errno = saved;
}

int WakePipe::Drain() const {
    int count = 0;
    char bytes[64];
    ssize_t n;
    while (FRead.IsOpen() && (n = ReadSome(FRead.Get(), bytes, sizeof bytes)) > 0)
        count += static_cast<int>(n);
    return count;
}

WakePipe::WaitResult WakePipe::Wait(int Fd,
                                    std::optional<std::chrono::milliseconds> Timeout) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Timeout ? Clock::now() + *Timeout : Clock::time_point::max();
    for (;;) {
        int wait = -1;
        if (Timeout) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
                left.count(), 0, std::numeric_limits<int>::max()));
        }
        pollfd fds[2] = {{Fd, POLLIN, 0}, {FRead.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, FRead.IsOpen() ? 2 : 1, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        if (fds[1].revents != 0)
            return WaitResult::Woken;
        if (fds[0].revents != 0)
            return WaitResult::Ready;
        if (ready == 0 && Timeout && Clock::now() >= deadline)
            return WaitResult::TimedOut;
    }
}

} // namespace larkspool
