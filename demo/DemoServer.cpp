// Serves the demo site on 127.0.0.1: the files of a folder, a page behind a
// password (user "demo", password "demo"), a members' area behind a login
// form and its session cookie (LoginRoutes.h) and a moved page that
// redirects.
// In its pages, "@OTHER_SITE@" stands for this server under its other name
// (http://localhost:PORT when asked as 127.0.0.1, and back), so that they can
// hold a frame of another site; "@OTHER_HOST@" is that name without the
// scheme (localhost:PORT), for protocol-relative addresses.
//
//   larkspool-demo-server SITE_FOLDER [PORT [STALLED_PATH]]  (port 0: any free one)
// Prints the site's address on its first line, then serves until killed.
// A request for STALLED_PATH (tests of interrupting a save) gets no answer
// for a minute. With LARKSPOOL_DEMO_CERT and LARKSPOOL_DEMO_KEY (PEM files)
// the same site is also served over https on another free port, whose
// address is the second line. Addresses under /x/ answer as a hostile server
// would (HostileRoutes.h). With LARKSPOOL_DEMO_REQUEST_LOG=FILE every answer
// adds a line "STATUS TARGET" to FILE, the target (path and query) raw as
// asked, so that tests can tell what a save fetched and from where.
// Text files (text/*, SVG, JavaScript, JSON, XML) go out compressed, br or
// gzip, to a client that accepts it, as from a real server: the library
// does it, being built with zlib and brotli. Files are read whole into
// memory to be served, so this is no server for very large files.
#include "HostileRoutes.h"
#include "LoginRoutes.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

// The request log: answers come from the servers' worker threads, and each
// line is flushed so that a test reads what was answered before it stopped
// the server.
struct RequestLog {
    std::FILE* File = nullptr;
    std::mutex Lock;

    void Add(const httplib::Request& Req, const httplib::Response& Res) {
        const std::string& target = Req.target.empty() ? Req.path : Req.target;
        const std::lock_guard<std::mutex> hold(Lock);
        std::fprintf(File, "%d %s\n", Res.status, target.c_str());
        std::fflush(File);
    }
};

void Configure(httplib::Server& Server, const std::string& Stalled, const HostileSite& Site,
               RequestLog& Log) {
    Server.set_tcp_nodelay(true);
    if (Log.File)
        Server.set_logger([&Log](const httplib::Request& req, const httplib::Response& res) {
            Log.Add(req, res);
        });
    Server.set_pre_routing_handler(
        [&Stalled, &Site](const httplib::Request& req, httplib::Response& res) {
            if (!Stalled.empty() && req.path == Stalled)
                std::this_thread::sleep_for(std::chrono::minutes(1));
            if (req.path.rfind("/private/", 0) == 0 &&
                req.get_header_value("Authorization") != "Basic ZGVtbzpkZW1v") { // demo:demo
                res.status = 401;
                res.set_header("WWW-Authenticate", "Basic realm=\"Larkspool demo\"");
                res.set_content("<html><body>A password is needed.</body></html>", "text/html");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (ServeMembers(req, res))
                return httplib::Server::HandlerResponse::Handled;
            if (req.path == "/old-notes.html") {
                res.set_redirect("/notes.html", 301);
                return httplib::Server::HandlerResponse::Handled;
            }
            return ServeHostile(Site, req, res) ? httplib::Server::HandlerResponse::Handled
                                                : httplib::Server::HandlerResponse::Unhandled;
        });
    AddMemberRoutes(Server);
    Server.set_file_extension_and_mimetype_mapping("svg", "image/svg+xml");
    Server.set_file_extension_and_mimetype_mapping("zip", "application/zip");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: larkspool-demo-server SITE_FOLDER [PORT [STALLED_PATH]]\n");
        return 2;
    }
    const std::string stalled = argc > 3 ? argv[3] : "";
    HostileSite site{argv[1], {}};
    RequestLog log;
    if (const char* logName = std::getenv("LARKSPOOL_DEMO_REQUEST_LOG")) {
        log.File = std::fopen(logName, "a");
        if (!log.File) {
            std::fprintf(stderr, "larkspool-demo-server: cannot write the request log %s\n",
                         logName);
            return 2;
        }
    }
    httplib::Server server;
    Configure(server, stalled, site, log);
    if (!server.set_mount_point("/", argv[1])) {
        std::fprintf(stderr, "larkspool-demo-server: no folder \"%s\"\n", argv[1]);
        return 2;
    }
    std::unique_ptr<httplib::SSLServer> tls;
    const char* cert = std::getenv("LARKSPOOL_DEMO_CERT");
    const char* key = std::getenv("LARKSPOOL_DEMO_KEY");
    if (cert && key) {
        tls = std::make_unique<httplib::SSLServer>(cert, key);
        if (!tls->is_valid()) {
            std::fprintf(stderr, "larkspool-demo-server: cannot use the certificate %s\n", cert);
            return 2;
        }
        Configure(*tls, stalled, site, log);
        tls->set_mount_point("/", argv[1]);
        const int tlsPort = tls->bind_to_any_port("127.0.0.1");
        site.TlsOrigin = "https://127.0.0.1:" + std::to_string(tlsPort) + "/";
        std::thread([&tls] { tls->listen_after_bind(); }).detach();
    }
    const int wanted = argc > 2 ? std::atoi(argv[2]) : 0;
    const int port = wanted > 0 ? (server.bind_to_port("127.0.0.1", wanted) ? wanted : -1)
                                : server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "larkspool-demo-server: cannot listen on 127.0.0.1:%d\n", wanted);
        return 1;
    }
    std::printf("http://127.0.0.1:%d/\n", port);
    if (tls)
        std::printf("%s\n", site.TlsOrigin.c_str());
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
