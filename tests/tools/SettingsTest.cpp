#include "tools/Settings.h"

#include "platform/registry/RegistryStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <tuple>

using namespace larkspool;
namespace fs = std::filesystem;

namespace {

constexpr const char* Section = "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n";

auto Fields(const TSettings& S) {
    return std::tie(S.DestinationFolder, S.CreateSubFolder, S.ShowPictures, S.URLW, S.TextW, S.WinW,
                    S.WinH, S.WinL, S.WinT, S.AutoSkip, S.SkipSec, S.NotExtPic, S.NotKeyPic,
                    S.KeyWords, S.Extensions, S.DoWithExtensions, S.SaveExistF, S.UserS, S.PassS,
                    S.UserP, S.PassP);
}

// Each test starts from the start values, in a configuration folder of its own.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "larkspool-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        ::setenv("XDG_CONFIG_HOME", Root.c_str(), 1);
        Settings = TSettings{};
    }
    void TearDown() override { fs::remove_all(Root); }

    std::string File() const { return Root + "/larkspool/registry.reg"; }
    void Put(const std::string& Text) const {
        fs::create_directories(Root + "/larkspool");
        std::ofstream(File(), std::ios::binary) << Text;
    }
    std::string Content() const {
        std::ifstream in(File(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string Root;
};

std::string ErrorOf(void (*Action)()) {
    try {
        Action();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return "(no error)";
}

TSettings Sample() {
    TSettings s;
    s.DestinationFolder = "/home/ann/Saved \"pages\"\\2024\nsecond line \xC3\xA9t\xC3\xA9";
    s.CreateSubFolder = true;
    s.ShowPictures = true;
    s.URLW = 250;
    s.TextW = 180;
    s.WinW = 800;
    s.WinH = 600;
    s.WinL = -1280;
    s.WinT = 20;
    s.AutoSkip = true;
    s.SkipSec = 1000;
    s.NotExtPic = true;
    s.NotKeyPic = true;
    s.KeyWords = "ads tracker";
    s.Extensions = "zip 7z";
    s.DoWithExtensions = 2;
    s.SaveExistF = false;
    s.UserS = "ann";
    s.PassS = "p\"w\\d\n\xE6\x97\xA5";
    s.UserP = "proxy";
    s.PassP = "";
    return s;
}

} // namespace

TEST_F(SettingsStore, WithoutTheKeyNothingIsLoadedOrSaved) {
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(TSettings{})); // no defaults either: KeyWords stays empty
    Settings = Sample();
    SaveSettings();
    EXPECT_FALSE(fs::exists(Root + "/larkspool"));

    const std::string other = "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell]\n\"KeyWords\"=\"x\"\n";
    Put(other);
    SaveSettings();
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Content(), other);
    EXPECT_EQ(Fields(Settings), Fields(TSettings{}));
}

TEST_F(SettingsStore, EveryFieldIsSavedInOrderWithItsTypeAndLoadsBack) {
    CreateSettingsKey();
    Settings = Sample();
    SaveSettings();
    EXPECT_EQ(Content(),
              std::string("Windows Registry Editor Version 5.00\n\n") + Section +
                  "\"DestinationFolder\"=\"/home/ann/Saved \\\"pages\\\"\\\\2024\\nsecond line "
                  "\xC3\xA9t\xC3\xA9\"\n"
                  "\"CreateSubFolder\"=dword:00000001\n"
                  "\"ShowPictures\"=dword:00000001\n"
                  "\"URLW\"=dword:000000fa\n"
                  "\"TextW\"=dword:000000b4\n"
                  "\"WinW\"=dword:00000320\n"
                  "\"WinH\"=dword:00000258\n"
                  "\"WinL\"=dword:fffffb00\n"
                  "\"WinT\"=dword:00000014\n"
                  "\"AutoSkip\"=dword:00000001\n"
                  "\"SkipSec\"=dword:000003e8\n"
                  "\"NotExtPic\"=dword:00000001\n"
                  "\"NotKeyPic\"=dword:00000001\n"
                  "\"KeyWords\"=\"ads tracker\"\n"
                  "\"Extensions\"=\"zip 7z\"\n"
                  "\"DoWithExtensions\"=dword:00000002\n"
                  "\"SaveExistF\"=dword:00000000\n"
                  "\"UserS\"=\"ann\"\n"
                  "\"PassS\"=\"p\\\"w\\\\d\\n\xE6\x97\xA5\"\n"
                  "\"UserP\"=\"proxy\"\n"
                  "\"PassP\"=\"\"\n");

    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(Sample()));

    // Saving again replaces the values in place instead of adding more.
    const std::string once = Content();
    SaveSettings();
    EXPECT_EQ(Content(), once);
}

