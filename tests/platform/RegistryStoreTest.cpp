#include "platform/registry/RegistryStore.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace larkspool;
namespace fs = std::filesystem;

namespace {

constexpr const char* Key = "\\SOFTWARE\\Vandrell\\Larkspool\\";
constexpr const char* Header = "Windows Registry Editor Version 5.00\n";

// Every test gets its own configuration folder, so the real one is never touched.
class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "larkspool-reg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        ::setenv("XDG_CONFIG_HOME", Root.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(Root); }

    std::string Folder() const { return Root + "/larkspool"; }
    std::string File() const { return Folder() + "/registry.reg"; }

    void Put(const std::string& Text) const {
        fs::create_directories(Folder());
        std::ofstream(File(), std::ios::binary) << Text;
    }
    std::string Content() const {
        std::ifstream in(File(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static mode_t ModeOf(const std::string& Path) {
        struct stat info {};
        EXPECT_EQ(::stat(Path.c_str(), &info), 0) << Path;
        return info.st_mode & 07777;
    }

    std::string Root;
};

std::string ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return "(no error)";
}

// Lowers the largest file this process may write, so that writing fails even
// for root, for whom permission tricks do not.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t Bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Old_);
        OldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = Old_;
        lowered.rlim_cur = Bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Old_);
        std::signal(SIGXFSZ, OldHandler_);
    }

private:
    rlimit Old_{};
    void (*OldHandler_)(int);
};

} // namespace

TEST_F(RegistryStore, OpeningAMissingKeyCreatesNothing) {
    EXPECT_FALSE(RegistryKey::Open(Key));
    EXPECT_FALSE(fs::exists(Folder()));

    RegistryKey::CreateKey("\\SOFTWARE\\Other\\");
    const std::string before = Content();
    EXPECT_FALSE(RegistryKey::Open(Key));
    EXPECT_EQ(Content(), before);
}

TEST_F(RegistryStore, CreateKeyMakesAPrivateFileAndKeepsWhatIsThere) {
    fs::remove(Root); // the configuration folder itself may be missing too
    RegistryKey::CreateKey(Key);
    EXPECT_EQ(ModeOf(Root), 0700u);
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    EXPECT_EQ(ModeOf(File()), 0600u);
    EXPECT_EQ(Content(),
              std::string(Header) + "\n[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n");

    RegistryKey::Open(Key)->WriteInteger("SkipSec", 7);
    const std::string withValue = Content();
    RegistryKey::CreateKey("software\\VANDRELL\\larkspool");
    EXPECT_EQ(Content(), withValue);

    RegistryKey::CreateKey("\\SOFTWARE\\Other\\");
    EXPECT_EQ(Content(), withValue + "\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n");
    EXPECT_EQ(RegistryKey::Open(Key)->ReadInteger("SkipSec"), 7);
}

TEST_F(RegistryStore, KeyPathsMatchWithoutCaseOrOuterBackslashes) {
    Put(std::string(Header) +
        "\n[HKEY_CURRENT_USER\\Software\\VANDRELL\\Larkspool]\n\"A\"=\"1\"\n");
    EXPECT_TRUE(RegistryKey::Open(Key));
    EXPECT_TRUE(RegistryKey::Open("SOFTWARE\\Vandrell\\Larkspool"));
    ASSERT_TRUE(RegistryKey::Open("\\\\software\\vandrell\\larkspool\\\\"));
    EXPECT_EQ(RegistryKey::Open("\\\\software\\vandrell\\larkspool\\\\")->ReadString("A"), "1");
    // Only sections in the file exist: neither the parent nor a child does.
    EXPECT_FALSE(RegistryKey::Open("\\SOFTWARE\\Vandrell\\"));
    EXPECT_FALSE(RegistryKey::Open("\\SOFTWARE\\Vandrell\\Larkspool\\Sub\\"));
}

TEST_F(RegistryStore, StringsKeepEveryByteAndEscapeOnlyWhatMust) {
    RegistryKey::CreateKey(Key);
    const std::string value = "C:\\dir \"q\"\nnext\r\tend \xC3\xA9\xE6\x97\xA5 ;[x]";
    RegistryKey::Open(Key)->WriteString("Odd \"name\\", value);
    EXPECT_NE(Content().find("\"Odd \\\"name\\\\\"=\"C:\\\\dir \\\"q\\\"\\nnext\\r\tend "
                             "\xC3\xA9\xE6\x97\xA5 ;[x]\"\n"),
              std::string::npos)
        << Content();
    const auto key = RegistryKey::Open(Key);
    EXPECT_EQ(key->ReadString("Odd \"name\\"), value);

    RegistryKey::Open(Key)->WriteString("Empty", "");
    EXPECT_TRUE(RegistryKey::Open(Key)->ValueExists("Empty"));
    EXPECT_EQ(RegistryKey::Open(Key)->ReadString("Empty"), "");
}

