#pragma once

// Waiting in tests until something happened, with a bound so that a fault
// fails the test instead of hanging it.

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <thread>

namespace larkspool::check {

// Asks Done() until it holds or Limit has passed; false when the time ran
// out. Between two asks the calling thread's Qt events run (where it has an
// event loop, as a test's main thread with a QCoreApplication does), then it
// sleeps for Pause: a Done() that is costly to ask, such as a round trip to
// the browser, wants a longer one.
inline bool WaitFor(const std::function<bool()>& Done,
                    std::chrono::milliseconds Limit = std::chrono::seconds(15),
                    std::chrono::microseconds Pause = std::chrono::microseconds(200)) {
    const auto until = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(Pause);
    }
    return true;
}

} // namespace larkspool::check
