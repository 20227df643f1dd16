#include "cli/SaveOptions.h"

#include "cli/PasswordPrompt.h"
#include "tools/Settings.h"

#include <CLI/CLI.hpp>
#include <re2/re2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <unistd.h>

namespace larkspool {

namespace {

// RE2 runs in time linear in the address, whatever the pattern: a pattern
// that backtracks cannot hold the save for minutes.
RE2::Options PatternOptions() {
    RE2::Options options;
    options.set_log_errors(false);
    return options;
}

// " Default: VALUE (from the stored settings)" or "(built in)": the help
// says where each default comes from. Taken from the store when any of the
// named values was.
std::string DefaultNote(const std::string& Shown, std::initializer_list<std::string_view> Names) {
    bool stored = false;
    for (std::string_view name : Names)
        stored = stored || LoadedFromStore(name);
    return " Default: " + Shown + (stored ? " (from the stored settings)." : " (built in).");
}

// Nobody is there to press Skip: without a countdown of the user's own, a
// file that stalls is skipped after this many seconds instead of holding
// the save for ever.
constexpr int kUnwatchedSkipAfter = 60;

std::string OnOff(bool Value) {
    return Value ? "on" : "off";
}

std::string Quoted(const std::string& Text) {
    return Text.empty() ? "none" : "\"" + Text + "\"";
}

// Where a password can come from besides its option, in the order asked.
struct PasswordSource {
    const char* Option;
    const char* Variable;
    std::string TSettings::*User;
    std::string TSettings::*Password;
    const char* Prompt; // before the user name
};

const PasswordSource PasswordSources[] = {
    {"--password", SitePasswordVariable, &TSettings::UserS, &TSettings::PassS, "Password for "},
    {"--proxy-password", ProxyPasswordVariable, &TSettings::UserP, &TSettings::PassP,
     "Proxy password for "},
};

// The help's note on a password: whether one is there and where from, never
// the password itself.
std::string PasswordNote(const std::string& Stored, const char* Name, const char* Variable) {
    if (std::getenv(Variable) != nullptr)
        return std::string(" Default: set (from ") + Variable + ").";
    return DefaultNote(Stored.empty() ? "none" : "set", {Name});
}

std::string PasswordHelp(const char* Variable) {
    return std::string(" Given here it is visible to other users of this machine in the process "
                       "list: prefer ") +
           Variable +
           " or the one kept in the settings; with a user name and no password, it is asked "
           "for on the terminal.";
}

} // namespace

std::optional<std::string> AskOnTerminal(const std::string& Prompt) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    return ReadPasswordFromTerminal(Prompt, STDIN_FILENO, STDERR_FILENO);
}

