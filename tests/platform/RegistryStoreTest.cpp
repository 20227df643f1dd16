#include "platform/registry/RegistryStore.h"

#include "support/ErrorOf.h"
#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <thread>
#include <tuple>
#include <vector>

using namespace larkspool;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

constexpr const char* Key = "\\SOFTWARE\\Vandrell\\Larkspool\\";
const std::string Header = "Windows Registry Editor Version 5.00\n";
const std::string Section = "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n";
const std::string Other = "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n";

// Every test gets its own configuration folder, so the real one is never touched.
class RegistryStore : public ::testing::Test {
protected:
    std::string Folder() const { return Root + "/larkspool"; }
    std::string File() const { return Config.File(check::ConfigFolder::Registry); }
    void Put(const std::string& Text) const { Config.Write(check::ConfigFolder::Registry, Text); }
    std::string Content() const { return Config.Read(check::ConfigFolder::Registry); }
    static unsigned ModeOf(const std::string& Path) {
        return static_cast<unsigned>(fs::status(Path).permissions());
    }

    check::ConfigFolder Config;
    const std::string Root = Config.Path();
};

std::string ErrorOf(const std::function<void()>& Action) {
    return check::ErrorOf<RegistryError>(Action);
}

// The error of Action while this process may write no file beyond Bytes: a
// write then fails even for root, for whom permission tricks do not.
std::string ErrorUnderFileSizeLimit(rlim_t Bytes, const std::function<void()>& Action) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit lowered = old;
    lowered.rlim_cur = Bytes;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &lowered);
    const std::string error = ErrorOf(Action);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    return error;
}

} // namespace

TEST_F(RegistryStore, KeysExistByTheirOwnSectionAndOnlyCreateKeyMakesOne) {
    EXPECT_FALSE(RegistryKey::Open(Key));
    EXPECT_FALSE(fs::exists(Folder())); // opening a missing key creates nothing
    fs::remove(Root);                   // the configuration folder may be missing too
    RegistryKey::CreateKey(Key);
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    EXPECT_EQ(ModeOf(File()), 0600u);
    EXPECT_EQ(Content(), Header + "\n" + Section);
    EXPECT_TRUE(RegistryKey::Open("\\\\software\\vandrell\\LARKSPOOL\\\\"));
    EXPECT_FALSE(RegistryKey::Open("\\SOFTWARE\\Vandrell\\"));
    EXPECT_FALSE(RegistryKey::Open("\\SOFTWARE\\Vandrell\\Larkspool\\Sub\\"));

    RegistryKey::Open(Key)->WriteInteger("SkipSec", 7);
    const std::string withValue = Content();
    RegistryKey::CreateKey("software\\VANDRELL\\larkspool");
    EXPECT_EQ(Content(), withValue);
    RegistryKey::CreateKey("\\SOFTWARE\\Other\\");
    EXPECT_EQ(Content(), withValue + "\n" + Other);
    // A file others could read is owner-only again after the next write.
    fs::permissions(File(), fs::perms::others_read, fs::perm_options::add);
    RegistryKey::Open(Key)->WriteString("PassP", "pw");
    EXPECT_EQ(ModeOf(File()), 0600u);
}

