// Whole runs of the download driver, one item at a time and with requests
// ahead of the run.
#include "run/RunFixture.h"

#include "platform/wininet/TrustedCa.h"

#include "support/TestCertificates.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace larkspool;
using namespace larkspool::check;

TEST(DownloadRunTexts, ContentTypeTest) {
    EXPECT_TRUE(DownloadRun::IsTextResponse({"HTTP/1.1 200 OK", "Content-Type: text/html; x", ""}));
    EXPECT_TRUE(
        DownloadRun::IsTextResponse({"Content-Type: image/jpeg", "content-type:text/html"}));
    EXPECT_FALSE(
        DownloadRun::IsTextResponse({"Content-Type: text/html", "Content-Type: image/gif"}));
    EXPECT_FALSE(DownloadRun::IsTextResponse({"X-Content-Type: text/html"}));
    EXPECT_FALSE(DownloadRun::IsTextResponse({}));
}

TEST(DownloadRunTexts, StatusLineAndItsRounding) {
    EXPECT_EQ(DownloadRun::StatusText(1, 4, "Save pictures", 512),
              "25% Save pictures (512 bytes received)");
    EXPECT_EQ(DownloadRun::StatusText(1, 8, "Save Web Pages", 0),
              "12% Save Web Pages (0 bytes received)");
    EXPECT_EQ(DownloadRun::StatusText(3, 8, "Save Web Pages", 0),
              "38% Save Web Pages (0 bytes received)");
    EXPECT_EQ(DownloadRun::StatusText(2, 4, "Relink files", 99), "50% Relink files");
    EXPECT_EQ(DownloadRun::StatusText(0, 0, "Save Web Pages", 0),
              "0% Save Web Pages (0 bytes received)");
}

TEST_F(DownloadRunTest, WholeRunStoresClassifiesLogsAndRelinks) {
    Save({"/a.htm", "/b.php"});
    EXPECT_TRUE(Seen.Problems.empty()) << Seen.Problems.front();
    EXPECT_EQ(Read("a.htm").rfind("<html>", 0), 0u);
    EXPECT_NE(Read("INDEX.HTML").find("<a href=\"a.htm\">a</a> <a href=\"b.php.htm\">b</a>"),
              std::string::npos)
        << Read("INDEX.HTML");
    EXPECT_NE(Read("INDEX.HTML").find("<img src=\"a.gif\">"), std::string::npos);
    EXPECT_NE(Read("a.htm").find("<img src=\"p.png\">"), std::string::npos);
    EXPECT_NE(Read("a.htm").find("href=\"s.css\""), std::string::npos);
    EXPECT_EQ(Read("s.css"), "body{}");
    EXPECT_EQ(List->Pages()[1].State, stRelinked);
    EXPECT_EQ(List->Pictures()[0].State, stSavedOther);
    EXPECT_EQ(List->Stylesheets()[0].State, stSavedText);
    EXPECT_EQ(Read("lkspl.log").size(), 3u * 152u); // a.htm, b.php.htm, s.css
    ASSERT_FALSE(Seen.Statuses.empty());
    EXPECT_EQ(Seen.Statuses.back(), "100% Relink files");
    EXPECT_NE(Seen.Statuses.front().find(" bytes received)"), std::string::npos);
    EXPECT_EQ(Seen.Title, "100% Larkspool: Index");
}

TEST_F(DownloadRunTest, NothingToFetchStillWritesLogAndRelinks) {
    Settings.ShowPictures = false;
    Page.Images.clear();
    Save({});
    EXPECT_TRUE(Web.Seen().empty());
    EXPECT_TRUE(std::filesystem::exists(OutputFolder + "lkspl.log"));
    EXPECT_NE(Read("INDEX.HTML").find("javascript:if (confirm("), std::string::npos);
}

TEST_F(DownloadRunTest, SecondSaveTakesOverWhatTheFirstStored) {
    Save({"/a.htm", "/b.php"});
    const std::string first = Read("a.htm");
    Settings.SaveExistF = true;
    Save({"/a.htm", "/b.php"});
    EXPECT_EQ(Requests("/a.htm"), 1);
    EXPECT_EQ(Requests("/b.php"), 1);
    EXPECT_EQ(Requests("/css/s.css"), 1);
    EXPECT_EQ(Requests("/img/a.gif"), 2); // pictures are not in the log
    EXPECT_EQ(List->Pages()[1].State, stRelinked);
    EXPECT_EQ(Read("a.htm"), first);
}

