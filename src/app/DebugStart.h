#pragma once

// A developer's way into the windows before the browser side exists, and
// for tests: `larkspool --debug-page URL` opens the page in headless
// Chromium and hands its window to the link window as the browser's Start
// call would. Not the way users start the program.

#include "browser/DevToolsBrowser.h"
#include "ui/AppValues.h"

#include <memory>
#include <string>

namespace larkspool {

class TStartForm;

struct DebugStartOptions {
    std::string PageURL;
    int Frame = -1;         // the window of this frame instead of the page's
    bool SelectAll = false; // select the whole document first, as a user would
    std::string HomeURL;    // the update check's server instead of the maker's
    std::string Downloads;  // where the browser stores files handed to it
};

// Stands for the browser's object: when the window drops the reference
// Start took, the program ends.
class DebugStart : public IAppObject {
public:
    explicit DebugStart(DebugStartOptions Options);
    ~DebugStart() override;

    // Opens the page and calls the window's CollectLinks; errors are shown
    // in a message box, as a failed Start would leave the window.
    void Start(TStartForm& Form);
    void DropStartReference() override;

    // Waits (up to a minute) for the files handed to the browser, then
    // closes it.
    void Finish();

private:
    DebugStartOptions FOptions;
    std::unique_ptr<DevToolsBrowser> FBrowser;
};

} // namespace larkspool
