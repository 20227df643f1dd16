#pragma once

// Whole runs of the download driver against a server started here, with the
// page read from an in-memory window and the Qt main loop of the program.

#include "run/DownloadRun.h"

#include "platform/AtomicFile.h"

#include "browser/MemoryObjects.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include "support/LocalServer.h"
#include "support/TempFolder.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace larkspool::check {

struct Observer : IRunObserver {
    std::vector<std::string> Statuses, Problems;
    std::string Title;
    bool Closed = false;
    int Position = 0, Max = 0;
    void StatusChanged(const std::string& Text) override { Statuses.push_back(Text); }
    void ProgressChanged(int P, int M) override {
        Position = P;
        Max = M;
    }
    void ItemChanged(const std::string&, const std::string&) override {}
    void TitleChanged(const std::string& T) override { Title = T; }
    void ProblemReported(const std::string& URL, const std::string& Reason) override {
        Problems.push_back(URL + ": " + Reason);
    }
    void RunClosed() override { Closed = true; }
};

struct Prompt : ICredentialsPrompt {
    std::vector<std::string> Sites;
    std::function<void()> WhileOpen; // what happens while the user reads
    bool AskCredentials(const std::string& Site, std::string& User, std::string& Pass) override {
        Sites.push_back(Site);
        if (WhileOpen)
            WhileOpen();
        User = LocalServer::User;
        Pass = LocalServer::Password;
        return true;
    }
};

// A small site whose answers take different times, so that requests made
// at once end in another order than they were made: pages linking pictures
// (one of them under a name another picture already has), style sheets
// with imports and backgrounds, redirects and missing files.
inline void SiteRoutes(httplib::Server& s) {
    const auto later = [](int Key) {
        std::this_thread::sleep_for(std::chrono::milliseconds((Key * 37) % 7 * 4));
    };
    s.Get(R"(/site/p(\d+)\.htm)", [later](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        later(n);
        std::string html = "<html><head><link rel=stylesheet href=\"s" + std::to_string(n % 3) +
                           ".css\"></head><body>";
        for (int k = 0; k < 4; ++k)
            html += "<img src=\"i" + std::to_string((n * 7 + k) % 25) + ".png\">";
        html += "<img src=\"d/i1.png\"><img src=\"r" + std::to_string(n % 4) + ".gif\">";
        if (n % 5 == 0)
            html += "<img src=\"missing" + std::to_string(n) + ".png\">";
        html += "<a href=\"p" + std::to_string(n + 1) + ".htm\">next</a></body></html>";
        res.set_content(html, "text/html");
    });
    s.Get(R"(/site/i(\d+)\.png)", [later](const httplib::Request& req, httplib::Response& res) {
        const int k = std::stoi(req.matches[1]);
        later(k + 3);
        std::string body(1000 + static_cast<std::size_t>(k) * 37, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(k)) % 256);
        res.set_content(body, "image/png");
    });
    s.Get("/site/d/i1.png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("another picture called i1", "image/png");
    });
    s.Get(R"(/site/r(\d+)\.gif)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("/site/moved" + std::string(req.matches[1]) + ".png");
    });
    s.Get(R"(/site/moved(\d+)\.png)", [later](const httplib::Request& req, httplib::Response& res) {
        later(std::stoi(req.matches[1]));
        res.set_content("moved " + std::string(req.matches[1]), "image/png");
    });
    s.Get(R"(/site/s(\d+)\.css)", [later](const httplib::Request& req, httplib::Response& res) {
        const std::string m = req.matches[1];
        later(std::stoi(m) + 1);
        res.set_content("@import \"t" + m + ".css\";\nbody{background:url(bg" + m + ".png)}",
                        "text/css");
    });
    s.Get(R"(/site/t(\d+)\.css)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("h1{background:url(i" + std::string(req.matches[1]) + ".png)}", "text/css");
    });
    s.Get(R"(/site/bg(\d+)\.png)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("bg " + std::string(req.matches[1]), "image/png");
    });
}

