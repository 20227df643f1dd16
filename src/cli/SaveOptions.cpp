#include "cli/SaveOptions.h"

#include "tools/Settings.h"

#include <CLI/CLI.hpp>

#include <regex>

namespace larkspool {

int ParseSaveOptions(int argc, char** argv, TSaveOptions& Options) {
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

    app.add_option("url", Options.URL, "Address of the page to save")->required();
    app.add_option("-o,--folder", s.DestinationFolder, "Destination folder (must exist)")
        ->capture_default_str();
    app.add_option("--subfolder", subfolder,
                   "Save into this subfolder of the destination (created when missing); "
                   "without it the stored choice decides, named after the page title");
    app.add_flag("--no-subfolder", noSubfolder, "Save directly into the destination folder");
    app.add_flag("--pictures,!--no-pictures", s.ShowPictures, "Save pictures")
        ->capture_default_str();
    app.add_flag("--no-external-pictures,!--external-pictures", s.NotExtPic,
                 "Do not save pictures from other hosts than the page's");
    app.add_option("--keywords", s.KeyWords,
                   "Space-separated keywords; with --skip-keyword-pictures, pictures whose "
                   "address contains one are not saved")
        ->capture_default_str();
    app.add_flag("--skip-keyword-pictures,!--keyword-pictures", s.NotKeyPic,
                 "Do not save pictures whose address contains a keyword");
    app.add_option("--extensions", s.Extensions, "Space-separated extensions of linked files")
        ->capture_default_str();
    app.add_option("--extension-handling", handling,
                   "What to do with linked files of those extensions: download (with "
                   "Larkspool), browser (the browser's downloads), skip (do not download)")
        ->check(CLI::IsMember({"download", "browser", "skip"}));
    app.add_flag("--reuse,!--no-reuse", s.SaveExistF,
                 "Do not reload files an earlier save stored in the folder, relink only");
    app.add_option("--skip-after", skipAfter,
                   "Skip a file after this many seconds without data (0: never)")
        ->check(CLI::Range(0, 1000));
    app.add_option("--user", s.UserS, "Default site user name");
    app.add_option("--password", s.PassS, "Default site password");
    app.add_option("--proxy-user", s.UserP, "Proxy user name");
    app.add_option("--proxy-password", s.PassP, "Proxy password");
    app.add_option("--links", links,
                   "Which linked pages to save: selected (those whose text occurs in "
                   "--selection), all, none, or matching (address matches --match)")
        ->check(CLI::IsMember({"selected", "all", "none", "matching"}))
        ->capture_default_str();
    app.add_option("--selection", Options.Selection,
                   "Selection text: links whose text occurs in it are saved");
    app.add_option("--match", Options.Pattern, "Regular expression for --links matching");
    app.add_flag("--list-links", Options.ListLinks, "Print the numbered link list and exit");
    app.add_flag("-q,--quiet", Options.Quiet, "Print only problems and the summary");
    app.add_option("--frame", Options.Frame,
                   "Read the links of this frame of the page (from 0), as when the save is "
                   "started inside that frame")
        ->check(CLI::NonNegativeNumber);
    app.footer("Exit status: 0 saved, 2 bad arguments, 3 the browser or the page failed, "
               "4 saved with items that could not be stored, 5 the folder cannot be used.\n"
               "Ctrl-C stops (the log is written and the pages relinked); a second Ctrl-C "
               "aborts.");

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
    if (skipAfter >= 0) {
        s.AutoSkip = skipAfter > 0;
        s.SkipSec = skipAfter;
    }
    Options.Which = links == "all"        ? TSaveOptions::Links::All
                    : links == "none"     ? TSaveOptions::Links::None
                    : links == "matching" ? TSaveOptions::Links::Matching
                                          : TSaveOptions::Links::Selected;
    if (Options.Which == TSaveOptions::Links::Matching) {
        try {
            std::regex check(Options.Pattern);
        } catch (const std::regex_error& e) {
            std::fprintf(stderr, "larkspool-save: --match \"%s\" is not a regular expression: %s\n",
                         Options.Pattern.c_str(), e.what());
            return kExitBadArguments;
        }
    }
    return -1;
}

std::vector<TLinkRow> ChosenLinks(const TSaveOptions& Options, std::vector<TLinkRow> Rows) {
    std::vector<TLinkRow> chosen;
    std::regex pattern;
    if (Options.Which == TSaveOptions::Links::Matching)
        pattern = std::regex(Options.Pattern);
    for (TLinkRow& row : Rows) {
        bool take = false;
        switch (Options.Which) {
        case TSaveOptions::Links::All:
            take = true;
            break;
        case TSaveOptions::Links::None:
            break;
        case TSaveOptions::Links::Selected:
            take = !row.Text.empty() && Options.Selection.find(row.Text) != std::string::npos;
            break;
        case TSaveOptions::Links::Matching:
            take = std::regex_search(row.Address, pattern);
            break;
        }
        if (take)
            chosen.push_back(std::move(row));
    }
    return chosen;
}

} // namespace larkspool
