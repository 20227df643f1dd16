// Setting up a save, as the window and larkspool-save both do it: the names
// a subfolder may have, the folder made and locked, what a killed save left,
// and the list of the chosen links with the files left to the browser.
#include "run/SavePreparation.h"

#include "browser/MemoryObjects.h"
#include "platform/SaveFolderLock.h"
#include "support/DeadProcess.h"
#include "support/TempFolder.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace larkspool;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::string Named(const std::string& Name) {
    return SubFolderProblem(Name);
}

} // namespace

// One name directly inside the chosen folder, and nothing else.
TEST(SubFolderNames, NamesThatLeaveTheChosenFolderAreRefused) {
    EXPECT_THAT(Named("."), HasSubstr("\".\" cannot be a subfolder name: it names the chosen"));
    EXPECT_THAT(Named(".."), HasSubstr("\"..\" cannot be a subfolder name"));
    EXPECT_THAT(Named("../../x"), HasSubstr("holds \"/\""));
    EXPECT_THAT(Named("a/b"), HasSubstr("holds \"/\""));
    EXPECT_THAT(Named("/tmp"), HasSubstr("holds \"/\""));
    EXPECT_THAT(Named("x/"), HasSubstr("holds \"/\""));
    // Blanks around them do not make them names.
    EXPECT_THAT(Named("  ..  "), HasSubstr("\"  ..  \" cannot be a subfolder name: it names"));
    EXPECT_THAT(Named(" . "), HasSubstr("it names the chosen folder"));
}

TEST(SubFolderNames, BlankNamesAndControlBytesAreRefused) {
    EXPECT_THAT(Named(""), HasSubstr("it is blank"));
    EXPECT_THAT(Named(" \t "), HasSubstr("it is blank"));
    // A NUL would cut the name the system sees; it is shown as "?".
    EXPECT_EQ(Named(std::string("a\0/../b", 7)),
              "\"a?/../b\" cannot be a subfolder name: it holds \"/\", and a subfolder is one "
              "name inside the chosen folder");
    EXPECT_THAT(Named(std::string("a\0b", 3)), HasSubstr("\"a?b\" cannot be a subfolder name: it "
                                                         "holds a control character"));
    EXPECT_THAT(Named("a\nb"), HasSubstr("control character"));
    EXPECT_THAT(Named("a\x7F"), HasSubstr("control character"));
}

TEST(SubFolderNames, NamesOver255BytesAreRefused) {
    EXPECT_EQ(Named(std::string(255, 'n')), "");
    EXPECT_THAT(Named(std::string(256, 'n')), HasSubstr("longer than 255 bytes"));
    // Counted without the blanks around it.
    EXPECT_EQ(Named("  " + std::string(255, 'n') + "  "), "");
}

TEST(SubFolderNames, OrdinaryNamesAreTakenWithoutTheirEndBlanks) {
    for (const char* name : {"copy", "...", ".hidden", "a..b", "Report 2001 final", "Zürich"})
        EXPECT_EQ(Named(name), "") << name;
    EXPECT_EQ(SubFolderName("  News \t"), "News");
    EXPECT_EQ(SubFolderName("In  between"), "In  between");
}

namespace {

class SavePreparationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings{};
        OutputFolder.clear();
    }

    // Anything at Path, a dangling link too.
    static bool Exists(const std::string& Path) { return fs::exists(fs::symlink_status(Path)); }

    larkspool::check::TempFolder Temp{"larkspool-prepare"};
    // The chosen folder, two levels down, so that a name that escaped ("../x",
    // "../../x") would land in Temp where the test sees it.
    const std::string Root = [this] {
        fs::create_directories(Temp.Path() + "/a/chosen");
        return Temp.Path() + "/a/chosen";
    }();
};

} // namespace

TEST_F(SavePreparationTest, TheChosenFolderIsTakenWithOneSlash) {
    SavePreparation prepared(Root + "//", std::nullopt);
    EXPECT_EQ(prepared.Folder(), Root + "/");
    EXPECT_EQ(prepared.SubFolder(), "");
    EXPECT_EQ(OutputFolder, Root + "/");
}

TEST_F(SavePreparationTest, TheSubfolderIsMadeOrTakenAsItIs) {
    {
        SavePreparation prepared(Root, std::string(" News "));
        EXPECT_EQ(prepared.Folder(), Root + "/News/");
        EXPECT_EQ(prepared.SubFolder(), "News");
        EXPECT_EQ(OutputFolder, Root + "/News/");
        EXPECT_TRUE(fs::is_directory(Root + "/News"));
    }
    std::ofstream(Root + "/News/kept.htm") << "earlier";
    SavePreparation again(Root + "/", std::string("News"));
    EXPECT_EQ(again.Folder(), Root + "/News/");
    EXPECT_TRUE(fs::exists(Root + "/News/kept.htm"));
}