TEST_F(SettingsStore, EmptyOrMissingWordListsLoadAsTheirDefaults) {
    Put(std::string(Section) + "\"KeyWords\"=\"\"\n\"Extensions\"=\"\"\n");
    LoadSettings();
    EXPECT_EQ(Settings.KeyWords, "banner advertising");
    EXPECT_EQ(Settings.Extensions, "zip exe rar mp3 arj");

    Put(Section);
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Settings.KeyWords, "banner advertising");
    EXPECT_EQ(Settings.Extensions, "zip exe rar mp3 arj");
}

TEST_F(SettingsStore, SaveExistFIsTrueOnlyWhenMissingOrNonZero) {
    Put(std::string(Section) + "\"SaveExistF\"=dword:00000000\n");
    LoadSettings();
    EXPECT_FALSE(Settings.SaveExistF);

    Put(Section);
    LoadSettings();
    EXPECT_TRUE(Settings.SaveExistF);

    Put(std::string(Section) + "\"SaveExistF\"=dword:00000005\n");
    Settings = TSettings{};
    LoadSettings();
    EXPECT_TRUE(Settings.SaveExistF);
}

TEST_F(SettingsStore, AWrongTypeStopsTheLoadAtThatValue) {
    Put(std::string(Section) + "\"DestinationFolder\"=\"/tmp/x\"\n"
                               "\"CreateSubFolder\"=dword:00000001\n"
                               "\"ShowPictures\"=\"yes\"\n"
                               "\"URLW\"=dword:00000064\n"
                               "\"KeyWords\"=\"k\"\n");
    EXPECT_EQ(ErrorOf(LoadSettings), "Invalid data type for 'ShowPictures'");
    EXPECT_EQ(Settings.DestinationFolder, "/tmp/x");
    EXPECT_TRUE(Settings.CreateSubFolder);
    EXPECT_FALSE(Settings.ShowPictures);
    EXPECT_EQ(Settings.URLW, 0);
    EXPECT_EQ(Settings.KeyWords, "");   // neither read nor defaulted
    EXPECT_EQ(Settings.Extensions, ""); // the same
    EXPECT_FALSE(Settings.SaveExistF);  // missing, yet not made true
}

TEST_F(SettingsStore, AFailedWriteStopsTheSaveAtThatValue) {
    CreateSettingsKey();
    Settings.KeyWords = std::string(20000, 'k');
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = old;
    lowered.rlim_cur = 4096; // room for the values before KeyWords, not for KeyWords
    ::setrlimit(RLIMIT_FSIZE, &lowered);
    const std::string error = ErrorOf(SaveSettings);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);

    EXPECT_EQ(error, "Failed to set data for 'KeyWords'");
    const auto key = RegistryKey::Open(SettingsKey);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->ValueExists("NotKeyPic"));
    EXPECT_FALSE(key->ValueExists("KeyWords"));
    EXPECT_FALSE(key->ValueExists("Extensions"));
    EXPECT_FALSE(key->ValueExists("PassP"));
}

TEST_F(SettingsStore, ADamagedStoreStopsTheLoadAndSaysWhere) {
    Put(std::string(Section) + "\"SkipSec\"=dword:0000000a\n\"URLW\"=dword:zz\n");
    const std::string error = ErrorOf(LoadSettings);
    EXPECT_NE(error.find(File()), std::string::npos) << error;
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_EQ(Fields(Settings), Fields(TSettings{}));
    Settings = Sample();
    EXPECT_EQ(ErrorOf(SaveSettings), error);
    EXPECT_EQ(Content(), std::string(Section) + "\"SkipSec\"=dword:0000000a\n\"URLW\"=dword:zz\n");
}
