#include "cli/SaveOptions.h"

#include "platform/registry/RegistryStore.h"
#include "tools/Settings.h"

#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using namespace larkspool;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

namespace {

// The command line as main receives it, in a configuration folder of its own.
class SaveOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings{};
        ::unsetenv(SitePasswordVariable);
        ::unsetenv(ProxyPasswordVariable);
    }
    void TearDown() override {
        ::unsetenv(SitePasswordVariable);
        ::unsetenv(ProxyPasswordVariable);
    }

    // Never the terminal: the prompts are kept, and Answer is the reply.
    int Parse(std::initializer_list<std::string> Arguments) {
        std::vector<std::string> args{"larkspool-save"};
        args.insert(args.end(), Arguments);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        return ParseSaveOptions(static_cast<int>(argv.size()), argv.data(), Options,
                                [this](const std::string& Prompt) {
                                    Prompts.push_back(Prompt);
                                    return Answer;
                                });
    }

    // Settings loaded from a store holding Store (a .reg body).
    void Stored(const std::string& Store) {
        Config.Write(larkspool::check::ConfigFolder::Registry,
                     "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n" + Store);
        Settings = TSettings{};
        LoadSettings();
    }

    // The help text, with the settings loaded from Store (a .reg body).
    std::string Help(const std::string& Store) {
        Config.Write(larkspool::check::ConfigFolder::Registry,
                     "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n" + Store);
        LoadSettings();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(Parse({"--help"}), kExitSaved);
        return ::testing::internal::GetCapturedStdout();
    }

    static std::vector<LinkRow> Rows(std::initializer_list<std::string> Addresses) {
        std::vector<LinkRow> rows;
        for (const std::string& address : Addresses) {
            LinkRow row;
            row.Address = address;
            row.Text = "link";
            rows.push_back(row);
        }
        return rows;
    }

    larkspool::check::ConfigFolder Config;
    const std::string Root = Config.Path();
    SaveOptions Options;
    std::vector<std::string> Prompts;
    std::optional<std::string> Answer;
};

std::vector<std::string> Addresses(const std::vector<LinkRow>& Rows) {
    std::vector<std::string> addresses;
    for (const LinkRow& row : Rows)
        addresses.push_back(row.Address);
    return addresses;
}

} // namespace

TEST_F(SaveOptionsTest, MatchingTakesTheAddressesThePatternFindsAnywhere) {
    ASSERT_EQ(Parse({"http://h/", "--links", "matching", "--match", "birds|PLANTS"}), -1);
    EXPECT_EQ(Addresses(ChosenLinks(Options, Rows({"http://h/birds.html", "http://h/plants.html",
                                                   "http://h/PLANTS/x", "http://h/fish"}))),
              (std::vector<std::string>{"http://h/birds.html", "http://h/PLANTS/x"}));
}

// A pattern that makes a backtracking engine take exponential time ends at
// once on a long address (a backtracking matcher runs for minutes here).
TEST_F(SaveOptionsTest, MatchingTakesLinearTimeOnALongAddress) {
    ASSERT_EQ(Parse({"http://h/", "--links", "matching", "--match", "(.|.)*Z"}), -1);
    const std::string longAddress = "http://h/" + std::string(3100, 'a');
    const std::string endsInZ = longAddress + "Z";
    EXPECT_EQ(Addresses(ChosenLinks(Options, Rows({longAddress, endsInZ}))),
              std::vector<std::string>{endsInZ});
}

TEST_F(SaveOptionsTest, APatternTheEngineRejectsIsABadArgument) {
    for (const char* pattern : {"(", "(a)\\1", "a(?=b)", "[z-a]"}) {
        SCOPED_TRACE(pattern);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Parse({"http://h/", "--links", "matching", "--match", pattern}),
                  kExitBadArguments);
        EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                    HasSubstr("is not a regular expression"));
    }
}

TEST_F(SaveOptionsTest, OtherChoicesTakeAllNoneOrTheSelectedTexts) {
    std::vector<LinkRow> rows = Rows({"http://h/a", "http://h/b"});
    rows[1].Text = "Herons";
    ASSERT_EQ(Parse({"http://h/", "--links", "all"}), -1);
    EXPECT_EQ(ChosenLinks(Options, rows).size(), 2u);
    ASSERT_EQ(Parse({"http://h/", "--links", "none"}), -1);
    EXPECT_TRUE(ChosenLinks(Options, rows).empty());
    ASSERT_EQ(Parse({"http://h/", "--selection", "About Herons here"}), -1);
    EXPECT_EQ(Addresses(ChosenLinks(Options, rows)), std::vector<std::string>{"http://h/b"});
}

