#pragma once

// TLSApp: the object the browser side calls Start on. It counts two
// references: the caller's own (dropped when the extension says so, or when
// the connection ends) and the one Start adds for the window; when neither
// is left the program ends.

#include "browser/Variant.h"
#include "ui/AppValues.h"

#include <functional>

namespace larkspool {

class TStartForm;

class TLSApp : public IAppObject {
public:
    explicit TLSApp(TStartForm& Form);
    ~TLSApp() override;

    // Fills the window from the browser's window WB and returns while the
    // window stays open. A failure reading the document is raised after the
    // reference is taken, so the window stays with what was filled.
    void Start(const Variant& WB);
    bool Started() const { return FStarted; }

    // The caller lets go of the object.
    void ReleaseClient();
    bool ClientHoldsReference() const { return FClientReference; }

    void DropStartReference() override;
    void WindowClosed(QWidget* Window) override;

    // Ends the program; the default quits the application's event loop.
    std::function<void()> Quit;

private:
    void QuitWhenUnused();

    TStartForm& FForm;
    bool FClientReference = true;
    bool FStartReference = false;
    bool FStarted = false;
};

// The text of the question asked when the window closes while a caller
// still holds the object.
QString ComServerWarningText();

} // namespace larkspool
