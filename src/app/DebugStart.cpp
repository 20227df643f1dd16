#include "app/DebugStart.h"

#include "ui/StartForm.h"

#include <QCoreApplication>
#include <QDir>

#include <chrono>

namespace larkspool {

DebugStart::DebugStart(DebugStartOptions Options) : FOptions(std::move(Options)) {}

DebugStart::~DebugStart() {
    if (AppObject == this)
        AppObject = nullptr;
}

void DebugStart::Start(TStartForm& Form) {
    RunGuarded(&Form, [&] {
        FBrowser = std::make_unique<DevToolsBrowser>();
        if (!FOptions.Downloads.empty()) {
            QDir().mkpath(QString::fromStdString(FOptions.Downloads));
            FBrowser->AllowDownloads(FOptions.Downloads);
        }
        Variant window = FBrowser->Open(FOptions.PageURL);
        const std::string target =
            FOptions.Frame >= 0 ? "frames[" + std::to_string(FOptions.Frame) + "]" : "window";
        if (FOptions.SelectAll)
            FBrowser->Evaluate(window, target + ".getSelection().selectAllChildren(" + target +
                                           ".document.body), true");
        if (FOptions.Frame >= 0)
            window = window.Get("frames").Call("Item", {Variant(FOptions.Frame)});
        if (!FOptions.HomeURL.empty())
            HomeURL = FOptions.HomeURL;
        AppObject = this;
        Form.CollectLinks(window);
    });
}

void DebugStart::DropStartReference() {
    QCoreApplication::quit();
}

void DebugStart::Finish() {
    if (!FBrowser)
        return;
    const std::size_t started = FBrowser->DownloadsStarted();
    if (started > 0)
        FBrowser->WaitForDownloads(started, std::chrono::minutes(1));
    FBrowser->Close();
}

} // namespace larkspool
