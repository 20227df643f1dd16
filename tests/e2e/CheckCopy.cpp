// Opens every saved page of a folder from disk in headless Chromium (the
// server is gone by then) and reports pictures that did not load and style
// sheets whose rules the page did not get. Files of the folder may read each
// other here, so a style sheet that loaded exposes its rules, and one that
// failed refuses them. Prints "N passed, N failed" over the pages. With
// --local-only, only references to files of the folder count (a copy of a
// hostile site keeps references to the server for what it did not store).
//   larkspool-check-copy [--local-only] FOLDER
#include "browser/DevToolsBrowser.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace larkspool;

int main(int argc, char** argv) {
    const bool localOnly = argc == 3 && std::string(argv[1]) == "--local-only";
    if (argc != 2 && !localOnly) {
        std::fprintf(stderr, "usage: larkspool-check-copy [--local-only] FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = std::filesystem::absolute(argv[argc - 1]);
    // Which references count: all, or those without a scheme or host.
    const std::string counts =
        localOnly ? "v => v !== null && !/^\\s*([a-z][a-z0-9+.-]*:|\\/\\/)/i.test(v)" : "v => true";
    int passed = 0, failed = 0;
    try {
        DevToolsBrowser::Options options;
        options.ExtraFlags = {"--allow-file-access-from-files"};
        DevToolsBrowser browser(options);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename();
            if (!name.ends_with(".html") && !name.ends_with(".htm") && name != "INDEX.HTML")
                continue;
            const Variant window = browser.Open("file://" + entry.path().string());
            const std::string broken =
                browser
                    .Evaluate(window,
                              "(counts => [...document.images].filter(i => counts(i.getAttribute("
                              "'src')) && (!i.complete || i.naturalWidth == 0)).map(i => "
                              "'picture ' + i.getAttribute('src')).concat([...document."
                              "querySelectorAll('link[rel=stylesheet]')].filter(l => counts(l."
                              "getAttribute('href'))).filter(l => { try { return !l.sheet."
                              "cssRules; } catch (e) { return true; } }).map(l => 'style sheet ' "
                              "+ l.getAttribute('href'))).join(', '))(" +
                                  counts + ")")
                    .ToText();
            if (broken.empty()) {
                ++passed;
            } else {
                ++failed;
                std::printf("%s: did not load: %s\n", name.c_str(), broken.c_str());
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-check-copy: %s\n", e.what());
        return 1;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