TEST_F(DownloadRunTest, SkipStopAndAbortOnAStalledItem) {
    Save({"/stall", "/a.htm"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == 1; }));
        run.SkipCurrent();
    });
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);

    Save({"/stall", "/a.htm"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == 2; }));
        run.Stop();
    });
    EXPECT_EQ(List->Pages()[1].State, stToDownload);
    EXPECT_EQ(List->Pages()[2].State, stToDownload);
    EXPECT_EQ(List->Pages()[0].State, stRelinked);

    std::filesystem::remove(OutputFolder + "lkspl.log");
    Save({"/stall"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == 3; }));
        run.Abort();
    });
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "lkspl.log"));
    EXPECT_EQ(List->Pages()[0].State, stFromDocument);
}

TEST_F(DownloadRunTest, AutoSkipEndsAStalledItem) {
    Settings.AutoSkip = true;
    Settings.SkipSec = 1;
    const auto start = std::chrono::steady_clock::now();
    Save({"/stall", "/a.htm"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
}

// A request to a server that is not there is reported; it waits for the
// user (the window), or where nobody is watching it is skipped.
TEST_F(DownloadRunTest, AFailedRequestWaitsUnlessFailuresAreSkipped) {
    const Variant window(MakeMemoryWindow(Page));
    for (const bool skip : {false, true}) {
        List = std::make_unique<TLister>(window);
        List->AddLink("http://127.0.0.1:1/gone.htm", "gone"); // nothing listens there
        List->AddLink(Web.Url("/a.htm"), "a");
        Seen = Observer{};
        DownloadRun run(*List, window, Seen, &Asker);
        run.SkipFailedRequests = skip;
        run.Start();
        if (!skip) {
            EXPECT_FALSE(WaitFor([&] { return Seen.Closed; }, std::chrono::milliseconds(700)));
            EXPECT_EQ(List->Pages()[1].State, stToDownload);
            ASSERT_EQ(Seen.Problems.size(), 1u);
            EXPECT_NE(Seen.Problems[0].find("gone.htm: not fetched: "), std::string::npos);
            run.Stop();
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return Seen.Closed; }));
        EXPECT_EQ(List->Pages()[1].State, stSkipped);
        EXPECT_EQ(List->Pages()[2].State, stRelinked);
        ASSERT_EQ(Seen.Problems.size(), 1u);
        EXPECT_NE(Seen.Problems[0].find("gone.htm"), std::string::npos) << Seen.Problems[0];
    }
}

TEST_F(DownloadRunTest, AFailedStoreIsReportedAndTheRunGoesOn) {
    std::filesystem::create_directory(OutputFolder + "a.htm"); // cannot be replaced
    Save({"/a.htm", "/b.php"});
    ASSERT_EQ(Seen.Problems.size(), 1u);
    EXPECT_NE(Seen.Problems[0].find("a.htm"), std::string::npos);
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    EXPECT_NE(Read("INDEX.HTML").find("because it is skipped"), std::string::npos);
}

TEST_F(DownloadRunTest, RefusedCredentialsAreAskedForWithTheSite) {
    Save({"/basic"});
    ASSERT_EQ(Asker.Sites.size(), 1u);
    EXPECT_EQ(Asker.Sites[0], Web.Url("/"));
    EXPECT_EQ(List->Pages()[1].State, stRelinked);
}

// Addresses the component refuses end the item wherever they come, in the
// window and where nobody watches alike.
TEST_F(DownloadRunTest, RefusedAddressesAreReportedAndSkipped) {
    const std::string tooLong = "/" + std::string(3000, 'a') + ".htm";
    for (const bool skipFailures : {false, true}) {
        SCOPED_TRACE(skipFailures);
        Prepare = [&](DownloadRun& Run) { Run.SkipFailedRequests = skipFailures; };
        const auto refused = [&](std::size_t Index) {
            EXPECT_EQ(List->Pages()[Index].State, stSkipped);
            ASSERT_EQ(Seen.Problems.size(), 1u);
            EXPECT_NE(Seen.Problems[0].find("not fetched: The address is too long"),
                      std::string::npos)
                << Seen.Problems[0];
        };
        Settings.SaveExistF = false;
        Save({tooLong, "/a.htm"}); // the first item
        refused(1);
        EXPECT_EQ(List->Pages()[2].State, stRelinked);

        Save({"/a.htm", tooLong, "/b.php"}); // after a completed request
        refused(2);
        EXPECT_EQ(List->Pages()[3].State, stRelinked);

        const int stalls = Requests("/stall");
        Save({"/stall", tooLong}, [&](DownloadRun& run) { // after a Skip
            ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == stalls + 1; }));
            run.SkipCurrent();
        });
        refused(2);

        Settings.SaveExistF = true; // a.htm of the first save is taken over
        Save({"/a.htm", tooLong});
        refused(2);
        EXPECT_EQ(List->Pages()[1].State, stRelinked);
    }
}

