#include "cli/OutputFolder.h"

#include "run/SavePreparation.h"
#include "tools/Settings.h"

#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace larkspool;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

class OutputFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(Root.c_str(), 0755); // another user may look in (see ReadOnly)
        Settings = TSettings{};
    }
    void TearDown() override {
        ::chmod((Root + "/read-only").c_str(), 0755); // so that it can be removed
    }

    larkspool::check::TempFolder Temp{"larkspool-folder"};
    const std::string Root = Temp.Path();
};

// Runs Check as an ordinary user when the tests run as root, who may write
// anywhere.
template <typename Fn> auto AsOrdinaryUser(Fn Check) {
    const bool root = ::geteuid() == 0;
    if (root) {
        EXPECT_EQ(::seteuid(65534), 0);
    }
    auto result = Check();
    if (root) {
        EXPECT_EQ(::seteuid(0), 0);
    }
    return result;
}

} // namespace

TEST_F(OutputFolderTest, AnEmptyFolderIsRefusedNotTakenForTheCurrentOne) {
    EXPECT_THAT(DestinationProblem(""), HasSubstr("no destination folder is given (--folder)"));
    EXPECT_THROW(SavePreparation("", ChosenSubFolder(SaveOptions{}, "Title")),
                 SavePreparationError);
}

TEST_F(OutputFolderTest, AMissingFolderDoesNotExist) {
    EXPECT_THAT(DestinationProblem(Root + "/missing"), HasSubstr("does not exist"));
}

TEST_F(OutputFolderTest, AFileIsNotAFolder) {
    std::ofstream(Root + "/file") << "x";
    EXPECT_THAT(DestinationProblem(Root + "/file"), HasSubstr("is not a folder"));
}

TEST_F(OutputFolderTest, AFolderWithoutWriteAccessIsRefused) {
    const std::string folder = Root + "/read-only";
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    EXPECT_THAT(AsOrdinaryUser([&] { return DestinationProblem(folder); }),
                HasSubstr("cannot be written into"));
}

TEST_F(OutputFolderTest, AWritableFolderIsTakenWithItsSubfolder) {
    EXPECT_EQ(DestinationProblem(Root), "");
    Settings.CreateSubFolder = true;
    const SavePreparation prepared(Root + "//", ChosenSubFolder(SaveOptions{}, "Herons"));
    EXPECT_EQ(prepared.Folder(), Root + "/Herons/");
    EXPECT_TRUE(fs::is_directory(Root + "/Herons"));
}

TEST_F(OutputFolderTest, AnExistingSubfolderThatIsAFileIsRefused) {
    std::ofstream(Root + "/Herons") << "x";
    Settings.CreateSubFolder = true;
    EXPECT_THROW(SavePreparation(Root, ChosenSubFolder(SaveOptions{}, "Herons")),
                 SavePreparationError);
}

// The subfolder comes from --subfolder, else from the title; none when the
// settings want none.
TEST_F(OutputFolderTest, TheSubfolderIsTheGivenNameOrTheTitles) {
    SaveOptions given;
    given.SubFolderName = "../x"; // refused when it is made, not replaced
    EXPECT_EQ(ChosenSubFolder(given, "Herons"), std::nullopt);
    Settings.CreateSubFolder = true;
    EXPECT_EQ(ChosenSubFolder(given, "Herons"), std::optional<std::string>("../x"));
    EXPECT_EQ(ChosenSubFolder(SaveOptions{}, "Herons: at dusk"),
              std::optional<std::string>("Herons at dusk"));
}

// A title that makes no usable name (nothing left, or too long for the
// system) saves into "Saved page" rather than failing.
TEST_F(OutputFolderTest, ATitleWithoutAUsableNameGivesSavedPage) {
    Settings.CreateSubFolder = true;
    for (const std::string& title :
         {std::string("???"), std::string(""), std::string(" : "), std::string(300, 'h')})
        EXPECT_EQ(ChosenSubFolder(SaveOptions{}, title), std::optional<std::string>("Saved page"))
            << title;
}
