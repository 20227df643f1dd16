// Reading a file of a folder that may hold anything under the expected name:
// only a regular file, only up to a bound, never through a link, and never
// waiting on a FIFO.
#include "platform/RegularFile.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace larkspool;

namespace {

class RegularFileTest : public ::testing::Test {
protected:
    void Write(const std::string& Path, const std::string& Bytes) const {
        std::ofstream(Path, std::ios::binary) << Bytes;
    }
    // The reason ReadRegularFile gives for refusing FPath.
    std::string Refusal(std::size_t MaxBytes = 1000) const {
        try {
            ReadRegularFile(FPath, MaxBytes);
        } catch (const RegularFileError& e) {
            return e.what();
        }
        return "(read)";
    }

    larkspool::check::TempFolder FTemp{"larkspool-regular"};
    const std::string FFolder = FTemp.Path();
    const std::string FPath = FFolder + "/file";
};

TEST_F(RegularFileTest, ReadsARegularFileUpToTheBound) {
    EXPECT_FALSE(ReadRegularFile(FPath, 10).has_value());
    Write(FPath, "0123456789");
    EXPECT_EQ(ReadRegularFile(FPath, 10), std::optional<std::string>("0123456789"));
    EXPECT_EQ(Refusal(9), "\"" + FPath + "\" was not read: it is larger than 9 bytes");
    Write(FPath, "");
    EXPECT_EQ(ReadRegularFile(FPath, 0), std::optional<std::string>(""));
}

TEST_F(RegularFileTest, LinksAreNeverFollowed) {
    Write(FFolder + "/target", "outside");
    std::filesystem::create_symlink(FFolder + "/target", FPath);
    EXPECT_EQ(Refusal(), "\"" + FPath + "\" was not read: it is a symbolic link");
    std::filesystem::remove(FPath);
    std::filesystem::create_symlink("/dev/zero", FPath);
    EXPECT_EQ(Refusal(), "\"" + FPath + "\" was not read: it is a symbolic link");
    std::filesystem::remove(FPath);
    std::filesystem::create_symlink(FFolder + "/nothing", FPath); // dangling
    EXPECT_EQ(Refusal(), "\"" + FPath + "\" was not read: it is a symbolic link");
}

TEST_F(RegularFileTest, FifosDevicesAndFoldersAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(FPath.c_str(), 0600), 0); // no writer: a plain open would wait
    EXPECT_EQ(Refusal(), "\"" + FPath + "\" was not read: it is not a regular file");
    std::filesystem::remove(FPath);
    std::filesystem::create_directory(FPath);
    EXPECT_EQ(Refusal(), "\"" + FPath + "\" was not read: it is a folder");
    EXPECT_THROW(ReadRegularFile("/dev/zero", 1000), RegularFileError);
    EXPECT_THROW(ReadRegularFile("/dev/null", 1000), RegularFileError);
}

TEST_F(RegularFileTest, LargeFileIsRefusedBeforeItIsRead) {
    Write(FPath, "");
    std::filesystem::resize_file(FPath, std::uintmax_t(1) << 40); // sparse: takes no room
    EXPECT_EQ(Refusal(1 << 20), "\"" + FPath + "\" was not read: it is larger than 1048576 bytes");
}

} // namespace
