// larkspool-save's work in-process: options in, a save of an in-memory page
// whose links a local server answers, and the exit code, the files and what
// was printed checked.
#include "cli/SaveCommand.h"

#include "browser/MemoryObjects.h"
#include "cli/SaveOptions.h"
#include "platform/SaveFolderLock.h"
#include "support/DeadProcess.h"
#include "support/LocalServer.h"
#include "support/TempFolder.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace larkspool;
using larkspool::check::LocalServer;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

namespace {

// What the in-memory browser was asked, and what it is to answer.
struct BrowserRecord {
    std::map<std::string, MemoryPage> Pages; // by address
    int Starts = 0;
    bool StartFails = false;
    std::string AllowDownloadsFails; // set: AllowDownloads raises this
    std::string DownloadFolder;
    std::vector<std::size_t> Waits; // what WaitForDownloads was asked
    std::vector<Variant> Windows;   // opened
    bool Closed = false;
};

// A browser over in-memory windows: a page is "downloaded" when its
// window's location is sent to an address, as a real browser does with a
// file it does not show.
class MemoryBrowser : public SaveBrowser {
public:
    explicit MemoryBrowser(BrowserRecord& Record) : R(Record) {}
    // Ended with its owner, as the real one is.
    ~MemoryBrowser() override { Close(); }

    Variant Open(const std::string& Url) override {
        const auto page = R.Pages.find(Url);
        if (page == R.Pages.end())
            throw std::runtime_error("cannot open " + Url + ": the page answered HTTP 404");
        R.Windows.emplace_back(MakeMemoryWindow(page->second));
        return R.Windows.back();
    }
    void AllowDownloads(const std::string& Folder) override {
        if (!R.AllowDownloadsFails.empty())
            throw std::runtime_error(R.AllowDownloadsFails);
        R.DownloadFolder = Folder;
    }
    bool WaitForDownloads(std::size_t Started, std::chrono::milliseconds) override {
        R.Waits.push_back(Started);
        return true;
    }
    std::string DownloadState(const std::string& Url) const override {
        for (const std::string& sent : Sent())
            if (sent == Url)
                return "completed";
        return {};
    }
    std::size_t DownloadsCompleted() const override { return Sent().size(); }
    void Close() override { R.Closed = true; }

private:
    std::vector<std::string> Sent() const {
        std::vector<std::string> sent;
        for (const Variant& window : R.Windows)
            for (const auto& write :
                 AsMemoryObject(window.Get("document").Get("location"))->Writes())
                sent.push_back(write.second.ToText());
        return sent;
    }

    BrowserRecord& R;
};

// The trickle that stands for a page that never ends; it sends the process
// an interrupt on its first request when asked to.
std::atomic<bool> gInterruptOnHang{false};

void Routes(httplib::Server& s) {
    s.Get("/a.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>Alpha <img src=\"img/p.png\"></body></html>", "text/html");
    });
    s.Get("/b.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>Beta</body></html>", "text/html");
    });
    s.Get("/img/p.png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("\x89PNG\0\0", 6), "image/png");
    });
    s.Get("/gone.htm", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>Sorry</html>", "text/html");
    });
    s.Get("/file.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("PK", "application/zip");
    });
    s.Get("/hang.htm", [](const httplib::Request&, httplib::Response& res) {
        if (gInterruptOnHang.exchange(false))
            ::kill(::getpid(), SIGINT);
        res.set_chunked_content_provider(
            "text/html", [n = 0](std::size_t, httplib::DataSink& sink) mutable {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return ++n < 600 && sink.write("t", 1); // ends by itself after 30 s
            });
    });
}

class SaveCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (Temp.Path() + "/config").c_str(), 1);
        Settings = TSettings{};
        OutputFolder.clear();
        fs::create_directory(Root);
        Page.Url = Web.Url("/index.html");
        Page.Title = "Herons: at dusk";
        Page.Html = "<html><head><meta charset=\"utf-8\"></head><body><a href=\"a.htm\">Alpha</a>"
                    " <a href=\"b.htm\">Beta</a> <a href=\"gone.htm\">Gone</a>"
                    " <a href=\"file.zip\">Zip</a></body></html>";
        Page.Links = {{Web.Url("/a.htm"), "Alpha"},
                      {Web.Url("/b.htm"), "Beta"},
                      {Web.Url("/gone.htm"), "Gone"},
                      {Web.Url("/file.zip"), "Zip"}};
        Browser.Pages[Page.Url] = Page;
    }

    // Parses Arguments (after the page's address) as main does, runs the
    // save and keeps what it printed.
    int Save(std::vector<std::string> Arguments, std::optional<std::string> Url = std::nullopt) {
        std::vector<std::string> args{"larkspool-save", Url.value_or(Page.Url)};
        args.insert(args.end(), Arguments.begin(), Arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        SaveOptions options;
        const int parsed = ParseSaveOptions(static_cast<int>(argv.size()), argv.data(), options);
        EXPECT_EQ(parsed, -1) << "the arguments were not taken";
        char* outText = nullptr;
        char* errText = nullptr;
        std::size_t outSize = 0, errSize = 0;
        std::FILE* out = ::open_memstream(&outText, &outSize);
        std::FILE* err = ::open_memstream(&errText, &errSize);
        SaveCommand command(
            options,
            [this]() -> std::unique_ptr<SaveBrowser> {
                ++Browser.Starts;
                if (Browser.StartFails)
                    throw std::runtime_error("Cannot start the browser X");
                return std::make_unique<MemoryBrowser>(Browser);
            },
            out, err);
        if (CheckCopy)
            command.CheckCopy = CheckCopy;
        const int code = command.Run();
        std::fclose(out);
        std::fclose(err);
        Out.assign(outText, outSize);
        Err.assign(errText, errSize);
        std::free(outText);
        std::free(errText);
        return code;
    }

    static std::string Read(const std::string& Path) {
        std::ifstream in(Path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool Requested(const std::string& Path) const {
        for (const auto& r : Web.Seen())
            if (r.Target == Path)
                return true;
        return false;
    }
    // The save ended and let go of Folder.
    static bool Released(const std::string& Folder) {
        try {
            SaveFolderLock lock(Folder);
            return true;
        } catch (const SaveFolderLockError&) {
            return false;
        }
    }

    LocalServer Web{Routes};
    larkspool::check::TempFolder Temp{"larkspool-savecommand"};
    const std::string Root = Temp.Path() + "/out";
    MemoryPage Page;
    BrowserRecord Browser;
    std::string Out, Err;
    // Set: the offline check of --verify; else the real one (headless Chromium).
    decltype(SaveCommand::CheckCopy) CheckCopy;
};

} // namespace

// Saves that end with the copy on disk.

TEST_F(SaveCommandTest, SavesThePageAndTheChosenLinksIntoTheSubfolder) {
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "copy", "--selection", "Alpha, Beta",
                    "--pictures", "--quiet"}),
              kExitSaved)
        << Err;
    const std::string copy = Root + "/copy/";
    EXPECT_EQ(Err, "");
    EXPECT_THAT(Read(copy + "INDEX.HTML"), HasSubstr("<a href=\"a.htm\">Alpha</a>"));
    EXPECT_THAT(Read(copy + "a.htm"), HasSubstr("Alpha"));
    EXPECT_EQ(Read(copy + "p.png").size(), 6u);
    EXPECT_THAT(Read(copy + "b.htm"), HasSubstr("Beta"));
    EXPECT_TRUE(fs::exists(copy + "lkspl.log"));
    EXPECT_FALSE(Requested("/gone.htm"));
    EXPECT_FALSE(Requested("/file.zip"));
    EXPECT_THAT(Out, HasSubstr("Saved 4, skipped 0, not fetched 0, not stored 0, left to the "
                               "browser 0, problems 0; "));
    EXPECT_THAT(Out, HasSubstr(". Saved in " + copy + " (open " + copy + "INDEX.HTML)\n"));
    // Quiet: the summary's two lines and nothing else.
    EXPECT_EQ(std::count(Out.begin(), Out.end(), '\n'), 2);
    EXPECT_EQ(Browser.Starts, 1);
    EXPECT_EQ(Browser.DownloadFolder, copy);
    EXPECT_TRUE(Browser.Closed);
    EXPECT_TRUE(Released(copy));
}