TEST_F(SavePreparationTest, ARefusedSubfolderMakesNothingAnywhere) {
    const std::vector<std::string> names = {"../../x",
                                            "../x",
                                            "..",
                                            ".",
                                            "a/b",
                                            "",
                                            "   ",
                                            std::string("x\0/../../y", 10),
                                            std::string(300, 'n')};
    for (const std::string& name : names) {
        try {
            SavePreparation prepared(Root, name);
            ADD_FAILURE() << "taken: " << name;
        } catch (const SavePreparationError& e) {
            EXPECT_THAT(e.what(), HasSubstr("cannot be a subfolder name")) << name;
        }
    }
    EXPECT_TRUE(fs::is_empty(Root));
    EXPECT_FALSE(Exists(Temp.Path() + "/a/x"));
    EXPECT_FALSE(Exists(Temp.Path() + "/x"));
    EXPECT_FALSE(Exists(Temp.Path() + "/y"));
    EXPECT_EQ(OutputFolder, ""); // not set for a save that does not start
}

TEST_F(SavePreparationTest, AFolderThatCannotTakeTheSaveIsRefused) {
    EXPECT_THROW(SavePreparation("", std::nullopt), SavePreparationError);
    EXPECT_THAT(FolderProblem(""), HasSubstr("no destination folder"));
    try {
        SavePreparation prepared(Root + "/missing", std::nullopt);
        ADD_FAILURE();
    } catch (const SavePreparationError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the destination folder \"" + Root + "/missing\" does not exist");
    }
    // An earlier save's subfolder that is a file by now.
    std::ofstream(Root + "/Herons") << "x";
    try {
        SavePreparation prepared(Root, std::string("Herons"));
        ADD_FAILURE();
    } catch (const SavePreparationError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the destination folder \"" + Root + "/Herons\" is not a folder");
    }
}

TEST_F(SavePreparationTest, TheFolderIsHeldWhileThePreparationLives) {
    {
        SavePreparation prepared(Root, std::string("copy"));
        try {
            SavePreparation second(Root, std::string("copy"));
            ADD_FAILURE() << "a second save took the folder";
        } catch (const SaveFolderLockError& e) {
            EXPECT_TRUE(e.Busy());
            EXPECT_THAT(e.what(), HasSubstr(Root + "/copy"));
        }
        // Another folder is free.
        SavePreparation other(Root, std::string("other"));
    }
    SavePreparation after(Root, std::string("copy"));
}

TEST_F(SavePreparationTest, WhatAKilledSaveLeftIsRemovedAndALivingOnesIsNot) {
    const std::string dead =
        Root + "/.larkspool-" + std::to_string(larkspool::check::DeadPid()) + "-AbCdEf";
    const std::string alive = Root + "/.larkspool-" + std::to_string(::getpid()) + "-AbCdEf";
    std::ofstream(dead) << "half";
    std::ofstream(alive) << "writing";
    SavePreparation prepared(Root, std::nullopt);
    EXPECT_FALSE(Exists(dead));
    EXPECT_TRUE(Exists(alive));
}

TEST_F(SavePreparationTest, TheListHoldsTheChosenLinksAndHandsFilesToTheBrowser) {
    Settings.Extensions = "zip";
    Settings.DoWithExtensions = 1; // the browser's downloads
    MemoryPage page;
    page.Url = "http://127.0.0.1:1/news/index.html";
    page.Title = "News";
    page.Html = "<html><body><a href=\"a.htm\">a</a><a href=\"file.zip\">zip</a></body></html>";
    const Variant window(MakeMemoryWindow(page));
    SavePreparation prepared(Root, std::string("News"));
    std::vector<LinkRow> links(2);
    links[0].Address = "http://127.0.0.1:1/news/a.htm";
    links[0].Text = "a";
    links[1].Address = "http://127.0.0.1:1/news/file.zip";
    links[1].Text = "zip";
    const auto list = prepared.BuildList(window, links);
    std::vector<std::string> urls;
    for (const TListerItem& item : list->Pages())
        urls.push_back(item.URL);
    EXPECT_THAT(urls, ::testing::ElementsAre("http://127.0.0.1:1/news/index.html",
                                             "http://127.0.0.1:1/news/a.htm",
                                             "http://127.0.0.1:1/news/file.zip"));
    EXPECT_EQ(list->Pages()[2].State, stHandedToBrowser);
    const auto location = AsMemoryObject(window.Get("document").Get("location"));
    ASSERT_EQ(location->Writes().size(), 1u);
    EXPECT_EQ(location->Writes()[0].second.ToText(), "http://127.0.0.1:1/news/file.zip");
}
