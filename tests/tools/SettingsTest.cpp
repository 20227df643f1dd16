#include "tools/Settings.h"

#include "platform/registry/RegistryStore.h"
#include "platform/secrets/SecretStore.h"

#include "support/PrivateSessionBus.h"
#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

using namespace larkspool;
using check::PrivateSessionBus;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::ThrowsMessage;
namespace fs = std::filesystem;

namespace {

const std::string Section = "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n";

// Every field in order, to compare records or to set one all at once.
template <typename T> auto Fields(T&& S) {
    return std::tie(S.DestinationFolder, S.CreateSubFolder, S.ShowPictures, S.URLW, S.TextW, S.WinW,
                    S.WinH, S.WinL, S.WinT, S.AutoSkip, S.SkipSec, S.NotExtPic, S.NotKeyPic,
                    S.KeyWords, S.Extensions, S.DoWithExtensions, S.SaveExistF, S.UserS, S.PassS,
                    S.UserP, S.PassP, S.SaveScripts, S.SaveStyleFiles, S.VerifyCopy, S.Connections);
}

// Each test starts from the start values, in a configuration folder of its own.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { Settings = TSettings{}; }

    void Put(const std::string& Text) const { Config.Write(check::ConfigFolder::Registry, Text); }
    std::string Content() const { return Config.Read(check::ConfigFolder::Registry); }

    check::ConfigFolder Config;
    const std::string Root = Config.Path();
};

} // namespace

TEST_F(SettingsStore, WithoutTheKeyNothingIsLoadedOrSaved) {
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(TSettings{})); // no defaults either: KeyWords stays empty
    Settings.KeyWords = "x";
    SaveSettings();
    EXPECT_FALSE(fs::exists(Root + "/larkspool"));
}

TEST_F(SettingsStore, EveryFieldIsSavedUnderItsNameAndTypeEscapedAndLoadsBack) {
    CreateSettingsKey();
    Fields(Settings) =
        std::tuple("/home/ann/Saved \"pages\"\\2024\r\nsecond line \xC3\xA9t\xC3\xA9", true, true,
                   250, 180, 800, 600, -1280, 20, true, 1000, true, true, "ads tracker", "zip 7z",
                   2, false, "ann", "p\"w\\d\n\xE6\x97\xA5", "proxy", "", false, true, true, 3);
    const TSettings saved = Settings;
    SaveSettings();
    EXPECT_EQ(Content(),
              "Windows Registry Editor Version 5.00\n\n" + Section +
                  "\"DestinationFolder\"=\"/home/ann/Saved \\\"pages\\\"\\\\2024\\r\\nsecond line "
                  "\xC3\xA9t\xC3\xA9\"\n"
                  "\"CreateSubFolder\"=dword:00000001\n\"ShowPictures\"=dword:00000001\n"
                  "\"URLW\"=dword:000000fa\n\"TextW\"=dword:000000b4\n\"WinW\"=dword:00000320\n"
                  "\"WinH\"=dword:00000258\n\"WinL\"=dword:fffffb00\n\"WinT\"=dword:00000014\n"
                  "\"AutoSkip\"=dword:00000001\n\"SkipSec\"=dword:000003e8\n"
                  "\"NotExtPic\"=dword:00000001\n\"NotKeyPic\"=dword:00000001\n"
                  "\"KeyWords\"=\"ads tracker\"\n\"Extensions\"=\"zip 7z\"\n"
                  "\"DoWithExtensions\"=dword:00000002\n\"SaveExistF\"=dword:00000000\n"
                  "\"UserS\"=\"ann\"\n\"PassS\"=\"p\\\"w\\\\d\\n\xE6\x97\xA5\"\n"
                  "\"UserP\"=\"proxy\"\n\"PassP\"=\"\"\n"
                  "\"SaveScripts\"=dword:00000000\n\"SaveStyleFiles\"=dword:00000001\n"
                  "\"VerifyCopy\"=dword:00000001\n\"Connections\"=dword:00000003\n");
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(saved));
}

TEST_F(SettingsStore, LoadDefaultsForWordListsAndSaveExistF) {
    for (const char* values : {"\"KeyWords\"=\"\"\n\"Extensions\"=\"\"\n", ""}) {
        Put(Section + values);
        Settings = TSettings{};
        LoadSettings();
        EXPECT_EQ(Settings.KeyWords, "banner advertising") << values;
        EXPECT_EQ(Settings.Extensions, "zip exe rar mp3 arj") << values;
        EXPECT_TRUE(Settings.SaveExistF) << values; // absent
        EXPECT_TRUE(Settings.SaveScripts) << values;
        EXPECT_TRUE(Settings.SaveStyleFiles) << values;
        EXPECT_EQ(Settings.Connections, 6) << values; // absent: as browsers do
    }
    for (const auto& [value, expected] : {std::pair{"00000000", false}, {"00000005", true}}) {
        Put(Section + "\"SaveExistF\"=dword:" + value + "\n");
        Settings.SaveExistF = !expected;
        LoadSettings();
        EXPECT_EQ(Settings.SaveExistF, expected) << value;
    }
}