TEST_F(RegistryStore, HandWrittenValuesAreReadAndTypesAreChecked) {
    Put("\xEF\xBB\xBF" + Header + "; by hand\r\n" + Section +
        "  \"Short\"=dword:C8  \r\n\"Two\"=dword:2\n\"Text\"=\"a\"\t\n\"TEXT\"=\"b\"\n");
    const auto key = RegistryKey::Open(Key);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadInteger("short"), 200);
    EXPECT_TRUE(key->ReadBool("Two"));       // any non-zero is true
    EXPECT_EQ(key->ReadString("text"), "b"); // the later one, as a file import would leave it
    EXPECT_EQ(ErrorOf([&] { key->ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(ErrorOf([&] { key->ReadString("Two"); }), "Invalid data type for 'Two'");
    // A missing string is empty; a missing number has nothing to give.
    EXPECT_EQ(key->ReadString("Gone"), "");
    EXPECT_EQ(ErrorOf([&] { key->ReadInteger("Gone"); }), "Failed to get data for 'Gone'");
}

TEST_F(RegistryStore, WritesLeaveEverythingElseAsItWas) {
    const std::string before = Header + "\n; keep me\n" + Other +
                               "\"SkipSec\"=dword:00000009\r\n\n" + Section +
                               "\"SkipSec\"=dword:00000001\n\"UserS\"=\"ann\"\n\n; trailing\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vandrell\\Larkspool]\n"
                               "\"SkipSec\"=dword:00000003\n";
    Put(before);
    auto key = RegistryKey::Open(Key);
    key->WriteInteger("SKIPSEC", 60); // the stored spelling stays
    key->WriteString("PassS", "secret");
    std::string expected = before;
    expected.replace(expected.find("00000001"), 8, "0000003c");
    expected.insert(expected.find("\"UserS\"=\"ann\"\n") + 14, "\"PassS\"=\"secret\"\n");
    EXPECT_EQ(Content(), expected);
}

TEST_F(RegistryStore, ADamagedFileIsKeptAndNamedWithTheLine) {
    const std::tuple<std::string, int, const char*> damages[] = {
        // the text after the header
        {Section + "\"A\"=\"1\"\ngarbage\n", 4, "not a key"},
        {Section + "\"A\"=dword:123456789\n", 3, "bad dword"},
        {Section + "\n\"A\"=\"no end\n\"B\"=\"1\"\n", 4, "unterminated"},
        {Section + "\"A\"=\"a \\q b\"\n", 3, "unknown escape"},
        {"\"A\"=\"1\"\n", 2, "value outside any key"}};
    for (const auto& [text, line, reason] : damages) {
        Put(Header + text);
        const std::string where =
            "\"" + File() + "\", line " + std::to_string(line) + ": " + reason;
        EXPECT_THAT(ErrorOf([] { RegistryKey::Open(Key); }), HasSubstr(where));
        EXPECT_THAT(ErrorOf([] { RegistryKey::CreateKey("\\SOFTWARE\\New"); }), HasSubstr(where));
        EXPECT_EQ(Content(), Header + text); // nothing is thrown away
    }
}

TEST_F(RegistryStore, AFailedWriteRaisesAndKeepsTheOldFile) {
    RegistryKey::CreateKey(Key);
    auto key = RegistryKey::Open(Key);
    key->WriteString("Small", "kept");
    const std::string before = Content();
    EXPECT_EQ(ErrorUnderFileSizeLimit(before.size() + 100,
                                      [&] { key->WriteString("Big", std::string(5000, 'x')); }),
              "Failed to set data for 'Big'");
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(ModeOf(File()), 0600u);
    EXPECT_FALSE(key->ValueExists("Big"));
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()), 1);
    // Nor is a key that has gone from the file since Open written back.
    Put(Header + Other);
    EXPECT_EQ(ErrorOf([&] { key->WriteInteger("WinW", 1); }), "Failed to set data for 'WinW'");
    EXPECT_EQ(Content(), Header + Other);
}

TEST_F(RegistryStore, ConcurrentWritersLoseNoValue) {
    RegistryKey::CreateKey(Key);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([w] {
            auto key = RegistryKey::Open(Key); // each write must still see the others' values
            for (int i = 0; i < 10; ++i)
                key->WriteInteger("V" + std::to_string(w * 10 + i), i);
        });
    for (std::thread& writer : writers)
        writer.join();
    const auto key = RegistryKey::Open(Key);
    for (int v = 0; v < 40; ++v)
        EXPECT_EQ(key->ReadInteger("V" + std::to_string(v)), v % 10);
}

TEST_F(RegistryStore, DeletingAValueRemovesOnlyItsLines) {
    const std::string before = Header + "\n; keep me\n" + Other + "\"PassS\"=\"other key\"\r\n\n" +
                               Section +
                               "\"UserS\"=\"ann\"\n\"passs\"=\"old\"\n\"PassS\"=\"pw\"\n" +
                               "\"UserP\"=\"proxy\"\n\n; trailing\n";
    Put(before);
    auto key = RegistryKey::Open(Key);
    key->DeleteValue("PASSS");
    EXPECT_FALSE(key->ValueExists("PassS"));
    std::string expected = before;
    const std::size_t from = expected.find("\"passs\"=\"old\"\n");
    expected.erase(from, expected.find("\"UserP\"") - from); // both spellings, this key only
    EXPECT_EQ(Content(), expected);
    EXPECT_FALSE(RegistryKey::Open(Key)->ValueExists("PassS"));
    // Nothing to delete: the file is not even rewritten.
    fs::permissions(File(), fs::perms::others_read, fs::perm_options::add);
    key->DeleteValue("PassS");
    EXPECT_EQ(ModeOf(File()), 0604u);
    EXPECT_EQ(Content(), expected);
    // The file gone: as a failed write.
    fs::remove(File());
    EXPECT_EQ(ErrorOf([&] { key->DeleteValue("UserS"); }), "Failed to delete data for 'UserS'");
}