TEST_F(RegistryStore, IntegersAreDwordsOfEightHexDigits) {
    RegistryKey::CreateKey(Key);
    auto key = RegistryKey::Open(Key);
    key->WriteInteger("URLW", 200);
    key->WriteInteger("WinL", -200);
    key->WriteInteger("Min", INT32_MIN);
    key->WriteInteger("Max", INT32_MAX);
    key->WriteBool("On", true);
    key->WriteBool("Off", false);
    EXPECT_NE(Content().find("\"URLW\"=dword:000000c8\n\"WinL\"=dword:ffffff38\n"
                             "\"Min\"=dword:80000000\n\"Max\"=dword:7fffffff\n"
                             "\"On\"=dword:00000001\n\"Off\"=dword:00000000\n"),
              std::string::npos)
        << Content();

    key = RegistryKey::Open(Key);
    EXPECT_EQ(key->ReadInteger("URLW"), 200);
    EXPECT_EQ(key->ReadInteger("WinL"), -200);
    EXPECT_EQ(key->ReadInteger("Min"), INT32_MIN);
    EXPECT_EQ(key->ReadInteger("Max"), INT32_MAX);
    EXPECT_TRUE(key->ReadBool("On"));
    EXPECT_FALSE(key->ReadBool("Off"));
}

TEST_F(RegistryStore, HandWrittenValuesAreRead) {
    Put("\xEF\xBB\xBF" + std::string(Header) + "; written by hand\r\n" +
        "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\r\n" +
        "  \"Short\"=dword:C8  \r\n\"Two\"=dword:2\n\"S\"=\"x\"\t\n");
    const auto key = RegistryKey::Open(Key);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadInteger("Short"), 200);
    EXPECT_TRUE(key->ReadBool("Two")); // any non-zero is true
    EXPECT_EQ(key->ReadString("S"), "x");
}

