#pragma once

// File descriptors: an owner that closes them, reads and writes that go on
// when a signal interrupts them, pipes that never leak into a started
// program, and a wake pipe that ends a thread's wait for input.
//
// Failures follow the system calls: a false or -1 result leaves the reason
// in errno.

#include <chrono>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace larkspool {

// One descriptor, closed when its owner goes; -1 owns nothing.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) noexcept : FFd(Fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& Other) noexcept : FFd(Other.Release()) {}
    UniqueFd& operator=(UniqueFd&& Other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const noexcept { return FFd; }
    bool IsOpen() const noexcept { return FFd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept;
    // Closes the descriptor now; false (errno set) when close(2) reports a
    // failure, which for a written file may mean lost data. Owns nothing
    // afterwards either way.
    bool Close() noexcept;
    // Closes the old descriptor and takes Fd.
    void Reset(int Fd = -1) noexcept;

private:
    int FFd = -1;
};

// Writes all of Data; false when a write fails. A signal does not cut the
// write short.
bool WriteAll(int Fd, std::string_view Data);

// One read(2), retried when a signal interrupts it: the number of bytes
// read, 0 at the end of the input, -1 on failure.
ssize_t ReadSome(int Fd, void* Buffer, std::size_t Size);
// Reads until Size bytes came or the input ended: how many came, or -1 on
// failure.
ssize_t ReadFull(int Fd, void* Buffer, std::size_t Size);
// Appends the rest of the input to Bytes; stops early once Bytes holds more
// than Limit bytes, so a caller can refuse what is too long without reading
// it all. False on failure.
bool ReadToEnd(int Fd, std::string& Bytes,
               std::size_t Limit = std::numeric_limits<std::size_t>::max());

// flock(2) with LOCK_EX, retried when a signal interrupts it; with Wait
// false it fails at once (errno EWOULDBLOCK) when another holds the lock.
bool LockExclusive(int Fd, bool Wait);

// A pipe whose ends are closed on exec; Flags may add O_NONBLOCK.
struct Pipe {
    UniqueFd Read, Write;
};
bool OpenPipe(Pipe& Ends, int Flags = 0);

// A pipe that wakes a thread waiting for input on another descriptor. Both
// ends are non-blocking and closed on exec. Wake may be called from any
// thread and from a signal handler; a wake stays pending until Drain.
class WakePipe {
public:
    enum class WaitResult {
        Ready,    // the descriptor waited on has input, has ended or failed
        Woken,    // Wake was called (it wins when both are true)
        TimedOut, // the timeout passed first
        Failed,   // poll(2) failed
    };

    WakePipe() = default;
    // Makes the pipe; false when it cannot be made.
    bool Open();
    bool IsOpen() const noexcept { return FRead.IsOpen(); }
    void Close() noexcept;

    // Writes one byte; async-signal-safe, keeps errno. Nothing happens when
    // the pipe is not open, or already full (a wake is pending then anyway).
    void Wake() const noexcept;
    // Reads every byte waiting; returns how many there were.
    int Drain() const;
    // The reading end, for an event loop to watch.
    int ReadFd() const noexcept { return FRead.Get(); }

    // Waits until Fd has input or the pipe is woken, at most Timeout when one
    // is given. Without an open pipe it waits for Fd alone.
    WaitResult Wait(int Fd, std::optional<std::chrono::milliseconds> Timeout = std::nullopt) const;

private:
    UniqueFd FRead, FWrite;
};

} // namespace larkspool