TEST_F(SaveCommandTest, TheSubfolderIsNamedAfterTheTitleOrLeftOut) {
    Settings.CreateSubFolder = true;
    EXPECT_EQ(Save({"--folder", Root, "--links", "none", "--quiet"}), kExitSaved) << Err;
    EXPECT_TRUE(fs::exists(Root + "/Herons at dusk/INDEX.HTML"));

    // A title that makes no name: "Saved page".
    Page.Title = "???";
    Browser.Pages[Page.Url] = Page;
    Settings.CreateSubFolder = true;
    EXPECT_EQ(Save({"--folder", Root, "--links", "none", "--quiet"}), kExitSaved) << Err;
    EXPECT_TRUE(fs::exists(Root + "/Saved page/INDEX.HTML"));

    EXPECT_EQ(Save({"--folder", Root + "/", "--no-subfolder", "--links", "none", "--quiet"}),
              kExitSaved)
        << Err;
    EXPECT_TRUE(fs::exists(Root + "/INDEX.HTML"));
    EXPECT_THAT(Out, HasSubstr("Saved in " + Root + "/ (open " + Root + "/INDEX.HTML)"));
}

TEST_F(SaveCommandTest, LinksAreChosenByPatternOrAll) {
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "m", "--links", "matching", "--match",
                    "b\\.htm$", "--quiet"}),
              kExitSaved)
        << Err;
    EXPECT_TRUE(fs::exists(Root + "/m/b.htm"));
    EXPECT_FALSE(fs::exists(Root + "/m/a.htm"));
    EXPECT_FALSE(Requested("/a.htm"));

    // All of them: the missing page is reported, skipped (nobody is there to
    // press Skip), and makes exit 4.
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "all", "--links", "all", "--quiet"}),
              kExitItemsFailed);
    EXPECT_TRUE(fs::exists(Root + "/all/a.htm"));
    EXPECT_TRUE(fs::exists(Root + "/all/file.zip"));
    EXPECT_FALSE(fs::exists(Root + "/all/gone.htm"));
    EXPECT_THAT(Err, HasSubstr("larkspool-save: " + Web.Url("/gone.htm") + ": "));
    EXPECT_THAT(Out,
                HasSubstr("Saved 4, skipped 1, not fetched 0, not stored 0, left to the browser 0, "
                          "problems 1;"));
}

TEST_F(SaveCommandTest, FilesLeftToTheBrowserAreHandedToItAndReported) {
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "handed", "--links", "all", "--extensions",
                    "zip", "--extension-handling", "browser", "--quiet"}),
              kExitItemsFailed); // gone.htm
    EXPECT_FALSE(Requested("/file.zip"));
    EXPECT_FALSE(fs::exists(Root + "/handed/file.zip"));
    ASSERT_EQ(Browser.Windows.size(), 1u);
    const auto location = AsMemoryObject(Browser.Windows[0].Get("document").Get("location"));
    ASSERT_EQ(location->Writes().size(), 1u);
    EXPECT_EQ(location->Writes()[0].second.ToText(), Web.Url("/file.zip"));
    EXPECT_THAT(Out, HasSubstr("left to the browser 1,"));
    EXPECT_THAT(Out, HasSubstr("Left to the browser: " + Web.Url("/file.zip") + " (downloaded)\n"));
    EXPECT_THAT(Out, HasSubstr("Browser downloads: 1 of 1 completed.\n"));
}

TEST_F(SaveCommandTest, WithoutQuietEachItemIsPrintedBeforeTheSummary) {
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "loud", "--selection", "Alpha"}), kExitSaved)
        << Err;
    const std::size_t summary = Out.find("Saved 2,");
    ASSERT_NE(summary, std::string::npos) << Out;
    const std::string progress = Out.substr(0, summary);
    EXPECT_THAT(progress, HasSubstr("Save Web Pages")) << Out;
    EXPECT_THAT(progress, HasSubstr("Relink")) << Out;
    EXPECT_THAT(progress, Not(HasSubstr("\r"))); // plain lines: not a terminal
}

