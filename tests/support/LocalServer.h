#pragma once

// Web servers on 127.0.0.1 for tests, each on a port of its own.
//
// LocalServer (cpp-httplib, one thread per connection) serves these routes:
//   /plain         a short HTML page
//   /large/N       N bytes, byte i being LargeBodyByte(i)
//   /empty         an empty body
//   /zero          "ab\0cd" (5 bytes)
//   /echo          GET, POST, PUT: the method, the request headers as
//                  "Name: value" lines, a blank line, then the body
//   /basic         Basic authentication as LocalServer::User / Password
//   /digest        Digest authentication (MD5, qop=auth), same credentials
//   /status/N      status N, body "status N"
//   /redirect?to=URL[&code=N]   a redirect (302 by default) to URL
//   /chain/N       a redirect to /chain/N-1; /chain/0 answers "end of chain"
//   /loop          a redirect to itself
//   /stall         the head of a 1000-byte body, then nothing until the server
//                  is destroyed
// Extra routes can be added by the caller; ProxyRoutes() turns a server into
// a forward proxy that asks for Basic credentials.
//
// RawServer answers each connection with bytes of the caller's choice, for
// requests a library server would not take apart as sent (a GET with a body).
//
// Destroying a server waits for its idle client connections to end, so close
// the client's handles first, or wait up to the one-second keep-alive timeout.
//
// Creating the first server adds 127.0.0.1 and localhost to no_proxy, so a
// proxy configured in the environment never sees the tests' requests.

#include "support/TestCertificates.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace larkspool::check {

inline char LargeBodyByte(std::size_t Offset) {
    return static_cast<char>(Offset % 251);
}

struct SeenRequest {
    std::string Method, Target;
    httplib::Headers Headers;
    int RemotePort = 0;
};

class LocalServer {
public:
    using Routes = std::function<void(httplib::Server&)>;
    static constexpr const char* User = "user";
    static constexpr const char* Password = "secret";

    // With Tls, an https server presenting that identity.
    explicit LocalServer(const Routes& Extra = {}, const TlsIdentity* Tls = nullptr);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int Port() const { return BoundPort; }
    // "http://127.0.0.1:PORT" (or https) followed by Path.
    std::string Url(const std::string& Path) const;

    std::vector<SeenRequest> Seen() const;
    // Number of distinct client connections that have sent requests.
    std::size_t Connections() const;
    // Bytes of /large bodies the server has managed to write so far.
    std::size_t LargeBytesWritten() const { return LargeWritten; }

    static Routes ProxyRoutes(std::string ProxyUser, std::string ProxyPassword);

private:
    void AddStandardRoutes();

    std::unique_ptr<httplib::Server> Server;
    bool Secure = false;
    int BoundPort = 0;
    std::thread Thread;
    mutable std::mutex Lock;
    std::condition_variable Stopping;
    bool Stopped = false;
    std::vector<SeenRequest> Requests;
    std::set<int> Ports;
    std::atomic<std::size_t> LargeWritten{0};
};

class RawServer {
public:
    // Answer gets the request as received (head and Content-Length body) and
    // returns the bytes to send back; the connection is closed afterwards.
    using Responder = std::function<std::string(const std::string& Request)>;
    explicit RawServer(Responder Answer);
    ~RawServer();

    int Port() const { return BoundPort; }
    std::vector<std::string> Requests() const;

private:
    void Serve();

    Responder Answer;
    int Listener = -1;
    int BoundPort = 0;
    std::thread Thread;
    mutable std::mutex Lock;
    std::vector<std::string> Received;
    std::atomic<bool> Done{false};
};

// A port on 127.0.0.1 where nothing listens.
int UnusedPort();

} // namespace larkspool::check
