// larkspool: the add-on's program. The browser starts it for its extension
// (the native-messaging host); started by hand it shows what it is and how
// it is used.
#include "app/DebugStart.h"
#include "app/NativeHost.h"
#include "app/Registration.h"
#include "app/StartMode.h"
#include "app/TypeLibrary.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/StartForm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <unistd.h>

using namespace larkspool;

namespace {

// The Chromium extension allowed to start the host (its fixed id).
constexpr const char* ExtensionId = LARKSPOOL_EXTENSION_ID;

// Registers the host on every start. A failure matters only when
// registering was asked for.
bool Register(const std::string& Executable, bool Report) {
    try {
        RegisterHost(Executable, ExtensionId);
        if (Report)
            CreateSettingsKey();
        return true;
    } catch (const std::exception& e) {
        if (Report)
            std::fprintf(stderr, "larkspool: registering failed: %s\n", e.what());
        return false;
    }
}

// Developer switches (see README): not the way users start the program.
std::optional<DebugStartOptions> DebugOptions(const QApplication& App) {
    QCommandLineParser parser;
    const auto hidden = [](QCommandLineOption Option) {
        Option.setFlags(QCommandLineOption::HiddenFromHelp);
        return Option;
    };
    const QCommandLineOption page =
        hidden({QStringLiteral("debug-page"), QStringLiteral("Open URL in headless Chromium."),
                QStringLiteral("URL")});
    const QCommandLineOption frame =
        hidden({QStringLiteral("debug-frame"), QStringLiteral("Use frame N's window."),
                QStringLiteral("N")});
    const QCommandLineOption selectAll =
        hidden({QStringLiteral("debug-select-all"), QStringLiteral("Select the whole page.")});
    const QCommandLineOption home = hidden(
        {QStringLiteral("debug-home"), QStringLiteral("Update server."), QStringLiteral("URL")});
    const QCommandLineOption downloads =
        hidden({QStringLiteral("debug-downloads"), QStringLiteral("Browser downloads folder."),
                QStringLiteral("FOLDER")});
    parser.addOptions({page, frame, selectAll, home, downloads});
    // Switches of the program itself ("-regserver", "/embedding") are not
    // this parser's business.
    parser.parse(App.arguments());
    if (!parser.isSet(page))
        return std::nullopt;
    DebugStartOptions options;
    options.PageURL = parser.value(page).toStdString();
    options.Frame = parser.isSet(frame) ? parser.value(frame).toInt() : -1;
    options.SelectAll = parser.isSet(selectAll);
    options.HomeURL = parser.value(home).toStdString();
    options.Downloads =
        parser.isSet(downloads)
            ? parser.value(downloads).toStdString()
            : QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const StartMode mode = ParseStartMode(arguments);
    if (mode == StartMode::Version) {
        std::fputs(VersionInformation().c_str(), stdout);
        return 0;
    }
    // Registering needs no window (nor a display).
    std::error_code error;
    const std::string executable = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (mode == StartMode::UnregServer) {
        try {
            UnregisterHost();
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "larkspool: unregistering failed: %s\n", e.what());
            return 1;
        }
    }
    const bool registered = Register(executable, mode == StartMode::RegServer);
    if (mode == StartMode::RegServer)
        return registered ? 0 : 1;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("larkspool"));
    QApplication::setApplicationVersion(QString::fromLatin1(FileVersion));

    SetApplicationTitle(QStringLiteral("Larkspool"));
    TStartForm form;
    std::optional<NativeHost> host;
    std::optional<DebugStart> debug;
    if (mode == StartMode::Embedding) {
        // The browser is at the other end of standard input and output; a
        // write after it has gone must fail, not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        host.emplace(form, STDIN_FILENO, STDOUT_FILENO);
        host->Open();
    } else if (std::optional<DebugStartOptions> options = DebugOptions(app)) {
        debug.emplace(std::move(*options));
        // The window is shown first; the call comes through the event loop.
        QTimer::singleShot(0, &form, [&] { debug->Start(form); });
    }
    form.show();
    const int code = app.exec();
    if (debug)
        debug->Finish();
    return code;
}
