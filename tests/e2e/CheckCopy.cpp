// Opens every saved page of a folder from disk in headless Chromium (the
// server is gone by then) and reports pictures that did not load and style
// sheets whose rules the page did not get. Files of the folder may read each
// other here, so a style sheet that loaded exposes its rules, and one that
// failed refuses them. Prints "N passed, N failed" over the pages.
//   larkspool-check-copy FOLDER
#include "browser/DevToolsBrowser.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace larkspool;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: larkspool-check-copy FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = std::filesystem::absolute(argv[1]);
    int passed = 0, failed = 0;
    try {
        DevToolsBrowser::Options options;
        options.ExtraFlags = {"--allow-file-access-from-files"};
        DevToolsBrowser browser(options);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename();
            if (!name.ends_with(".html") && name != "INDEX.HTML")
                continue;
            const Variant window = browser.Open("file://" + entry.path().string());
            const std::string broken =
                browser
                    .Evaluate(window,
                              "[...document.images].filter(i => !i.complete || i.naturalWidth "
                              "== 0).map(i => 'picture ' + i.getAttribute('src')).concat("
                              "[...document.querySelectorAll('link[rel=stylesheet]')].filter("
                              "l => { try { return !l.sheet.cssRules; } catch (e) { return true; } "
                              "}).map(l => 'style sheet ' + l.getAttribute('href'))).join(', ')")
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