TEST_F(SettingsStore, AWrongTypeStopsTheLoadAtThatValue) {
    Put(Section + "\"DestinationFolder\"=\"/tmp/x\"\n\"ShowPictures\"=\"yes\"\n"
                  "\"URLW\"=dword:00000064\n\"KeyWords\"=\"k\"\n");
    EXPECT_THAT(LoadSettings, ThrowsMessage<RegistryError>("Invalid data type for 'ShowPictures'"));
    EXPECT_EQ(Settings.DestinationFolder, "/tmp/x");
    EXPECT_EQ(Settings.URLW, 0);
    EXPECT_EQ(Settings.KeyWords, "");  // neither read nor defaulted
    EXPECT_FALSE(Settings.SaveExistF); // absent, yet not made true
}

namespace {

// The file without the lines of Names in the settings key (other keys keep theirs).
std::string Without(std::string Text, std::initializer_list<std::string> Names) {
    const std::size_t from = Text.find(Section);
    for (const std::string& name : Names) {
        const std::size_t at = Text.find("\n\"" + name + "\"=", from);
        Text.erase(at + 1, Text.find('\n', at + 1) - at);
    }
    return Text;
}

} // namespace

TEST_F(SettingsStore, WithASecretServiceThePasswordsAreKeptThereAndNotInTheFile) {
    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    CreateSettingsKey();
    Settings.UserS = "ann";
    Settings.PassS = "site \"pw\"\\\n\xE6\x97\xA5";
    Settings.UserP = "proxy";
    Settings.PassP = "proxy-pw";
    Settings.KeyWords = "ads";
    Settings.Extensions = "zip";
    const TSettings saved = Settings;
    SaveSettings();
    const std::string file = Content();
    EXPECT_THAT(file, HasSubstr("\"UserS\"=\"ann\"\n\"UserP\"=\"proxy\"\n"));
    EXPECT_THAT(file, Not(HasSubstr("Pass")));
    EXPECT_THAT(file, Not(HasSubstr("pw")));
    {
        SecretStore secrets;
        EXPECT_EQ(secrets.Lookup("PassS"), saved.PassS);
        EXPECT_EQ(secrets.Lookup("PassP"), saved.PassP);
    }
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(saved));
    EXPECT_TRUE(LoadedFromStore("PassS"));
    EXPECT_TRUE(LoadedFromStore("PassP"));
}

// A file from before (or from a time without a secret service): its passwords
// are used, and the next save moves them into the service, leaving every other
// line of the file as it was.
TEST_F(SettingsStore, APasswordInTheFileMovesToTheSecretServiceOnTheNextSave) {
    CreateSettingsKey();
    Settings.UserS = "ann";
    Settings.PassS = "plain-site";
    Settings.PassP = "plain-proxy";
    Settings.KeyWords = "ads";
    Settings.Extensions = "zip";
    SaveSettings(); // no bus: both into the file, as always
    std::string before =
        Content() + "\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"PassS\"=\"other's\"\n";
    before.insert(before.find('\n') + 1, "; by hand\n");
    Put(before);
    ASSERT_THAT(before, HasSubstr("\"PassS\"=\"plain-site\"\n"));

    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Settings.PassS, "plain-site");
    EXPECT_EQ(Settings.PassP, "plain-proxy");
    EXPECT_TRUE(LoadedFromStore("PassS"));
    SaveSettings();
    EXPECT_EQ(Content(), Without(before, {"PassS", "PassP"}));
    SecretStore secrets;
    EXPECT_EQ(secrets.Lookup("PassS"), "plain-site");
    EXPECT_EQ(secrets.Lookup("PassP"), "plain-proxy");
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Settings.PassS, "plain-site");
    EXPECT_EQ(Settings.PassP, "plain-proxy");
}

TEST_F(SettingsStore, TheSecretServicesPasswordWinsOverOneInTheFile) {
    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    {
        SecretStore secrets;
        ASSERT_TRUE(secrets.Store("PassS", "Larkspool site password", "kept"));
    }
    Put(Section + "\"PassS\"=\"stale\"\n\"PassP\"=\"only-here\"\n");
    LoadSettings();
    EXPECT_EQ(Settings.PassS, "kept");
    EXPECT_EQ(Settings.PassP, "only-here");
}

TEST_F(SettingsStore, AnEmptyPasswordRemovesTheKeptOne) {
    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    CreateSettingsKey();
    Settings.PassS = "pw";
    Settings.PassP = "proxy-pw";
    SaveSettings();
    Settings.PassS.clear();
    SaveSettings();
    SecretStore secrets;
    EXPECT_EQ(secrets.Lookup("PassS"), std::nullopt);
    EXPECT_EQ(secrets.Lookup("PassP"), "proxy-pw");
    EXPECT_THAT(Content(), Not(HasSubstr("Pass")));
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Settings.PassS, "");
    EXPECT_FALSE(LoadedFromStore("PassS"));
    EXPECT_EQ(Settings.PassP, "proxy-pw");
}

// A bus without a secret service: the file keeps the passwords, as without
// any bus, and owner-only.
TEST_F(SettingsStore, WithoutASecretServiceThePasswordsStayInTheFile) {
    PrivateSessionBus bus(PrivateSessionBus::Service::None);
    CreateSettingsKey();
    Settings.PassS = "pw";
    Settings.PassP = "proxy-pw";
    SaveSettings();
    EXPECT_THAT(Content(), HasSubstr("\"PassS\"=\"pw\"\n"));
    EXPECT_THAT(Content(), HasSubstr("\"PassP\"=\"proxy-pw\"\n"));
    EXPECT_EQ(fs::status(Config.File(check::ConfigFolder::Registry)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    Settings = TSettings{};
    LoadSettings();
    EXPECT_EQ(Settings.PassS, "pw");
    EXPECT_EQ(Settings.PassP, "proxy-pw");
}
