#include "app/NativeHost.h"

#include "app/TypeLibrary.h"
#include "platform/MainThreadMailbox.h"
#include "ui/AppValues.h"
#include "ui/MainForm.h"

#include <QCoreApplication>

namespace larkspool {

NativeHost::NativeHost(TStartForm& Form, int In, int Out)
    : App(Form), Exit([](int Code) { QCoreApplication::exit(Code); }), FIn(In), FOut(Out) {
    MainThreadMailbox::Prepare();
    FHelloTimer.setSingleShot(true);
    connect(&FHelloTimer, &QTimer::timeout, this, [this] {
        if (!FIntroduced)
            Refuse("The Larkspool extension in the browser did not describe itself within " +
                   std::to_string((HelloLimit.count() + 999) / 1000) + " seconds.");
    });
}

NativeHost::~NativeHost() {
    if (FConnection)
        FConnection->Close();
}

void NativeHost::Open() {
    // Every handler runs on the main thread, in the order the messages came.
    const auto onMain = [](std::function<void()> Call) {
        MainThreadMailbox::Post(std::move(Call));
    };
    ExtensionConnection::Handlers events;
    events.Hello = [this, onMain](const nlohmann::json& D) { onMain([this, D] { OnHello(D); }); };
    events.Start = [this, onMain](const Variant& W) { onMain([this, W] { OnStart(W); }); };
    events.ReleaseApp = [this, onMain] { onMain([this] { App.ReleaseClient(); }); };
    events.Ended = [this, onMain](const std::string&) { onMain([this] { OnEnded(); }); };
    events.Unexpected = [this, onMain](const nlohmann::json& M) {
        onMain([this, M] {
            if (!FIntroduced)
                Refuse("The Larkspool extension in the browser sent \"" + M.value("type", "?") +
                       "\" without describing itself first.");
        });
    };
    FConnection = ExtensionConnection::Open(FIn, FOut, std::move(events));
    // The browser's cookies go with the save's requests, as the platform's
    // HTTP layer shared them with the browser.
    BrowserCookies = [connection = std::weak_ptr(FConnection)](
                         const std::vector<std::string>& Hosts) -> std::vector<BrowserCookie> {
        const auto open = connection.lock();
        if (!open)
            return {};
        return open->Cookies(Hosts);
    };
    FHelloTimer.start(HelloLimit);
}

void NativeHost::Reply(const nlohmann::json& Message) {
    try {
        FConnection->Send(Message);
    } catch (const std::exception&) {
        // The browser is gone; its end arrives as its own message.
    }
}

void NativeHost::OnHello(const nlohmann::json& Description) {
    if (FIntroduced || FRefused)
        return;
    FHelloTimer.stop();
    // The extension learns what this program offers in any case, so that it
    // can tell the user too.
    Reply({{"type", "hello"}, {"description", LibraryDescription()}});
    if (Description != LibraryDescription()) {
        Refuse("The Larkspool extension in the browser does not fit this program: the extension "
               "was made for " +
               DescribeLibrary(Description) + ", this program offers " +
               DescribeLibrary(LibraryDescription()) +
               ". Install the extension that came with this program.");
        return;
    }
    FIntroduced = true;
}

void NativeHost::OnStart(const Variant& Window) {
    if (!FIntroduced) {
        Refuse("The Larkspool extension in the browser called Start without describing itself "
               "first.");
        return;
    }
    if (App.Started()) {
        Reply({{"type", "started"},
               {"error", "Larkspool serves one Start call per connection; this one was refused"}});
        return;
    }
    try {
        App.Start(Window);
        Reply({{"type", "started"}});
    } catch (const std::exception& e) {
        Reply({{"type", "started"}, {"error", e.what()}});
    }
}

// The browser let go: a save in progress stops (its log written and its
// pages relinked), and the program ends without asking anything.
void NativeHost::OnEnded() {
    if (FRefused)
        return;
    if (MainForm) {
        connect(MainForm, &QDialog::finished, this, [this] { Exit(0); });
        MainForm->StopRun();
        return;
    }
    Exit(0);
}

void NativeHost::Refuse(const std::string& Problem) {
    if (FRefused)
        return;
    FRefused = true;
    FHelloTimer.stop();
    ShowMessage(nullptr, ToQ(Problem), QMessageBox::Ok, QMessageBox::NoButton,
                QMessageBox::Critical);
    FConnection->Close();
    Exit(1);
}

} // namespace larkspool
