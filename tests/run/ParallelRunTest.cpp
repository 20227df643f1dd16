// Runs that fetch several items at once: what the user sees and what is
// stored stay as with one request at a time.
#include "run/RunFixture.h"

#include <QEventLoop>
#include <QTimer>

using namespace larkspool;
using namespace larkspool::check;

namespace {

class ParallelRunTest : public DownloadRunTest {
protected:
    void SetUp() override {
        DownloadRunTest::SetUp();
        Settings.Connections = 6;
    }
    // Pages 0..19 of the site, and addresses that fail in three ways.
    std::vector<std::string> SiteLinks() const {
        std::vector<std::string> links;
        for (int n = 0; n < 20; ++n)
            links.push_back("/site/p" + std::to_string(n) + ".htm");
        links.insert(links.begin() + 7, "/site/missing.htm");
        links.insert(links.begin() + 12, "/status/500");
        return links;
    }
};

} // namespace

// Every stored byte, every name and the log are the same whether the items
// come one at a time or many at once, in whatever order they arrive.
TEST_F(ParallelRunTest, ManyAtOnceStoresExactlyWhatOneAtATimeStores) {
    Prepare = [](DownloadRun& Run) { Run.SkipFailedRequests = true; };
    Page.Html += "<img src=\"site/r1.gif\"><a href=\"http://127.0.0.1:1/gone.htm\">gone</a>";
    Page.Images.push_back(Web.Url("/site/r1.gif"));
    std::map<std::string, std::string> byConnections[2];
    std::vector<std::string> problems[2];
    for (const int connections : {1, 6}) {
        check::TempFolder folder{"larkspool-parallel"};
        OutputFolder = folder.Path() + "/";
        Settings.Connections = connections;
        std::vector<std::string> links = SiteLinks();
        Save(links, [&](DownloadRun& Run) { EXPECT_EQ(Run.Connections, connections); });
        const int slot = connections == 1 ? 0 : 1;
        byConnections[slot] = Files();
        problems[slot] = Seen.Problems;
        EXPECT_EQ(Leftovers(), 0);
    }
    // Something of each kind was stored, and the clash and redirects were met.
    ASSERT_GT(byConnections[0].size(), 60u);
    EXPECT_TRUE(byConnections[0].count("lkspl.log"));
    EXPECT_EQ(byConnections[0]["0i1.png"], "another picture called i1");
    EXPECT_EQ(byConnections[0]["i24.png"].size(), 1000u + 24u * 37u);
    EXPECT_EQ(byConnections[0]["moved1.png"], "moved 1");
    EXPECT_NE(byConnections[0]["p3.htm"].find("<img src=\"0i1.png\">"), std::string::npos);
    EXPECT_NE(byConnections[0]["s1.css"].find("bg1.png"), std::string::npos);
    EXPECT_EQ(byConnections[0], byConnections[1]);
    EXPECT_EQ(problems[0], problems[1]);
    // Each item was asked for once per run, not once per page naming it.
    EXPECT_EQ(Requests("/site/i3.png"), 2);
    EXPECT_EQ(Requests("/site/d/i1.png"), 2);
}

// Skip ends the item the run waits for; what came meanwhile for the items
// after it is taken over, not fetched again.
TEST_F(ParallelRunTest, SkipEndsTheCurrentItemAndKeepsWhatCameAhead) {
    Save({"/stall", "/a.htm", "/b.php"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/a.htm") == 1 && Requests("/b.php") == 1; }));
        EXPECT_EQ(List->Pages()[2].State, stToDownload); // not before the run gets there
        run.SkipCurrent();
    });
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    EXPECT_EQ(List->Pages()[3].State, stRelinked);
    EXPECT_EQ(Requests("/a.htm"), 1);
    EXPECT_EQ(Requests("/b.php"), 1);
    EXPECT_EQ(Leftovers(), 0);
}