int ParseSaveOptions(int argc, char** argv, SaveOptions& Options, const PasswordAsker& Ask) {
    CLI::App app{"Saves a web page, the linked pages you choose, and the pictures and style "
                 "sheets of all of them into one folder, with links rewritten so that the copy "
                 "browses offline. The page is read through headless Chromium.",
                 "larkspool-save"};
    TSettings& s = Settings;
    std::string subfolder;
    bool noSubfolder = false;
    std::string links = "selected";
    std::string handling;
    int skipAfter = -1;

    const char* handlings[] = {"download", "browser", "skip"};
    const std::string storedHandling =
        s.DoWithExtensions >= 0 && s.DoWithExtensions <= 2 ? handlings[s.DoWithExtensions] : "?";

    app.add_option("url", Options.URL, "Address of the page to save")->required();
    app.add_option("-o,--folder", s.DestinationFolder,
                   "Destination folder (must exist)." +
                       DefaultNote(Quoted(s.DestinationFolder), {"DestinationFolder"}));
    app.add_option(
        "--subfolder", subfolder,
        "Save into this subfolder of the destination (created when missing); "
        "without it the stored choice decides, named after the page title." +
            DefaultNote(s.CreateSubFolder ? "a subfolder named after the title" : "no subfolder",
                        {"CreateSubFolder"}));
    app.add_flag("--no-subfolder", noSubfolder, "Save directly into the destination folder");
    app.add_flag("--pictures,!--no-pictures", s.ShowPictures,
                 "Save pictures." + DefaultNote(OnOff(s.ShowPictures), {"ShowPictures"}));
    app.add_flag("--no-external-pictures,!--external-pictures", s.NotExtPic,
                 "Do not save pictures from other hosts than the page's." +
                     DefaultNote(OnOff(s.NotExtPic), {"NotExtPic"}));
    app.add_option("--keywords", s.KeyWords,
                   "Space-separated keywords; with --skip-keyword-pictures, pictures whose "
                   "address contains one are not saved." +
                       DefaultNote(Quoted(s.KeyWords), {"KeyWords"}));
    app.add_flag("--skip-keyword-pictures,!--keyword-pictures", s.NotKeyPic,
                 "Do not save pictures whose address contains a keyword." +
                     DefaultNote(OnOff(s.NotKeyPic), {"NotKeyPic"}));
    app.add_option("--extensions", s.Extensions,
                   "Space-separated extensions of linked files." +
                       DefaultNote(Quoted(s.Extensions), {"Extensions"}));
    app.add_option("--extension-handling", handling,
                   "What to do with linked files of those extensions: download (with "
                   "Larkspool), browser (the browser's downloads), skip (do not download)." +
                       DefaultNote(storedHandling, {"DoWithExtensions"}))
        ->check(CLI::IsMember({"download", "browser", "skip"}));
    app.add_flag("--reuse,!--no-reuse", s.SaveExistF,
                 "Do not reload files an earlier save stored in the folder, relink only." +
                     DefaultNote(OnOff(s.SaveExistF), {"SaveExistF"}));
    app.add_flag("--scripts,!--no-scripts", s.SaveScripts,
                 "Save the scripts of linked pages, so that what they build (menus, tables "
                 "of contents) works offline." +
                     DefaultNote(OnOff(s.SaveScripts), {"SaveScripts"}));
    app.add_flag("--style-files,!--no-style-files", s.SaveStyleFiles,
                 "Save the fonts and pictures that style sheets name." +
                     DefaultNote(OnOff(s.SaveStyleFiles), {"SaveStyleFiles"}));
    const bool storedCountdown = s.AutoSkip && s.SkipSec > 0;
    app.add_option("--skip-after", skipAfter,
                   "Skip a file after this many seconds without data (0: never)." +
                       (storedCountdown
                            ? DefaultNote(std::to_string(s.SkipSec), {"AutoSkip", "SkipSec"})
                            : " Default: " + std::to_string(kUnwatchedSkipAfter) +
                                  " (built in: nobody is there to press Skip)."))
        ->check(CLI::Range(0, 1000));
    app.add_option("--connections", s.Connections,
                   "Requests in flight at once per server, as browsers make them (1: one "
                   "file after the other)." +
                       DefaultNote(std::to_string(std::clamp(s.Connections, 1, MaxConnections)),
                                   {"Connections"}))
        ->check(CLI::Range(1, static_cast<int>(MaxConnections)));
    app.add_option("--user", s.UserS,
                   "Default site user name." + DefaultNote(Quoted(s.UserS), {"UserS"}));
    app.add_option("--password", s.PassS,
                   "Default site password." + PasswordNote(s.PassS, "PassS", SitePasswordVariable) +
                       PasswordHelp(SitePasswordVariable));
    app.add_option("--proxy-user", s.UserP,
                   "Proxy user name." + DefaultNote(Quoted(s.UserP), {"UserP"}));
    app.add_option("--proxy-password", s.PassP,
                   "Proxy password." + PasswordNote(s.PassP, "PassP", ProxyPasswordVariable) +
                       PasswordHelp(ProxyPasswordVariable));
    app.add_option("--cookies", Options.CookiesFile,
                   "Cookies to start with, from a file in the Netscape cookies.txt format (as "
                   "curl -c and wget --save-cookies write it): the page is opened with them and "
                   "every request of the save carries those that fit, with the cookies the "
                   "pages set. Nothing is written back to the file.")
        ->check(CLI::ExistingFile);
    app.add_option("--links", links,
                   "Which linked pages to save: selected (those whose text occurs in "
                   "--selection), all, none, or matching (address matches --match)." +
                       DefaultNote(links, {}))
        ->check(CLI::IsMember({"selected", "all", "none", "matching"}));
    app.add_option("--selection", Options.Selection,
                   "Selection text: links whose text occurs in it are saved." +
                       DefaultNote("none", {}));
    app.add_option("--match", Options.Pattern,
                   "Regular expression (RE2 syntax) for --links matching: links whose "
                   "address it matches are saved." +
                       DefaultNote("none", {}));
    app.add_option("--file-time-limit", Options.FileTimeLimit,
                   "Give up a file that is still coming after this many seconds (0: never), "
                   "as a server that trickles without end would hold the save for ever." +
                       DefaultNote(std::to_string(Options.FileTimeLimit), {}))
        ->check(CLI::Range(0, 86400));
    app.add_flag("--verify,!--no-verify", s.VerifyCopy,
                 "When the save is done (or stopped), open every stored page from the folder in "
                 "headless Chromium with the network cut off and list what would not load." +
                     DefaultNote(OnOff(s.VerifyCopy), {"VerifyCopy"}));
    app.add_flag("--list-links", Options.ListLinks, "Print the numbered link list and exit");
    app.add_flag("-q,--quiet", Options.Quiet, "Print only problems and the summary");
    app.add_option("--frame", Options.Frame,
                   "Read the links of this frame of the page (from 0), as when the save is "
                   "started inside that frame." +
                       DefaultNote("the page itself", {}))
        ->check(CLI::NonNegativeNumber);
    app.footer("Exit status: 0 saved, 2 bad arguments, 3 the browser or the page failed, "
               "4 saved with items that could not be stored, 5 the folder cannot be used, "
               "6 saved, but the offline check (--verify) found files that do not load.\n"
               "Ctrl-C, SIGTERM or SIGHUP stop (the log is written and the pages relinked); "
               "a second one aborts.\n"
               "Passwords come from --password and --proxy-password, else from the environment "
               "variables " +
               std::string(SitePasswordVariable) + " and " + ProxyPasswordVariable +
               ", else from the settings (kept in the desktop's keyring where there is one); "
               "else, with a user name given, they are asked for on the "
               "terminal.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitSaved : kExitBadArguments;
    }
    if (!subfolder.empty()) {
        s.CreateSubFolder = true;
        Options.SubFolderName = subfolder;
    }
    if (noSubfolder)
        s.CreateSubFolder = false;
    if (handling == "download")
        s.DoWithExtensions = 0;
    else if (handling == "browser")
        s.DoWithExtensions = 1;
    else if (handling == "skip")
        s.DoWithExtensions = 2;
    if (skipAfter < 0 && !storedCountdown)
        skipAfter = kUnwatchedSkipAfter;
    if (skipAfter >= 0) {
        s.AutoSkip = skipAfter > 0;
        s.SkipSec = skipAfter;
    }
    Options.Which = links == "all"        ? SaveOptions::Links::All
                    : links == "none"     ? SaveOptions::Links::None
                    : links == "matching" ? SaveOptions::Links::Matching
                                          : SaveOptions::Links::Selected;
    if (Options.Which == SaveOptions::Links::Matching) {
        const RE2 check(Options.Pattern, PatternOptions());
        if (!check.ok()) {
            std::fprintf(stderr, "larkspool-save: --match \"%s\" is not a regular expression: %s\n",
                         Options.Pattern.c_str(), check.error().c_str());
            return kExitBadArguments;
        }
    }
    // Last, so that nobody is asked for a password for arguments that fail.
    for (const PasswordSource& source : PasswordSources) {
        if (app.count(source.Option) > 0)
            continue;
        if (const char* given = std::getenv(source.Variable)) {
            s.*source.Password = given;
            continue;
        }
        if (!(s.*source.Password).empty() || (s.*source.User).empty() || !Ask)
            continue;
        if (std::optional<std::string> answer = Ask(source.Prompt + s.*source.User + ": "))
            s.*source.Password = std::move(*answer);
    }
    return -1;
}

std::vector<LinkRow> ChosenLinks(const SaveOptions& Options, std::vector<LinkRow> Rows) {
    std::vector<LinkRow> chosen;
    const RE2 pattern(Options.Which == SaveOptions::Links::Matching ? Options.Pattern : "",
                      PatternOptions());
    for (LinkRow& row : Rows) {
        bool take = false;
        switch (Options.Which) {
        case SaveOptions::Links::All:
            take = true;
            break;
        case SaveOptions::Links::None:
            break;
        case SaveOptions::Links::Selected:
            take = !row.Text.empty() && Options.Selection.find(row.Text) != std::string::npos;
            break;
        case SaveOptions::Links::Matching:
            take = pattern.ok() && RE2::PartialMatch(row.Address, pattern);
            break;
        }
        if (take)
            chosen.push_back(std::move(row));
    }
    return chosen;
}

} // namespace larkspool