TEST_F(SaveCommandTest, WhatAKilledSaveLeftIsRemoved) {
    fs::create_directory(Root + "/copy");
    const std::string dead =
        Root + "/copy/.larkspool-" + std::to_string(larkspool::check::DeadPid()) + "-AbCdEf";
    std::ofstream(dead) << "half";
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "copy", "--links", "none", "--quiet"}),
              kExitSaved)
        << Err;
    EXPECT_FALSE(fs::exists(dead));
}

TEST_F(SaveCommandTest, AnInterruptInTheRunStopsItWithTheLogWrittenAndPagesRelinked) {
    Page.Html = "<html><body><a href=\"a.htm\">Alpha</a> <a href=\"hang.htm\">Hang</a></body>"
                "</html>";
    Page.Links = {{Web.Url("/a.htm"), "Alpha"}, {Web.Url("/hang.htm"), "Hang"}};
    Browser.Pages[Page.Url] = Page;
    gInterruptOnHang = true;
    // One at a time, so that a.htm is whole before hang.htm is asked for.
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "stopped", "--links", "all", "--quiet",
                    "--connections", "1"}),
              kExitItemsFailed);
    EXPECT_THAT(Err, HasSubstr("larkspool-save: stopping (interrupt again to abort)\n"));
    const std::string copy = Root + "/stopped/";
    EXPECT_TRUE(fs::exists(copy + "lkspl.log"));
    EXPECT_TRUE(fs::exists(copy + "a.htm"));
    EXPECT_FALSE(fs::exists(copy + "hang.htm"));
    EXPECT_THAT(Read(copy + "INDEX.HTML"), HasSubstr("<a href=\"a.htm\">"));
    EXPECT_THAT(Read(copy + "INDEX.HTML"), Not(HasSubstr("href=\"hang.htm\"")));
    EXPECT_THAT(Out, HasSubstr("Saved in " + copy));
}

// --list-links and --frame: the link list, nothing saved.

TEST_F(SaveCommandTest, ListLinksPrintsTheNumberedListAndSavesNothing) {
    EXPECT_EQ(Save({"--list-links"}), kExitSaved) << Err; // no folder needed
    EXPECT_EQ(Out, " 1 " + Web.Url("/a.htm") + " Alpha\n" + " 2 " + Web.Url("/b.htm") + " Beta\n" +
                       " 3 " + Web.Url("/gone.htm") + " Gone\n" + " 4 " + Web.Url("/file.zip") +
                       " Zip\n");
    EXPECT_EQ(Err, "");
    EXPECT_TRUE(fs::is_empty(Root));
    EXPECT_TRUE(Web.Seen().empty());
}

TEST_F(SaveCommandTest, FrameReadsTheLinksOfThatFrame) {
    MemoryPage frame;
    frame.Url = Web.Url("/frame.htm");
    frame.Title = "Frame";
    frame.Links = {{Web.Url("/b.htm"), "Inside"}};
    Page.Frames = {frame};
    Browser.Pages[Page.Url] = Page;
    EXPECT_EQ(Save({"--list-links", "--frame", "0"}), kExitSaved) << Err;
    EXPECT_EQ(Out, " 1 " + Web.Url("/b.htm") + " Inside\n");

    EXPECT_EQ(Save({"--list-links", "--frame", "3"}), kExitBrowser);
    EXPECT_EQ(Err, "larkspool-save: the page has 1 frames; there is no frame 3\n");
    EXPECT_EQ(Out, "");
}

// Saves refused: the exit code says where, the message why.