// A stalled file never holds a save nobody watches for ever, unless asked.
TEST_F(SaveOptionsTest, AStallIsSkippedByDefaultUnlessTurnedOff) {
    ASSERT_EQ(Parse({"http://h/"}), -1);
    EXPECT_TRUE(Settings.AutoSkip);
    EXPECT_EQ(Settings.SkipSec, 60);
    Settings = TSettings{};
    ASSERT_EQ(Parse({"http://h/", "--skip-after", "0"}), -1);
    EXPECT_FALSE(Settings.AutoSkip);
    Settings = TSettings{};
    Settings.AutoSkip = true;
    Settings.SkipSec = 9; // the user's own countdown
    ASSERT_EQ(Parse({"http://h/"}), -1);
    EXPECT_EQ(Settings.SkipSec, 9);
    Settings = TSettings{};
    const std::string help = Help("");
    EXPECT_THAT(help, HasSubstr("Default: 60 (built in: nobody is there to press Skip)"));
    // and a file that trickles without end is given up after ten minutes
    EXPECT_THAT(help, HasSubstr("trickles without end would hold the save for ever. Default: "
                                "600 (built in)"));
    ASSERT_EQ(Parse({"http://h/", "--file-time-limit", "0"}), -1);
    EXPECT_EQ(Options.FileTimeLimit, 0);
}

// Requests at once per server: as browsers by default, 1 for one after the
// other, and nothing the run could not honour.
TEST_F(SaveOptionsTest, ConnectionsPerServer) {
    ASSERT_EQ(Parse({"http://h/"}), -1);
    EXPECT_EQ(Settings.Connections, 6);
    ASSERT_EQ(Parse({"http://h/", "--connections", "1"}), -1);
    EXPECT_EQ(Settings.Connections, 1);
    for (const char* bad : {"0", "17", "-2", "many"})
        EXPECT_EQ(Parse({"http://h/", "--connections", bad}), kExitBadArguments) << bad;
    // A stored value out of range is brought within it.
    EXPECT_THAT(Help("\"Connections\"=dword:00000028\n"),
                HasSubstr("one file after the other). Default: 16"));
}

TEST_F(SaveOptionsTest, HelpShowsEachDefaultAndWhereItComesFrom) {
    const std::string help =
        Help("\"DestinationFolder\"=\"/srv/saved\"\n\"ShowPictures\"=dword:00000001\n"
             "\"KeyWords\"=\"ads\"\n\"PassS\"=\"secret\"\n");
    EXPECT_THAT(help, HasSubstr("Default: \"/srv/saved\" (from the stored settings)"));
    EXPECT_THAT(help, HasSubstr("Save pictures. Default: on (from the stored settings)"));
    EXPECT_THAT(help, HasSubstr("Default: \"ads\" (from the stored settings)"));
    // Not stored: the built-in values.
    EXPECT_THAT(help, HasSubstr("Default: \"zip exe rar mp3 arj\" (built in)"));
    EXPECT_THAT(help, HasSubstr("Default: on (built in)")); // --reuse when missing
    EXPECT_THAT(help, HasSubstr("Default: selected (built in)"));
    // A stored password is not shown.
    EXPECT_THAT(help, HasSubstr("Default site password. Default: set (from the stored settings)"));
    EXPECT_THAT(help, ::testing::Not(HasSubstr("secret")));
}

TEST_F(SaveOptionsTest, HelpWithoutStoredSettingsShowsBuiltInValues) {
    const std::string help = Help("");
    EXPECT_THAT(help, HasSubstr("Destination folder (must exist). Default: none (built in)"));
    EXPECT_THAT(help, HasSubstr("Default: \"banner advertising\" (built in)"));
    EXPECT_THAT(help, ::testing::Not(HasSubstr("stored settings")));
}

TEST_F(SaveOptionsTest, VerifyComesFromTheStoreAndHasAnExitStatusOfItsOwn) {
    Settings = TSettings{};
    std::string help = Help("\"VerifyCopy\"=dword:00000001\n");
    EXPECT_TRUE(Settings.VerifyCopy);
    EXPECT_THAT(help, HasSubstr("with the network cut off and list what would not load. "
                                "Default: on (from the stored settings)"));
    EXPECT_THAT(help, HasSubstr("6 saved, but the offline check (--verify) found files that do "
                                "not load"));
    ASSERT_EQ(Parse({"http://h/", "--no-verify"}), -1);
    EXPECT_FALSE(Settings.VerifyCopy);
    ASSERT_EQ(Parse({"http://h/", "--verify"}), -1);
    EXPECT_TRUE(Settings.VerifyCopy);
    Settings = TSettings{};
    help = Help("");
    EXPECT_THAT(help, HasSubstr("what would not load. Default: off (built in)"));
}