// Links, pictures and style sheets with another scheme are never fetched,
// and anchors keep their value in the copy.
TEST_F(DownloadRunTest, OtherSchemesAreNeitherFetchedNorBroken) {
    Page.Html = "<html><body><img src=\"data:image/gif;base64,R0lGODlh\">"
                "<img src=\"ftp://127.0.0.1/p.gif\"><a href=\"javascript:go()\">j</a>"
                "<a href=\"ftp://127.0.0.1/f.zip\">f</a><a href=\"a.htm\">a</a></body></html>";
    Page.Images = {"data:image/gif;base64,R0lGODlh", "ftp://127.0.0.1/p.gif"};
    const Variant window(MakeMemoryWindow(Page));
    List = std::make_unique<TLister>(window);
    for (const char* link : {"javascript:go()", "data:text/html,x", "ftp://127.0.0.1/f.zip",
                             "file:///etc/hostname", "android-app://x.y/http/h"})
        List->AddLink(link, link);
    List->AddLink(Web.Url("/a.htm"), "a");
    DownloadRun run(*List, window, Seen, &Asker);
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return Seen.Closed; }));
    EXPECT_TRUE(Seen.Problems.empty()) << Seen.Problems.front();
    const std::string index = Read("INDEX.HTML");
    for (const char* kept :
         {"src=\"data:image/gif;base64,R0lGODlh\"", "src=\"ftp://127.0.0.1/p.gif\"",
          "href=\"javascript:go()\"", "href=\"ftp://127.0.0.1/f.zip\"", "href=\"a.htm\""})
        EXPECT_NE(index.find(kept), std::string::npos) << kept << " in " << index;
}

// An answer outside 2xx is not the item: reported with its status, not
// stored, and relinked as not saved.
TEST_F(DownloadRunTest, ErrorAnswersAreReportedAndNotStored) {
    Page.Html = "<html><body><img src=\"img/missing.gif\"><a href=\"missing.htm\">m</a>"
                "<a href=\"a.htm\">a</a></body></html>";
    Page.Images = {Web.Url("/img/missing.gif")};
    Save({"/missing.htm", "/a.htm"});
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "missing.htm"));
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "missing.gif"));
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    EXPECT_EQ(List->Pictures()[0].State, stSkipped);
    ASSERT_EQ(Seen.Problems.size(), 2u);
    EXPECT_EQ(Seen.Problems[0], Web.Url("/missing.htm") + ": not fetched: HTTP 404 Not Found");
    EXPECT_EQ(Seen.Problems[1], Web.Url("/img/missing.gif") + ": not fetched: HTTP 404 Not Found");
    const std::string index = Read("INDEX.HTML");
    EXPECT_NE(index.find("because it is skipped"), std::string::npos) << index;
    // the picture that was not stored is fetched from the server offline
    EXPECT_NE(index.find("<img src=\"" + Web.Url("/img/missing.gif") + "\">"), std::string::npos)
        << index;
}

// A large head is read whole; one too large for the layer is a failure with
// words, never an empty file.
TEST_F(DownloadRunTest, LargeHeadsAreReadOrFailWithAReason) {
    // (A request that fails waits for the user in the window; nobody
    // watches here.)
    Prepare = [](DownloadRun& Run) { Run.SkipFailedRequests = true; };
    Save({"/a.htm", "/head3", "/head128"});
    EXPECT_EQ(Read("head3.htm"), "long head");
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    EXPECT_EQ(List->Pages()[3].State, stSkipped);
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "head128.htm"));
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "head128"));
    ASSERT_EQ(Seen.Problems.size(), 1u);
    const std::string prefix = Web.Url("/head128") + ": not fetched: ";
    EXPECT_EQ(Seen.Problems[0].rfind(prefix, 0), 0u) << Seen.Problems[0];
    EXPECT_EQ(Seen.Problems[0], prefix + "The server returned an invalid or unrecognized response");
}

