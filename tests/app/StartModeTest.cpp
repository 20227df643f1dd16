// How the program reads its start, and its registration as the browsers'
// native-messaging host.
#include "app/StartMode.h"
#include "app/Registration.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace larkspool;

TEST(StartMode, SwitchesAndTheBrowsersStart) {
    EXPECT_EQ(ParseStartMode({}), StartMode::ByHand);
    EXPECT_EQ(ParseStartMode({"-regserver"}), StartMode::RegServer);
    EXPECT_EQ(ParseStartMode({"/RegServer"}), StartMode::RegServer);
    EXPECT_EQ(ParseStartMode({"--REGSERVER"}), StartMode::RegServer);
    EXPECT_EQ(ParseStartMode({"-unregserver"}), StartMode::UnregServer);
    EXPECT_EQ(ParseStartMode({"-regserver", "/UNREGSERVER"}), StartMode::UnregServer);
    EXPECT_EQ(ParseStartMode({"-Embedding"}), StartMode::Embedding);
    EXPECT_EQ(ParseStartMode({"/automation"}), StartMode::Embedding);
    EXPECT_EQ(ParseStartMode({"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}),
              StartMode::Embedding);
    EXPECT_EQ(ParseStartMode({"/home/u/.mozilla/native-messaging-hosts/larkspool.lsapp.json",
                              "larkspool@vandrell.example"}),
              StartMode::Embedding);
    EXPECT_EQ(ParseStartMode({"--version"}), StartMode::Version);
    // Anything else is a start by hand, also a stray path.
    EXPECT_EQ(ParseStartMode({"/tmp/page.html", "-x"}), StartMode::ByHand);
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", Home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home + "/config").c_str(), 1);
    }

    static nlohmann::json Read(const std::string& Path) {
        std::ifstream in(Path);
        return nlohmann::json::parse(in);
    }

    check::TempFolder HomeFolder{"larkspool-home"};
    const std::string Home = HomeFolder.Path();
};

TEST_F(Registration, ManifestsAppearAndDisappear) {
    RegisterHost("/opt/larkspool/bin/larkspool", "abcdefghijklmnopabcdefghijklmnop");
    const std::string chromium =
        Home + "/config/chromium/NativeMessagingHosts/larkspool.lsapp.json";
    const std::string chrome =
        Home + "/config/google-chrome/NativeMessagingHosts/larkspool.lsapp.json";
    const std::string firefox = Home + "/.mozilla/native-messaging-hosts/larkspool.lsapp.json";
    for (const std::string& path : {chromium, chrome, firefox}) {
        const nlohmann::json manifest = Read(path);
        EXPECT_EQ(manifest["name"], "larkspool.lsapp") << path;
        EXPECT_EQ(manifest["path"], "/opt/larkspool/bin/larkspool") << path;
        EXPECT_EQ(manifest["type"], "stdio") << path;
    }
    EXPECT_EQ(Read(chromium)["allowed_origins"],
              nlohmann::json({"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}));
    EXPECT_EQ(Read(firefox)["allowed_extensions"], nlohmann::json({"larkspool@vandrell.example"}));
    EXPECT_FALSE(Read(firefox).contains("allowed_origins"));

    // Registering again refreshes the path.
    RegisterHost("/usr/bin/larkspool", "abcdefghijklmnopabcdefghijklmnop");
    EXPECT_EQ(Read(chrome)["path"], "/usr/bin/larkspool");

    UnregisterHost();
    for (const std::string& path : {chromium, chrome, firefox})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_NO_THROW(UnregisterHost()); // nothing left to remove
}

TEST_F(Registration, AFolderThatCannotBeMadeIsReported) {
    std::ofstream(Home + "/config") << "a file where the folder should be";
    try {
        RegisterHost("/usr/bin/larkspool", "abcdefghijklmnopabcdefghijklmnop");
        FAIL() << "registering into a file succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(Home + "/config/chromium"), std::string::npos)
            << e.what();
    }
}
