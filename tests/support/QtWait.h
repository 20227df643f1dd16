#pragma once

// Running the Qt main loop in tests until something happened.

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <thread>

namespace larkspool::check {

// Runs the main thread's event loop until Done() or the time is up.
inline bool WaitFor(const std::function<bool()>& Done, int Milliseconds = 15000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

} // namespace larkspool::check