// A server that sends without end does not exhaust the memory: the file is
// given up past the limit, and the run goes on.
TEST_F(DownloadRunTest, AFileWithoutEndIsGivenUpPastTheLimit) {
    for (const bool skipFailures : {false, true}) {
        Prepare = [&](DownloadRun& Run) {
            Run.SkipFailedRequests = skipFailures;
            Run.MaxFileBytes = 4 * 1024 * 1024;
        };
        Save({"/endless", "/b.php"});
        EXPECT_EQ(List->Pages()[1].State, stSkipped);
        EXPECT_EQ(List->Pages()[2].State, stRelinked);
        EXPECT_FALSE(std::filesystem::exists(OutputFolder + "endless"));
        ASSERT_EQ(Seen.Problems.size(), 1u);
        EXPECT_EQ(Seen.Problems[0],
                  Web.Url("/endless") + ": not fetched: larger than 4194304 bytes");
        EXPECT_LT(Received, 64 * 1024 * 1024);
    }
}

// The limit holds for what a compressed body becomes on the disk, not only
// for what it costs on the wire.
TEST_F(DownloadRunTest, ACompressedBodyIsMeasuredDecoded) {
    Prepare = [](DownloadRun& Run) {
        Run.SkipFailedRequests = true;
        Run.MaxFileBytes = 1 << 20;
    };
    Save({"/bomb", "/b.php"});
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    ASSERT_EQ(Seen.Problems.size(), 1u);
    EXPECT_EQ(Seen.Problems[0], Web.Url("/bomb") + ": not fetched: larger than 1048576 bytes");
    EXPECT_LT(Received, 1 << 20); // it came compressed
    EXPECT_EQ(Leftovers(), 0);
}

// A server that trickles a byte now and then is never silent long enough for
// the countdown; the time limit ends the file, and the run goes on.
TEST_F(DownloadRunTest, AFileThatTricklesIsGivenUpAfterTheTimeLimit) {
    Settings.AutoSkip = true;
    Settings.SkipSec = 1;
    Prepare = [](DownloadRun& Run) {
        Run.SkipFailedRequests = true;
        Run.MaxFileTime = std::chrono::seconds(2);
    };
    Save({"/trickle", "/b.php"});
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    ASSERT_EQ(Seen.Problems.size(), 1u);
    EXPECT_EQ(Seen.Problems[0], Web.Url("/trickle") + ": not fetched: not finished after 2 s");
}

// Redirects between http and https are followed both ways; credentials given
// for one server do not follow to the other.
TEST_F(DownloadRunTest, RedirectsBetweenHttpAndHttpsAreFollowed) {
    SetTrustedCaFile(check::TestAuthority::Shared().CaFile());
    {
        LocalServer tls(Routes, &check::TestAuthority::Shared().Valid());
        const auto via = [](const LocalServer& From, const std::string& To) {
            return From.Url("/redirect?to=" + To);
        };
        const Variant window(MakeMemoryWindow(Page));
        List = std::make_unique<TLister>(window);
        List->AddLink(via(Web, tls.Url("/b.php")), "to https");
        List->AddLink(via(tls, Web.Url("/a.htm")), "to http");
        List->AddLink(via(Web, tls.Url("/basic")), "credentials");
        Settings.UserS = LocalServer::User;
        Settings.PassS = LocalServer::Password;
        DownloadRun run(*List, window, Seen, &Asker);
        run.SkipFailedRequests = true;
        run.Start();
        ASSERT_TRUE(WaitFor([&] { return Seen.Closed; }));
        EXPECT_EQ(List->Pages()[1].State, stRelinked);
        EXPECT_EQ(List->Pages()[2].State, stRelinked);
        EXPECT_EQ(List->Pages()[3].State, stSkipped);
        for (const auto& request : tls.Seen())
            EXPECT_EQ(request.Headers.count("Authorization"), 0u) << request.Target;
        EXPECT_GT(Asker.Sites.size(), 0u);
        run.AdvHttp.Abort();
    }
    SetTrustedCaFile("");
}
