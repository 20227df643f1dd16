// One save per folder: a second lock, in this process or another, is refused
// while the first is held, and the folder is free again when its holder ends,
// however it ends.
#include "platform/SaveFolderLock.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace larkspool;

extern char** environ;

namespace {

class SaveFolderLockTest : public ::testing::Test {
protected:
    // How a lock taken now ends: 0 taken, 1 refused as busy, 2 refused
    // otherwise.
    int TryLock() const {
        try {
            SaveFolderLock lock(FFolder);
            return 0;
        } catch (const SaveFolderLockError& e) {
            return e.Busy() ? 1 : 2;
        }
    }

    // The same, in a child process; its exit status.
    int TryLockInChild() const {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(TryLock());
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    larkspool::check::TempFolder FTemp{"larkspool-lock"};
    const std::string FFolder = FTemp.Path();
};

TEST_F(SaveFolderLockTest, SecondSaveIsRefusedWithTheFolderNamed) {
    std::optional<SaveFolderLock> held(std::in_place, FFolder + "/");
    EXPECT_EQ(TryLockInChild(), 1);
    try {
        SaveFolderLock again(FFolder);
        FAIL() << "a second lock was taken in the same process";
    } catch (const SaveFolderLockError& e) {
        EXPECT_TRUE(e.Busy());
        EXPECT_NE(std::string(e.what()).find("\"" + FFolder + "\""), std::string::npos) << e.what();
    }
    held.reset();
    EXPECT_EQ(TryLockInChild(), 0);
    EXPECT_EQ(TryLock(), 0);
}

TEST_F(SaveFolderLockTest, KilledHolderLeavesTheFolderFree) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(ready[0]);
        try {
            SaveFolderLock lock(FFolder);
            const char byte = 'L';
            (void)!::write(ready[1], &byte, 1);
            for (;;)
                ::pause();
        } catch (...) {
            ::_exit(3);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the child did not take the lock";
    ::close(ready[0]);
    EXPECT_EQ(TryLock(), 1);
    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(TryLock(), 0);
}

// A browser the save starts must not keep the folder locked after the save.
TEST_F(SaveFolderLockTest, ProgramsStartedDuringTheSaveDoNotHoldTheLock) {
    std::optional<SaveFolderLock> held(std::in_place, FFolder);
    pid_t sleeper = 0;
    char sleep[] = "sleep", forever[] = "1000";
    char* argv[] = {sleep, forever, nullptr};
    ASSERT_EQ(::posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ), 0);
    held.reset();
    EXPECT_EQ(TryLock(), 0);
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

TEST_F(SaveFolderLockTest, LinkOrFifoInPlaceOfTheLockFileIsRefused) {
    const std::string path = FFolder + "/" + std::string(SaveFolderLockName);
    const std::string outside = FFolder + "-outside";
    std::filesystem::create_symlink(outside, path);
    EXPECT_EQ(TryLock(), 2);
    EXPECT_FALSE(std::filesystem::exists(outside)); // not made through the link
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(TryLock(), 2); // and the open did not wait for a writer
    std::filesystem::remove(path);
    EXPECT_EQ(TryLock(), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

TEST_F(SaveFolderLockTest, MissingFolderIsReportedNotBusy) {
    try {
        SaveFolderLock lock(FFolder + "/missing");
        FAIL() << "a folder that does not exist was locked";
    } catch (const SaveFolderLockError& e) {
        EXPECT_FALSE(e.Busy());
        EXPECT_NE(std::string(e.what()).find(FFolder + "/missing\""), std::string::npos)
            << e.what();
    }
}

} // namespace