TEST_F(SaveCommandTest, AnUnusableDestinationStartsNoBrowser) {
    EXPECT_EQ(Save({}), kExitFolder);
    EXPECT_EQ(Err, "larkspool-save: no destination folder is given (--folder) or stored\n");
    EXPECT_EQ(Save({"--folder", Root + "/missing"}), kExitFolder);
    EXPECT_EQ(Err, "larkspool-save: the destination folder \"" + Root +
                       "/missing\" does not "
                       "exist\n");
    std::ofstream(Root + "/file") << "x";
    EXPECT_EQ(Save({"--folder", Root + "/file"}), kExitFolder);
    EXPECT_THAT(Err, HasSubstr("is not a folder"));
    EXPECT_EQ(Browser.Starts, 0);
    EXPECT_EQ(Out, "");
}

TEST_F(SaveCommandTest, ASubfolderOutsideTheDestinationIsRefused) {
    fs::create_directory(Root + "/inner");
    for (const std::string name : {"..", ".", "../escaped", "a/b", "/tmp", " .. "}) {
        EXPECT_EQ(Save({"--folder", Root + "/inner", "--subfolder", name}), kExitFolder) << name;
        EXPECT_EQ(Err, "larkspool-save: \"" + name + "\" cannot be a subfolder name: " +
                           (name.find('/') != std::string::npos
                                ? "it holds \"/\", and a subfolder is one name inside the "
                                  "chosen folder"
                                : "it names the chosen folder or the one above it") +
                           "\n");
        EXPECT_EQ(Out, "");
    }
    EXPECT_TRUE(fs::is_empty(Root + "/inner"));
    EXPECT_FALSE(fs::exists(Root + "/escaped"));
    EXPECT_FALSE(fs::exists(Root + "/INDEX.HTML"));
    EXPECT_TRUE(Web.Seen().empty());
}

TEST_F(SaveCommandTest, ASubfolderThatCannotBeUsedIsRefused) {
    std::ofstream(Root + "/taken") << "x";
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "taken"}), kExitFolder);
    EXPECT_EQ(Err,
              "larkspool-save: the destination folder \"" + Root + "/taken\" is not a folder\n");
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", std::string(256, 'n')}), kExitFolder);
    EXPECT_THAT(Err, HasSubstr("cannot be a subfolder name: it is longer than 255 bytes"));
}

TEST_F(SaveCommandTest, AFolderAnotherSaveHoldsIsRefused) {
    fs::create_directory(Root + "/busy");
    {
        SaveFolderLock other(Root + "/busy");
        EXPECT_EQ(Save({"--folder", Root, "--subfolder", "busy"}), kExitFolder);
        EXPECT_THAT(Err,
                    HasSubstr("larkspool-save: Another save into the folder \"" + Root + "/busy"));
        EXPECT_FALSE(fs::exists(Root + "/busy/INDEX.HTML"));
    }
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "busy", "--links", "none"}), kExitSaved)
        << Err;
}

TEST_F(SaveCommandTest, BrowserFailuresEndWithExit3) {
    Browser.StartFails = true;
    EXPECT_EQ(Save({"--folder", Root}), kExitBrowser);
    EXPECT_EQ(Err, "larkspool-save: Cannot start the browser X\n");

    Browser.StartFails = false;
    EXPECT_EQ(Save({"--folder", Root}, Web.Url("/nowhere.html")), kExitBrowser);
    EXPECT_EQ(Err, "larkspool-save: cannot open " + Web.Url("/nowhere.html") +
                       ": the page answered HTTP 404\n");
    EXPECT_TRUE(Browser.Closed);

    Browser.AllowDownloadsFails = "downloads refused";
    EXPECT_EQ(Save({"--folder", Root, "--no-subfolder"}), kExitBrowser);
    EXPECT_EQ(Err, "larkspool-save: downloads refused\n");
    EXPECT_FALSE(fs::exists(Root + "/INDEX.HTML"));
    EXPECT_TRUE(Released(Root + "/"));
}

TEST_F(SaveCommandTest, APageThatCannotBeStoredIsNotOfferedToOpen) {
    fs::create_directories(Root + "/copy/INDEX.HTML");
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "copy", "--links", "none", "--quiet"}),
              kExitItemsFailed);
    EXPECT_THAT(Err, HasSubstr("INDEX.HTML"));
    EXPECT_THAT(Out, HasSubstr("not stored 1,"));
    EXPECT_THAT(Out, HasSubstr("Saved in " + Root + "/copy/; the page itself was not stored\n"));
    EXPECT_THAT(Out, Not(HasSubstr("(open ")));
}