TEST_F(RegistryStore, ReadingTheOtherTypeFailsWithTheValueName) {
    Put(std::string(Header) + "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n"
                              "\"Text\"=\"yes\"\n\"Number\"=dword:00000001\n");
    const auto key = RegistryKey::Open(Key);
    EXPECT_EQ(ErrorOf([&] { key->ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(ErrorOf([&] { key->ReadBool("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(ErrorOf([&] { key->ReadString("Number"); }), "Invalid data type for 'Number'");
    // A missing string is empty; a missing number has nothing to give.
    EXPECT_FALSE(key->ValueExists("Gone"));
    EXPECT_EQ(key->ReadString("Gone"), "");
    EXPECT_EQ(ErrorOf([&] { key->ReadInteger("Gone"); }), "Failed to get data for 'Gone'");
}

TEST_F(RegistryStore, NamesMatchWithoutCaseAndKeepTheirStoredSpelling) {
    Put(std::string(Header) + "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n"
                              "\"KeyWords\"=\"a\"\n\"Dup\"=\"first\"\n\"DUP\"=\"second\"\n");
    auto key = RegistryKey::Open(Key);
    EXPECT_EQ(key->ReadString("keywords"), "a");
    EXPECT_EQ(key->ReadString("dup"), "second"); // as a file import would leave it
    key->WriteString("KEYWORDS", "b");
    key->WriteString("dup", "third");
    EXPECT_EQ(Content(), std::string(Header) +
                             "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n"
                             "\"KeyWords\"=\"b\"\n\"Dup\"=\"third\"\n");
    EXPECT_EQ(key->ReadString("KeyWords"), "b");
}

TEST_F(RegistryStore, WritesLeaveEverythingElseAsItWas) {
    const std::string before = std::string(Header) +
                               "\n; keep me\n"
                               "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\r\n"
                               "\"SkipSec\"=dword:00000009\r\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n"
                               "\"SkipSec\"=dword:00000001\n"
                               "\"UserS\"=\"ann\"\n"
                               "\n"
                               "; trailing comment\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vandrell\\Larkspool]\n"
                               "\"SkipSec\"=dword:00000003\n";
    Put(before);
    auto key = RegistryKey::Open(Key);
    key->WriteInteger("SkipSec", 60);
    key->WriteString("PassS", "secret");
    std::string expected = before;
    expected.replace(expected.find("\"SkipSec\"=dword:00000001\n"), 25,
                     "\"SkipSec\"=dword:0000003c\n");
    expected.insert(expected.find("\"UserS\"=\"ann\"\n") + 14, "\"PassS\"=\"secret\"\n");
    EXPECT_EQ(Content(), expected);
    EXPECT_EQ(RegistryKey::Open("\\SOFTWARE\\Other")->ReadInteger("SkipSec"), 9);
}

TEST_F(RegistryStore, TheFileIsOwnerOnlyAfterEveryWrite) {
    Put(std::string(Header) + "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n");
    ::chmod(File().c_str(), 0644);
    RegistryKey::Open(Key)->WriteString("PassP", "pw");
    EXPECT_EQ(ModeOf(File()), 0600u);
}

struct Damage {
    const char* Name;
    const char* Lines; // after the header and the key's section (lines 1 and 2)
    int LineNumber;
    const char* Reason;
};

void PrintTo(const Damage& D, std::ostream* Out) {
    *Out << D.Name;
}

class DamagedRegistry : public RegistryStore, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedRegistry, NamesTheFileAndTheLine) {
    const std::string text = std::string(Header) +
                             "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n" +
                             GetParam().Lines;
    Put(text);
    const std::string where = "\"" + File() + "\", line " + std::to_string(GetParam().LineNumber);
    for (const std::string& error : {ErrorOf([] { RegistryKey::Open(Key); }),
                                     ErrorOf([] { RegistryKey::CreateKey("\\SOFTWARE\\New"); })}) {
        EXPECT_NE(error.find(where), std::string::npos) << error;
        EXPECT_NE(error.find(GetParam().Reason), std::string::npos) << error;
    }
    EXPECT_EQ(Content(), text); // nothing is thrown away
}

INSTANTIATE_TEST_SUITE_P(
    RegistryStore, DamagedRegistry,
    ::testing::Values(Damage{"Garbage", "\"A\"=\"1\"\ngarbage\n", 4, "not a key"},
                      Damage{"DwordNotHex", "\"A\"=dword:xyz\n", 3, "bad dword"},
                      Damage{"DwordEmpty", "\"A\"=dword:\n", 3, "bad dword"},
                      Damage{"DwordTooLong", "\"A\"=dword:123456789\n", 3, "bad dword"},
                      Damage{"Unterminated", "\n\"A\"=\"no end\n\"B\"=\"1\"\n", 4, "unterminated"},
                      Damage{"EscapedLastQuote", "\"A\"=\"ends in \\\"\n", 3, "unterminated"},
                      Damage{"UnknownEscape", "\"A\"=\"a \\q b\"\n", 3, "unknown escape"},
                      Damage{"OtherType", "\"A\"=hex:01,02\n", 3, "string or dword"},
                      Damage{"TextAfterValue", "\"A\"=dword:00000001x\n", 3, "after the value"}));

TEST_F(RegistryStore, AValueOutsideAnyKeyIsDamage) {
    Put(std::string(Header) + "\"A\"=\"1\"\n");
    const std::string error = ErrorOf([] { RegistryKey::Open(Key); });
    EXPECT_NE(error.find(File() + "\", line 2: value outside any key"), std::string::npos) << error;
}

TEST_F(RegistryStore, AFailedWriteKeepsTheOldFile) {
    RegistryKey::CreateKey(Key);
    auto key = RegistryKey::Open(Key);
    key->WriteString("Small", "kept");
    const std::string before = Content();
    {
        FileSizeLimit limit(before.size() + 100);
        EXPECT_EQ(ErrorOf([&] { key->WriteString("Big", std::string(5000, 'x')); }),
                  "Failed to set data for 'Big'");
    }
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(ModeOf(File()), 0600u);
    EXPECT_FALSE(key->ValueExists("Big"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"registry.reg"}); // no temporary file left
}

TEST_F(RegistryStore, WritingFailsWhenTheFolderOrKeyHasGone) {
    RegistryKey::CreateKey(Key);
    auto key = RegistryKey::Open(Key);
    Put(std::string(Header) + "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n");
    EXPECT_EQ(ErrorOf([&] { key->WriteInteger("WinW", 1); }), "Failed to set data for 'WinW'");
    EXPECT_EQ(Content(), std::string(Header) + "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n");

    fs::remove_all(Folder());
    std::ofstream(Folder()) << "not a folder";
    EXPECT_EQ(ErrorOf([&] { key->WriteBool("AutoSkip", true); }),
              "Failed to set data for 'AutoSkip'");
    EXPECT_FALSE(RegistryKey::Open(Key));
}

TEST_F(RegistryStore, WritersOfTheSameFileDoNotLoseEachOthersValues) {
    RegistryKey::CreateKey(Key);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([w] {
            auto key = RegistryKey::Open(Key);
            for (int i = 0; i < 15; ++i)
                key->WriteInteger("V" + std::to_string(w) + "_" + std::to_string(i), i);
        });
    for (std::thread& writer : writers)
        writer.join();
    const auto key = RegistryKey::Open(Key);
    for (int w = 0; w < 4; ++w)
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(key->ReadInteger("V" + std::to_string(w) + "_" + std::to_string(i)), i);
}

TEST_F(RegistryStore, TheFileLivesUnderTheConfigurationFolder) {
    EXPECT_EQ(RegistryFilePath(), Root + "/larkspool/registry.reg");
    const char* home = std::getenv("HOME");
    const std::string oldHome = home != nullptr ? home : "";
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", Root.c_str(), 1);
    EXPECT_EQ(RegistryFilePath(), Root + "/.config/larkspool/registry.reg");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegistryFilePath(), Root + "/.config/larkspool/registry.reg");
    ::setenv("HOME", oldHome.c_str(), 1);
}