// Stop cancels what is in flight and drops what came for items the run had
// not reached; Abort leaves no log either. Neither leaves a partial file.
TEST_F(ParallelRunTest, StopAndAbortCancelEverythingInFlight) {
    Save({"/stall", "/a.htm", "/stall?second", "/b.php"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == 2 && Requests("/b.php") == 1; }));
        run.Stop();
    });
    for (std::size_t i = 1; i <= 4; ++i)
        EXPECT_EQ(List->Pages()[i].State, stToDownload) << i;
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "a.htm"));
    EXPECT_TRUE(std::filesystem::exists(OutputFolder + "lkspl.log"));
    EXPECT_NE(Read("INDEX.HTML").find("javascript:if (confirm("), std::string::npos);
    EXPECT_EQ(Leftovers(), 0);

    std::filesystem::remove(OutputFolder + "lkspl.log");
    Save({"/stall", "/stall?second", "/a.htm"}, [&](DownloadRun& run) {
        ASSERT_TRUE(WaitFor([&] { return Requests("/stall") == 4; }));
        run.Abort();
    });
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "lkspl.log"));
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "a.htm"));
    EXPECT_EQ(Leftovers(), 0);
}

// Each item has its own countdown: an item that stalled while the run
// waited for another is skipped in its turn too, and the rest is saved.
TEST_F(ParallelRunTest, AutoSkipCountsPerItem) {
    Settings.AutoSkip = true;
    Settings.SkipSec = 1;
    Save({"/stall", "/stall?second", "/a.htm"});
    EXPECT_EQ(List->Pages()[1].State, stSkipped);
    EXPECT_EQ(List->Pages()[2].State, stSkipped);
    EXPECT_EQ(List->Pages()[3].State, stRelinked);
    EXPECT_EQ(Requests("/stall"), 2);
}

// Two requests challenged at once: the user is asked once, and the second
// request uses that answer.
TEST_F(ParallelRunTest, ASecondChallengeWaitsForTheFirstAnswer) {
    Save({"/basic", "/basic?again", "/a.htm"});
    EXPECT_EQ(Asker.Sites.size(), 1u);
    EXPECT_EQ(Read("basic.htm"), "basic ok");
    EXPECT_EQ(List->Pages()[1].State, stRelinked);
    EXPECT_EQ(List->Pages()[2].State, stRelinked);
    EXPECT_EQ(List->Pages()[3].State, stRelinked);
    EXPECT_TRUE(Seen.Problems.empty()) << Seen.Problems.front();
}

// The password prompt holds the run: the item it waits for, silent longer
// than the countdown while the user types, is not skipped, and what ends
// meanwhile is taken over only once the prompt is closed, in list order.
TEST_F(ParallelRunTest, ThePasswordPromptHoldsTheRun) {
    for (const int connections : {1, 2}) {
        Settings.Connections = connections;
        Settings.AutoSkip = true;
        Settings.SkipSec = 1;
        DownloadRun* running = nullptr;
        std::vector<TItemState> duringPrompt;
        Asker.WhileOpen = [&] {
            QEventLoop prompt;
            QTimer::singleShot(1600, &prompt, &QEventLoop::quit);
            prompt.exec();
            duringPrompt = {List->Pages()[1].State, List->Pages()[2].State};
        };
        Asker.Sites.clear();
        // One at a time, the prompt comes while the run waits for the
        // protected item; with two, while it waits for the one before.
        const std::vector<std::string> links =
            connections == 1 ? std::vector<std::string>{"/basic", "/a.htm"}
                             : std::vector<std::string>{"/drip", "/basic", "/a.htm"};
        Save(links, [&](DownloadRun& run) { running = &run; });
        ASSERT_NE(running, nullptr);
        EXPECT_EQ(Asker.Sites.size(), 1u) << connections;
        if (connections == 2) { // the first item ended while the user typed
            EXPECT_EQ(duringPrompt, (std::vector<TItemState>{stToDownload, stToDownload}));
        }
        for (std::size_t i = 1; i <= links.size(); ++i)
            EXPECT_EQ(List->Pages()[i].State, stRelinked) << connections << " " << i;
        EXPECT_TRUE(Seen.Problems.empty()) << Seen.Problems.front();
    }
}
