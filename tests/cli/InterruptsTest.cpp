#include "cli/Interrupts.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

using namespace larkspool;

namespace {

// What the watch was told, in order, and on which thread.
struct Seen {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<int> Counts;
    std::vector<std::thread::id> Threads;

    void Add(int Count) {
        std::lock_guard lock(Lock);
        Counts.push_back(Count);
        Threads.push_back(std::this_thread::get_id());
        Changed.notify_all();
    }
    void WaitFor(std::size_t N) {
        std::unique_lock lock(Lock);
        Changed.wait(lock, [&] { return Counts.size() >= N; });
    }
};

} // namespace

// Ctrl-C, SIGTERM and SIGHUP all reach the watch, each one counted, on a
// thread of its own: the main thread may be busy with anything meanwhile.
TEST(InterruptWatchTest, EverySignalIsActedOnAwayFromTheMainThread) {
    ASSERT_TRUE(CatchInterrupts());
    DrainInterrupts();
    Seen seen;
    {
        InterruptWatch watch([&](int Count) { seen.Add(Count); });
        std::raise(SIGHUP);
        seen.WaitFor(1);
        std::raise(SIGTERM);
        seen.WaitFor(2);
        std::raise(SIGINT);
        seen.WaitFor(3);
        EXPECT_EQ(watch.Count(), 3);
    }
    EXPECT_EQ(seen.Counts, (std::vector<int>{1, 2, 3}));
    for (const std::thread::id id : seen.Threads)
        EXPECT_NE(id, std::this_thread::get_id());
}

// Signals that arrive together are acted on one by one: the second one
// (abort) is not lost in the first.
TEST(InterruptWatchTest, SignalsArrivingTogetherAreEachActedOn) {
    ASSERT_TRUE(CatchInterrupts());
    DrainInterrupts();
    std::raise(SIGTERM); // waits in the pipe until the watch begins
    std::raise(SIGHUP);
    Seen seen;
    InterruptWatch watch([&](int Count) { seen.Add(Count); });
    seen.WaitFor(2);
    EXPECT_EQ(seen.Counts, (std::vector<int>{1, 2}));
}
