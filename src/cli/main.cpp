// larkspool-save: saves a page the way the add-on does, with the page read
// through headless Chromium.
#include "cli/SaveBrowser.h"
#include "cli/SaveCommand.h"
#include "cli/SaveOptions.h"
#include "tools/Settings.h"

#include <QCoreApplication>

#include <cstdio>

using namespace larkspool;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-save: the stored settings were not read: %s\n", e.what());
    }
    SaveOptions options;
    if (const int code = ParseSaveOptions(argc, argv, options); code >= 0)
        return code;
    return SaveCommand(std::move(options), StartChromium).Run();
}