// The command line wins over the environment, the environment over the
// stored settings; nobody is asked while any of them has a password.
TEST_F(SaveOptionsTest, PasswordsComeFromTheCommandLineTheEnvironmentOrTheStore) {
    Answer = "asked";
    Stored("\"UserS\"=\"ann\"\n\"PassS\"=\"stored\"\n\"UserP\"=\"px\"\n\"PassP\"=\"stored-p\"\n");
    ::setenv(SitePasswordVariable, "from-env", 1);
    ::setenv(ProxyPasswordVariable, "from-env-p", 1);
    ASSERT_EQ(Parse({"http://h/", "--password", "typed", "--proxy-password", "typed-p"}), -1);
    EXPECT_EQ(Settings.PassS, "typed");
    EXPECT_EQ(Settings.PassP, "typed-p");

    Stored("\"UserS\"=\"ann\"\n\"PassS\"=\"stored\"\n\"UserP\"=\"px\"\n\"PassP\"=\"stored-p\"\n");
    ASSERT_EQ(Parse({"http://h/"}), -1);
    EXPECT_EQ(Settings.PassS, "from-env");
    EXPECT_EQ(Settings.PassP, "from-env-p");

    ::unsetenv(SitePasswordVariable);
    Stored("\"UserS\"=\"ann\"\n\"PassS\"=\"stored\"\n\"UserP\"=\"px\"\n\"PassP\"=\"stored-p\"\n");
    ASSERT_EQ(Parse({"http://h/", "--proxy-password", "typed-p"}), -1);
    EXPECT_EQ(Settings.PassS, "stored");
    EXPECT_EQ(Settings.PassP, "typed-p");
    EXPECT_TRUE(Prompts.empty());
}

// With a user name (given or stored) and no password from anywhere, the
// user is asked, for each of the two on its own.
TEST_F(SaveOptionsTest, AUserWithoutAPasswordIsAskedForIt) {
    Answer = "answered";
    ASSERT_EQ(Parse({"http://h/", "--user", "ann"}), -1);
    EXPECT_EQ(Prompts, std::vector<std::string>{"Password for ann: "});
    EXPECT_EQ(Settings.PassS, "answered");
    EXPECT_EQ(Settings.PassP, "");

    Prompts.clear();
    Stored("\"UserP\"=\"proxy-ann\"\n");
    ::setenv(SitePasswordVariable, "", 1); // set, though empty: given
    ASSERT_EQ(Parse({"http://h/", "--user", "ann"}), -1);
    EXPECT_EQ(Prompts, std::vector<std::string>{"Proxy password for proxy-ann: "});
    EXPECT_EQ(Settings.PassS, "");
    EXPECT_EQ(Settings.PassP, "answered");

    // No answer (not a terminal, or the input ended): no password.
    Prompts.clear();
    Answer.reset();
    ::unsetenv(SitePasswordVariable);
    Settings = TSettings{};
    ASSERT_EQ(Parse({"http://h/", "--user", "ann"}), -1);
    EXPECT_EQ(Prompts.size(), 1u);
    EXPECT_EQ(Settings.PassS, "");

    // No user name, or arguments that fail: nobody is asked.
    Prompts.clear();
    Settings = TSettings{};
    ASSERT_EQ(Parse({"http://h/"}), -1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Parse({"http://h/", "--user", "ann", "--connections", "0"}), kExitBadArguments);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Prompts.empty());
}

TEST_F(SaveOptionsTest, NoPasswordIsEverShownInTheHelpOrInAMessage) {
    ::setenv(SitePasswordVariable, "env-secret-1", 1);
    const std::string help = Help("\"PassS\"=\"stored-secret-2\"\n\"PassP\"=\"stored-secret-3\"\n");
    EXPECT_THAT(help, Not(HasSubstr("secret-")));
    EXPECT_THAT(help, HasSubstr("Default: set (from LARKSPOOL_PASSWORD)"));
    EXPECT_THAT(help, HasSubstr("Default: set (from the stored settings)")); // the proxy's
    // What is visible to others, and what is not.
    EXPECT_THAT(help, HasSubstr("visible to other users of this machine in the process list"));
    EXPECT_THAT(help, HasSubstr("LARKSPOOL_PROXY_PASSWORD"));

    for (const auto& bad : {std::vector<std::string>{"--connections", "99"},
                            {"--links", "some"},
                            {"stray"},
                            {"--links", "matching", "--match", "("}}) {
        std::vector<std::string> args{"larkspool-save", "http://h/",        "--password",
                                      "typed-secret-4", "--proxy-password", "typed-secret-5"};
        args.insert(args.end(), bad.begin(), bad.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int code = ParseSaveOptions(static_cast<int>(argv.size()), argv.data(), Options,
                                          [](const std::string&) { return std::nullopt; });
        const std::string printed =
            ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, kExitBadArguments) << bad.back();
        EXPECT_FALSE(printed.empty()) << bad.back();
        EXPECT_THAT(printed, Not(HasSubstr("secret-"))) << bad.back();
    }
}