// --verify: the stored pages opened offline in headless Chromium.

TEST_F(SaveCommandTest, VerifyChecksTheStoredPagesOffline) {
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "checked", "--selection", "Alpha, Beta",
                    "--pictures", "--verify"}),
              kExitSaved)
        << Err;
    // INDEX.HTML, a.htm with its picture, b.htm.
    EXPECT_THAT(Out, HasSubstr("Checking the copy offline (3 pages)...\n"));
    EXPECT_THAT(Out, HasSubstr("\nChecked offline: 1 of 1 pictures, 0 of 0 style sheets, "
                               "0 missing\n"));
    // The closing summary ends with it.
    EXPECT_LT(Out.find("Saved in "), Out.find("Checked offline:"));
}

TEST_F(SaveCommandTest, VerifyListsWhatNeedsTheNetworkAndEndsWithExit6) {
    // Pictures not saved: a.htm keeps the server's address for its picture.
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "partial", "--selection", "Alpha",
                    "--no-pictures", "--quiet", "--verify"}),
              kExitNotOffline)
        << Err;
    EXPECT_THAT(Out, HasSubstr("\n  a.htm: " + Web.Url("/img/p.png") +
                               " — needs the network\nChecked offline: 0 of 1 pictures, 0 of 0 "
                               "style sheets, 1 missing\n"));
    EXPECT_FALSE(Requested("/img/p.png")) << "the check reached the server";
}

TEST_F(SaveCommandTest, VerifyChecksWhatAStoppedSaveStored) {
    Page.Html = "<html><body><a href=\"a.htm\">Alpha</a> <a href=\"hang.htm\">Hang</a></body>"
                "</html>";
    Page.Links = {{Web.Url("/a.htm"), "Alpha"}, {Web.Url("/hang.htm"), "Hang"}};
    Browser.Pages[Page.Url] = Page;
    gInterruptOnHang = true;
    std::vector<std::string> checked;
    CheckCopy = [&](const std::string& Folder, const std::vector<std::string>& Pages,
                    const OfflineCheckOptions&) {
        checked = Pages;
        EXPECT_EQ(Folder, Root + "/stopped/");
        OfflineReport report;
        report.Pages.push_back({"INDEX.HTML", {{"", "it kept loading for 15 s"}}});
        report.Pages.push_back({"a.htm", {}});
        report.Pictures = {1422, 1423};
        return report;
    };
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "stopped", "--links", "all", "--quiet",
                    "--verify", "--connections", "1"}),
              kExitItemsFailed);
    EXPECT_THAT(checked, ::testing::ElementsAre("INDEX.HTML", "a.htm"));
    EXPECT_THAT(Out, HasSubstr("  INDEX.HTML: it kept loading for 15 s\nChecked offline: 1,422 "
                               "of 1,423 pictures, 0 of 0 style sheets, 1 missing\n"));
}

TEST_F(SaveCommandTest, AVerifyThatCannotRunEndsWithExit3) {
    CheckCopy = [](const std::string&, const std::vector<std::string>&,
                   const OfflineCheckOptions&) -> OfflineReport {
        throw std::runtime_error("Cannot start the browser /nowhere: no such file");
    };
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "unchecked", "--selection", "Beta", "--quiet",
                    "--verify"}),
              kExitBrowser);
    EXPECT_THAT(Err, HasSubstr("larkspool-save: the offline check could not run: Cannot start "
                               "the browser /nowhere"));
    EXPECT_THAT(Out, HasSubstr("Saved in "));
    // Without --verify nothing is checked (a new process starts with it off).
    Settings.VerifyCopy = false;
    EXPECT_EQ(Save({"--folder", Root, "--subfolder", "plain", "--selection", "Beta", "--quiet"}),
              kExitSaved);
    EXPECT_THAT(Out, Not(HasSubstr("offline")));
}
