#pragma once

// The command line of larkspool-save: every option the windows offer, with
// the settings store's values as defaults, so both front ends agree.

#include "browser/LinkCollection.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace larkspool {

struct SaveOptions {
    std::string URL;
    std::optional<std::string> SubFolderName; // set: save into this subfolder
    bool ListLinks = false;
    enum class Links { Selected, All, None, Matching } Which = Links::Selected;
    std::string Selection; // the selection text that pre-checks links
    std::string Pattern;   // for Links::Matching: a regular expression on the address
    bool Quiet = false;
    int Frame = -1;          // >= 0: the page is read as if clicked inside this frame
    int FileTimeLimit = 600; // seconds one file may take; 0: no limit
    std::string CookiesFile; // cookies.txt the browser starts with; empty: none
};

// The environment variables that give the passwords without showing them in
// the process list, as --password and --proxy-password would.
inline constexpr const char* SitePasswordVariable = "LARKSPOOL_PASSWORD";
inline constexpr const char* ProxyPasswordVariable = "LARKSPOOL_PROXY_PASSWORD";

// Asks the user for a password with this prompt; nothing when nobody can be
// asked or no answer came.
using PasswordAsker = std::function<std::optional<std::string>(const std::string& Prompt)>;
// On the terminal, when the standard input is one: the prompt goes to the
// standard error, the answer is read with echo off.
std::optional<std::string> AskOnTerminal(const std::string& Prompt);

// Parses the arguments into Options and into the process-wide Settings
// (loaded from the store before). Returns -1 to go on, else the exit code
// (0 after --help, 2 after bad arguments, with the message printed).
//
// Each password comes from the command line, else from its environment
// variable, else from the stored settings; when none of them has one but a
// user name is given, Ask is asked for it.
int ParseSaveOptions(int argc, char** argv, SaveOptions& Options,
                     const PasswordAsker& Ask = AskOnTerminal);

// The rows the options pick: checked as the window would check them with the
// given selection, all, none, or those whose address matches the pattern.
std::vector<LinkRow> ChosenLinks(const SaveOptions& Options, std::vector<LinkRow> Rows);

// Exit codes.
constexpr int kExitSaved = 0;
constexpr int kExitBadArguments = 2;
constexpr int kExitBrowser = 3;     // the browser or the page failed
constexpr int kExitItemsFailed = 4; // the save ended, with items not saved
constexpr int kExitFolder = 5;      // the output folder cannot be used
constexpr int kExitNotOffline = 6;  // saved, but the offline check found files that do not load

} // namespace larkspool