inline void Routes(httplib::Server& s) {
    s.Get("/a.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><link rel=stylesheet href=\"css/s.css\"><img src=img/p.png>"
                        "<a href=\"b.php\">b</a></html>",
                        "text/html; charset=utf-8");
    });
    s.Get("/b.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><a href=a.htm>a</a></html>", "text/html");
    });
    s.Get("/img/a.gif", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("GIF89a", "image/gif");
    });
    s.Get("/img/p.png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("\x89PNG\0\0", 6), "image/png");
    });
    s.Get("/css/s.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("body{}", "text/css");
    });
    s.Get("/missing.htm", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>Sorry</html>", "text/html");
    });
    s.Get("/img/missing.gif", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>Sorry</html>", "text/html");
    });
    // A body without end, as fast as the connection takes it.
    s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [](std::size_t, httplib::DataSink& sink) {
                                             const std::string block(64 * 1024, 'e');
                                             return sink.write(block.data(), block.size());
                                         });
    });
    // A byte every 100 ms, without end; of a type the server does not
    // compress, which would hold the bytes back.
    s.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("image/png", [](std::size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return sink.write("t", 1);
        });
    });
    SiteRoutes(s);
    // 8 MiB of text, a few KB once compressed.
    s.Get("/bomb", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(8 << 20, 'a'), "text/plain");
    });
    // A first block, 1.2 s of silence, then the rest.
    s.Get("/drip", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "text/html", [](std::size_t Offset, httplib::DataSink& sink) {
                if (Offset > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
                    sink.write("</html>", 7);
                    sink.done();
                    return true;
                }
                return sink.write("<html>drip", 10);
            });
    });
    // A head of 20 KB, then of 1 MB, in lines of 8 KB.
    for (const int lines : {3, 128})
        s.Get("/head" + std::to_string(lines),
              [lines](const httplib::Request&, httplib::Response& res) {
                  for (int i = 0; i < lines; ++i)
                      res.set_header("X-Filler-" + std::to_string(i), std::string(8000, 'f'));
                  res.set_content("long head", "text/plain");
              });
}

class DownloadRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        OutputFolder = Output.Path() + "/";
        Settings = TSettings{};
        Settings.ShowPictures = true;
        Settings.Extensions = "zip";
        StartPageURL = Web.Url("/index.html");
        StartPageTitle = "Index";
        Page.Url = StartPageURL;
        Page.Title = "Index";
        Page.Html = "<html><head><meta charset=\"utf-8\"></head><body><img src=\"img/a.gif\">"
                    "<a href=\"a.htm\">a</a> <a href=b.php>b</a> <a href=c.htm>c</a></body></html>";
        Page.Images = {Web.Url("/img/a.gif")};
    }

    // The names and bytes of every file in the output folder.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(OutputFolder))
            files[entry.path().filename().string()] = ReadWholeFile(entry.path().string());
        return files;
    }
    // Files a run left under a temporary name.
    int Leftovers() const {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(OutputFolder))
            n += entry.path().filename().string().rfind(".larkspool-", 0) == 0;
        return n;
    }

    // Runs a save of the page with the given links until the run closes.
    void Save(const std::vector<std::string>& Links,
              const std::function<void(DownloadRun&)>& During = {}) {
        const Variant window(MakeMemoryWindow(Page));
        List = std::make_unique<TLister>(window);
        for (const std::string& link : Links) // paths on the server, or whole addresses
            List->AddLink(link.starts_with("http") ? link : Web.Url(link), link);
        Seen = Observer{};
        DownloadRun run(*List, window, Seen, &Asker);
        if (Prepare)
            Prepare(run);
        run.Start();
        if (During)
            During(run);
        ASSERT_TRUE(WaitFor([&] { return Seen.Closed; }));
        Received = run.TotalReceived();
    }
    // Set before Save: what the run is told before it starts.
    std::function<void(DownloadRun&)> Prepare;
    std::int64_t Received = 0; // by the last Save
    std::string Read(const std::string& Name) const { return Output.Read(Name); }
    // Requests for Path, with or without a query.
    int Requests(const std::string& Path) const {
        int n = 0;
        for (const auto& r : Web.Seen())
            n += r.Target == Path || r.Target.rfind(Path + "?", 0) == 0;
        return n;
    }

    LocalServer Web{Routes};
    check::TempFolder Output{"larkspool-run"};
    MemoryPage Page;
    std::unique_ptr<TLister> List;
    Observer Seen;
    Prompt Asker;
};

} // namespace larkspool::check
