// The descriptor helpers: whole writes and reads through pipes, owners that
// close, and the wake pipe that ends a thread's wait.
#include "platform/Descriptors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace larkspool;
using namespace std::chrono_literals;

namespace {

bool IsOpenDescriptor(int Fd) {
    return ::fcntl(Fd, F_GETFD) != -1;
}

// Bytes that show where they came from, so a lost or repeated chunk shows.
std::string Pattern(std::size_t Size) {
    std::string bytes(Size, '\0');
    for (std::size_t i = 0; i < Size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return bytes;
}

} // namespace

TEST(UniqueFdTest, ClosesItsDescriptorWhenItGoes) {
    int fd;
    {
        const UniqueFd owner(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        fd = owner.Get();
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(IsOpenDescriptor(fd));
    }
    EXPECT_FALSE(IsOpenDescriptor(fd));
}

TEST(UniqueFdTest, AMoveHandsTheDescriptorOver) {
    UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int fd = first.Get();
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(second.Get(), fd);
    UniqueFd third;
    third = std::move(second);
    EXPECT_EQ(third.Get(), fd);
    EXPECT_TRUE(IsOpenDescriptor(fd));
    const int released = third.Release();
    EXPECT_EQ(released, fd);
    EXPECT_FALSE(third.IsOpen());
    EXPECT_TRUE(IsOpenDescriptor(fd)); // released, not closed
    ::close(released);
}

TEST(PipeTest, BothEndsCloseOnExec) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    EXPECT_NE(::fcntl(ends.Read.Get(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(ends.Write.Get(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(::fcntl(ends.Read.Get(), F_GETFL) & O_NONBLOCK, 0);
}

// Far more than a pipe holds: the writer must go on after every short write
// while the reader empties the pipe.
TEST(WriteAllTest, WritesMoreThanThePipeHoldsToAConcurrentReader) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    const int capacity = ::fcntl(ends.Write.Get(), F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    const std::string data = Pattern(static_cast<std::size_t>(capacity) * 16 + 123);
    std::string received;
    bool readOk = false;
    std::thread reader([&] { readOk = ReadToEnd(ends.Read.Get(), received); });
    EXPECT_TRUE(WriteAll(ends.Write.Get(), data));
    ends.Write.Close();
    reader.join();
    EXPECT_TRUE(readOk);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(WriteAllTest, ReportsAFailureWithItsReason) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    errno = 0;
    EXPECT_FALSE(WriteAll(ends.Read.Get(), "not for the reading end"));
    EXPECT_EQ(errno, EBADF);
}

TEST(ReadTest, ReadFullStopsAtTheEndOfTheInput) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    ASSERT_TRUE(WriteAll(ends.Write.Get(), "abcdef"));
    char buffer[4];
    EXPECT_EQ(ReadFull(ends.Read.Get(), buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    ends.Write.Close();
    EXPECT_EQ(ReadFull(ends.Read.Get(), buffer, sizeof buffer), 2);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(ReadFull(ends.Read.Get(), buffer, sizeof buffer), 0);
}

TEST(ReadTest, ReadFullCollectsPiecesWrittenApart) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    std::thread writer([&] {
        for (const char* piece : {"ab", "cd", "ef", "gh"})
            WriteAll(ends.Write.Get(), piece);
    });
    char buffer[8];
    EXPECT_EQ(ReadFull(ends.Read.Get(), buffer, sizeof buffer), 8);
    writer.join();
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
}

TEST(ReadTest, ReadToEndStopsSoonAfterTheLimit) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    const int capacity = ::fcntl(ends.Write.Get(), F_GETPIPE_SZ);
    ASSERT_GT(capacity, 100);
    // The pipe stays open for writing: without the limit the read would
    // wait for more for ever.
    ASSERT_TRUE(WriteAll(ends.Write.Get(), Pattern(static_cast<std::size_t>(capacity))));
    std::string bytes;
    EXPECT_TRUE(ReadToEnd(ends.Read.Get(), bytes, 100));
    EXPECT_GT(bytes.size(), 100u);
    EXPECT_EQ(bytes, Pattern(static_cast<std::size_t>(capacity)).substr(0, bytes.size()));
}

TEST(ReadTest, ReadToEndReportsAFailure) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    std::string bytes;
    errno = 0;
    EXPECT_FALSE(ReadToEnd(ends.Write.Get(), bytes));
    EXPECT_EQ(errno, EBADF);
}

TEST(WakePipeTest, AWakeFromAnotherThreadEndsTheWait) {
    WakePipe wake;
    ASSERT_TRUE(wake.Open());
    Pipe quiet; // never written: only the wake can end the wait
    ASSERT_TRUE(OpenPipe(quiet));
    std::thread waker([&] { wake.Wake(); });
    EXPECT_EQ(wake.Wait(quiet.Read.Get()), WakePipe::WaitResult::Woken);
    waker.join();
}

TEST(WakePipeTest, AWaitWithATimeoutEndsWhenNothingHappens) {
    WakePipe wake;
    ASSERT_TRUE(wake.Open());
    Pipe quiet;
    ASSERT_TRUE(OpenPipe(quiet));
    EXPECT_EQ(wake.Wait(quiet.Read.Get(), 20ms), WakePipe::WaitResult::TimedOut);
    EXPECT_EQ(wake.Wait(quiet.Read.Get(), 0ms), WakePipe::WaitResult::TimedOut);
}

TEST(WakePipeTest, InputOnTheDescriptorEndsTheWait) {
    WakePipe wake;
    ASSERT_TRUE(wake.Open());
    Pipe input;
    ASSERT_TRUE(OpenPipe(input));
    std::thread writer([&] { WriteAll(input.Write.Get(), "x"); });
    EXPECT_EQ(wake.Wait(input.Read.Get()), WakePipe::WaitResult::Ready);
    writer.join();
    // The end of the input counts as ready too: the reader learns of it by
    // reading.
    char byte;
    ASSERT_EQ(ReadSome(input.Read.Get(), &byte, 1), 1);
    input.Write.Close();
    EXPECT_EQ(wake.Wait(input.Read.Get(), 1h), WakePipe::WaitResult::Ready);
    EXPECT_EQ(ReadSome(input.Read.Get(), &byte, 1), 0);
}

// A waiting thread that is told to stop must stop even while input waits.
TEST(WakePipeTest, AWakeWinsOverInputAndStaysUntilDrained) {
    WakePipe wake;
    ASSERT_TRUE(wake.Open());
    Pipe input;
    ASSERT_TRUE(OpenPipe(input));
    ASSERT_TRUE(WriteAll(input.Write.Get(), "x"));
    wake.Wake();
    wake.Wake();
    EXPECT_EQ(wake.Wait(input.Read.Get()), WakePipe::WaitResult::Woken);
    EXPECT_EQ(wake.Wait(input.Read.Get()), WakePipe::WaitResult::Woken);
    EXPECT_EQ(wake.Drain(), 2);
    EXPECT_EQ(wake.Drain(), 0);
    EXPECT_EQ(wake.Wait(input.Read.Get()), WakePipe::WaitResult::Ready);
}

// Non-blocking, so that a signal handler's wake never hangs on a full pipe.
TEST(WakePipeTest, WakesNeverBlockEvenWhenThePipeIsFull) {
    WakePipe wake;
    ASSERT_TRUE(wake.Open());
    EXPECT_NE(::fcntl(wake.ReadFd(), F_GETFD) & FD_CLOEXEC, 0);
    const int capacity = ::fcntl(wake.ReadFd(), F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    errno = 1234;
    for (int i = 0; i < capacity + 10; ++i)
        wake.Wake();
    EXPECT_EQ(errno, 1234); // a handler's interrupted code sees its own errno
    EXPECT_EQ(wake.Drain(), capacity);
}

TEST(WakePipeTest, WithoutAPipeTheWaitIsForTheDescriptorAlone) {
    const WakePipe closed;
    EXPECT_FALSE(closed.IsOpen());
    closed.Wake(); // harmless
    EXPECT_EQ(closed.Drain(), 0);
    Pipe input;
    ASSERT_TRUE(OpenPipe(input));
    EXPECT_EQ(closed.Wait(input.Read.Get(), 0ms), WakePipe::WaitResult::TimedOut);
    ASSERT_TRUE(WriteAll(input.Write.Get(), "x"));
    EXPECT_EQ(closed.Wait(input.Read.Get()), WakePipe::WaitResult::Ready);
}
