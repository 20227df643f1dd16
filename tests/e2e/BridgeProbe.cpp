// Registered in the program's place as the extension's native-messaging
// host: answers the extension's hello with the same description, and on
// Start runs the page rules the DevTools tests run (support/BridgeChecks.h)
// on the window the extension hands over, through the program's own
// connection code. It writes what it found to the file named by
// LARKSPOOL_PROBE_OUT (its standard output is the connection):
//   selection: TEXT
//   broken: RULE ...      (one line per broken rule)
//   end: N broken
#include "browser/ExtensionConnection.h"
#include "support/BridgeChecks.h"

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

using namespace larkspool;
using nlohmann::json;

int main() {
    const char* outPath = std::getenv("LARKSPOOL_PROBE_OUT");
    if (outPath == nullptr || *outPath == '\0')
        return 2;
    std::ofstream out(outPath);

    std::mutex lock;
    std::condition_variable changed;
    std::optional<json> hello;
    std::optional<Variant> window;
    bool released = false, ended = false;
    const auto note = [&](auto Change) {
        std::lock_guard guard(lock);
        Change();
        changed.notify_all();
    };
    ExtensionConnection::Handlers events;
    events.Hello = [&](const json& Description) { note([&] { hello = Description; }); };
    events.Start = [&](const Variant& Window) { note([&] { window = Window; }); };
    events.ReleaseApp = [&] { note([&] { released = true; }); };
    events.Ended = [&](const std::string&) { note([&] { ended = true; }); };
    const auto connection = ExtensionConnection::Open(0, 1, std::move(events));
    connection->CallTimeout = std::chrono::seconds(20);

    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return hello || ended; });
    if (!hello) {
        out << "end: the extension did not say hello\n";
        return 1;
    }
    connection->Send({{"type", "hello"}, {"description", *hello}});
    changed.wait(guard, [&] { return window || ended; });
    if (!window) {
        out << "end: the extension did not start\n";
        return 1;
    }
    const Variant page = *window;
    guard.unlock();

    // Calls wait for replies that the reader thread takes in: not under the lock.
    std::size_t broken = 0;
    try {
        out << "selection: "
            << page.Get("document").Get("selection").Get("createRange").Get("text").ToText()
            << "\n";
        for (const std::string& rule : check::CheckBridgeRules(page)) {
            out << "broken: " << rule << "\n";
            ++broken;
        }
    } catch (const std::exception& e) {
        out << "broken: " << e.what() << "\n";
        ++broken;
    }
    connection->Send({{"type", "started"}});
    // Until releaseApp the extension still talks to us.
    guard.lock();
    changed.wait_for(guard, std::chrono::seconds(10), [&] { return released || ended; });
    guard.unlock();
    out << "end: " << broken << " broken\n";
    out.close();
    connection->Close();
    return broken == 0 ? 0 : 1;
}
