// Serves the demo site on 127.0.0.1: the files of a folder, a page behind a
// password (user "demo", password "demo") and a moved page that redirects.
// In the pages of frames/, "@OTHER_SITE@" stands for this server under its
// other name (http://localhost:PORT when asked as 127.0.0.1, and back), so
// that they can hold a frame of another site.
//
//   larkspool-demo-server SITE_FOLDER [PORT [STALLED_PATH]]  (port 0: any free one)
// Prints the site's address on its first line, then serves until killed.
// A request for STALLED_PATH (tests of interrupting a save) gets no answer
// for a minute.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: larkspool-demo-server SITE_FOLDER [PORT]\n");
        return 2;
    }
    httplib::Server server;
    server.set_tcp_nodelay(true);
    const std::string stalled = argc > 3 ? argv[3] : "";
    const std::string site = argv[1];
    server.set_pre_routing_handler(
        [&stalled, &site](const httplib::Request& req, httplib::Response& res) {
            if (!stalled.empty() && req.path == stalled)
                std::this_thread::sleep_for(std::chrono::minutes(1));
            if (req.path.rfind("/private/", 0) == 0 &&
                req.get_header_value("Authorization") != "Basic ZGVtbzpkZW1v") { // demo:demo
                res.status = 401;
                res.set_header("WWW-Authenticate", "Basic realm=\"Larkspool demo\"");
                res.set_content("<html><body>A password is needed.</body></html>", "text/html");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.path.rfind("/frames/", 0) == 0 && req.path.ends_with(".html") &&
                req.path.find("..") == std::string::npos) {
                std::ifstream in(site + req.path, std::ios::binary);
                if (!in)
                    return httplib::Server::HandlerResponse::Unhandled;
                std::string page{std::istreambuf_iterator<char>(in), {}};
                const std::string host = req.get_header_value("Host");
                const std::string port = host.substr(host.rfind(':') + 1);
                const std::string other =
                    (host.rfind("localhost", 0) == 0 ? "http://127.0.0.1:" : "http://localhost:") +
                    port;
                for (std::size_t at; (at = page.find("@OTHER_SITE@")) != std::string::npos;)
                    page.replace(at, 12, other);
                res.set_content(page, "text/html");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.path == "/old-notes.html") {
                res.set_redirect("/notes.html", 301);
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    server.set_file_extension_and_mimetype_mapping("svg", "image/svg+xml");
    server.set_file_extension_and_mimetype_mapping("zip", "application/zip");
    if (!server.set_mount_point("/", argv[1])) {
        std::fprintf(stderr, "larkspool-demo-server: no folder \"%s\"\n", argv[1]);
        return 2;
    }
    const int wanted = argc > 2 ? std::atoi(argv[2]) : 0;
    const int port = wanted > 0 ? (server.bind_to_port("127.0.0.1", wanted) ? wanted : -1)
                                : server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "larkspool-demo-server: cannot listen on 127.0.0.1:%d\n", wanted);
        return 1;
    }
    std::printf("http://127.0.0.1:%d/\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
