#include "platform/Leftovers.h"

#include "platform/AtomicFile.h"

#include "support/DeadProcess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace larkspool;
namespace fs = std::filesystem;

namespace {

// A process id that belonged to a process that has ended.
class LeftoversTest : public ::testing::Test {
protected:
    void SetUp() override { Dead = std::to_string(larkspool::check::DeadPid()); }

    void File(const std::string& Name) const { std::ofstream(Root + "/" + Name) << "x"; }
    bool Exists(const std::string& Name) const {
        return fs::exists(fs::symlink_status(Root + "/" + Name));
    }

    larkspool::check::TempFolder Temp{"larkspool-leftovers"};
    const std::string Root = Temp.Path();
    std::string Dead;
};

} // namespace

TEST_F(LeftoversTest, ATemporaryFileWritesUnderAnOwnedNameAndLeavesNothing) {
    WriteFileAtomically(Root + "/page.html", "text");
    EXPECT_EQ(std::distance(fs::directory_iterator(Root), fs::directory_iterator()), 1);
    EXPECT_EQ(LeftoverTemplate(Leftover::TemporaryFile),
              ".larkspool-" + std::to_string(::getpid()) + "-XXXXXX");
}

TEST_F(LeftoversTest, TemporaryFilesOfDeadRunsAreRemovedOnly) {
    const std::string alive = std::to_string(::getppid());
    File(".larkspool-" + Dead + "-aB3xYz");                       // dead: removed
    File(".larkspool-" + alive + "-aB3xYz");                      // still running: kept
    File(".larkspool-" + std::to_string(::getpid()) + "-Qwerty"); // ours: kept
    File(".larkspool-" + Dead + "-aB3xY");                        // not our pattern
    File(".larkspool-" + Dead + "-aB3xYz.html");                  // not our pattern
    File("larkspool-" + Dead + "-aB3xYz");                        // not hidden: not ours
    File(".larkspool-0" + Dead + "-aB3xYz");                      // not a process id as we write it
    fs::create_directory(Root + "/.larkspool-" + Dead + "-folder"); // a folder
    File("target");
    fs::create_symlink(Root + "/target", Root + "/.larkspool-" + Dead + "-symlnk");

    EXPECT_EQ(RemoveLeftovers(Root, Leftover::TemporaryFile), 1);
    EXPECT_FALSE(Exists(".larkspool-" + Dead + "-aB3xYz"));
    for (const std::string& kept :
         {".larkspool-" + alive + "-aB3xYz", ".larkspool-" + std::to_string(::getpid()) + "-Qwerty",
          ".larkspool-" + Dead + "-aB3xY", ".larkspool-" + Dead + "-aB3xYz.html",
          "larkspool-" + Dead + "-aB3xYz", ".larkspool-0" + Dead + "-aB3xYz",
          ".larkspool-" + Dead + "-folder", ".larkspool-" + Dead + "-symlnk",
          std::string("target")})
        EXPECT_TRUE(Exists(kept)) << kept;
}

TEST_F(LeftoversTest, BrowserFoldersOfDeadRunsAreRemovedWithTheirContent) {
    const std::string stale = "larkspool-chromium-" + Dead + "-Ab12Cd";
    fs::create_directories(Root + "/" + stale + "/profile/Default");
    File(stale + "/owner.lock");
    File(stale + "/profile/Default/Cookies");
    // A link inside points outside: removed as a link, its target kept.
    File("outside");
    fs::create_symlink(Root + "/outside", Root + "/" + stale + "/profile/link");

    EXPECT_EQ(RemoveLeftovers(Root, Leftover::BrowserFolder), 1);
    EXPECT_FALSE(Exists(stale));
    EXPECT_TRUE(Exists("outside"));
}

TEST_F(LeftoversTest, ABrowserFolderInUseIsKept) {
    // Its owner still holds the lock (a process in another pid namespace
    // would look dead).
    const std::string locked = "larkspool-chromium-" + Dead + "-Locked";
    fs::create_directory(Root + "/" + locked);
    const int lock = LockOwnedFolder(Root + "/" + locked);
    ASSERT_GE(lock, 0);
    // Its owner is alive (it may not have made its lock yet).
    const std::string alive = "larkspool-chromium-" + std::to_string(::getppid()) + "-Alive1";
    fs::create_directory(Root + "/" + alive);
    // Not a folder, or a link to one: never ours to remove.
    File("larkspool-chromium-" + Dead + "-File12");
    fs::create_directory(Root + "/target");
    fs::create_symlink(Root + "/target", Root + "/larkspool-chromium-" + Dead + "-Link12");

    EXPECT_EQ(RemoveLeftovers(Root, Leftover::BrowserFolder), 0);
    for (const std::string& kept : {locked, alive, "larkspool-chromium-" + Dead + "-File12",
                                    "larkspool-chromium-" + Dead + "-Link12"})
        EXPECT_TRUE(Exists(kept)) << kept;
    ::close(lock);
    EXPECT_EQ(RemoveLeftovers(Root, Leftover::BrowserFolder), 1);
    EXPECT_FALSE(Exists(locked));
}
