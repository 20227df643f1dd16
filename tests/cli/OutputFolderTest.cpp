#include "cli/OutputFolder.h"

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
    EXPECT_THAT(DestinationProblem(""), HasSubstr("no destination folder"));
    Settings.DestinationFolder = "";
    EXPECT_EQ(MakeOutputFolder(TSaveOptions{}, "Title"), "");
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
    Settings.DestinationFolder = Root + "//";
    Settings.CreateSubFolder = true;
    EXPECT_EQ(MakeOutputFolder(TSaveOptions{}, "Herons"), Root + "/Herons/");
    EXPECT_TRUE(fs::is_directory(Root + "/Herons"));
}

TEST_F(OutputFolderTest, AnExistingSubfolderThatIsAFileIsRefused) {
    std::ofstream(Root + "/Herons") << "x";
    Settings.DestinationFolder = Root;
    Settings.CreateSubFolder = true;
    EXPECT_EQ(MakeOutputFolder(TSaveOptions{}, "Herons"), "");
}
