// The HTTP component against the curl command, on the same local server in
// the same run: many sequential small GETs over one kept-alive connection,
// and one large body. Prints both times and their ratio.
//
//   http_bench [SMALL_GETS] [BODY_MEGABYTES]     (default 1000 and 500)
#include "http/AdvHttp.h"
#include "support/TempFolder.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

using namespace larkspool;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point Since) {
    return std::chrono::duration<double>(Clock::now() - Since).count();
}

double RunCurl(const std::string& Arguments) {
    const auto start = Clock::now();
    const std::string command = "curl -s --noproxy '*' " + Arguments;
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "curl failed: %s\n", command.c_str());
    return Seconds(start);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int gets = argc > 1 ? std::atoi(argv[1]) : 1000;
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 500;
    ::setenv("no_proxy", "*", 1);

    const std::string small = "<html><body>small page</body></html>";
    const std::string block(1 << 20, 'z');
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100000); // one connection for all the small GETs
    server.Get("/small", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(small, "text/html");
    });
    server.Get("/large", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(static_cast<size_t>(megabytes) << 20, "application/octet-stream",
                                 [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                     const size_t at = offset % block.size();
                                     sink.write(block.data() + at,
                                                std::min(length, block.size() - at));
                                     return true;
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    TAdvHttp http;
    http.DefaultUi = false;
    int done = 0;
    bool failed = false;
    http.OnError = [&](TAdvHttp&) { failed = true; };
    const auto waitFor = [&](int count) {
        while (done < count && !failed)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };

    // Many small GETs, each started from the previous one's completion.
    http.OnRequestComplete = [&](TAdvHttp& h) {
        if (++done < gets)
            h.Execute(false);
    };
    http.SetURL(base + "/small");
    auto start = Clock::now();
    http.Execute(false);
    waitFor(gets);
    const double oursSmall = Seconds(start);

    const larkspool::check::TempFolder scratch("larkspool-http-bench");
    std::string urls;
    for (int i = 0; i < gets; ++i)
        urls += "url = \"" + base + "/small\"\noutput = \"/dev/null\"\n";
    const double curlSmall = RunCurl("-K " + scratch.Write("urls.txt", urls));

    // One large body, held in memory by the component as the program does.
    done = 0;
    http.OnRequestComplete = [&](TAdvHttp&) { ++done; };
    http.SetURL(base + "/large");
    start = Clock::now();
    http.Execute(false);
    waitFor(1);
    const double oursLarge = Seconds(start);
    const std::size_t received = http.ResponseStream.size();
    http.ResponseStream = std::string();
    const double curlLarge = RunCurl("-o /dev/null " + base + "/large");

    server.stop();
    listener.join();
    std::printf("%d small GETs: TAdvHttp %.3f s, curl %.3f s, ratio %.2f\n", gets, oursSmall,
                curlSmall, oursSmall / curlSmall);
    std::printf("%ld MB body: TAdvHttp %.3f s (%zu bytes), curl %.3f s, ratio %.2f\n", megabytes,
                oursLarge, received, curlLarge, oursLarge / curlLarge);
    return failed || received != static_cast<std::size_t>(megabytes) << 20 ? 1 : 0;
}
