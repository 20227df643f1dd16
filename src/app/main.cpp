// larkspool: the add-on's program. Started by hand it shows what it is and
// how it is used.
#include "app/DebugStart.h"
#include "ui/AppValues.h"
#include "ui/StartForm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStandardPaths>
#include <QTimer>

#include <optional>

using namespace larkspool;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("larkspool"));
    QApplication::setApplicationVersion(QStringLiteral("3.6.0.51"));

    // Developer switches (see README): not the way users start the program.
    QCommandLineParser parser;
    const auto hidden = [](QCommandLineOption Option) {
        Option.setFlags(QCommandLineOption::HiddenFromHelp);
        return Option;
    };
    const QCommandLineOption debugPage =
        hidden({QStringLiteral("debug-page"), QStringLiteral("Open URL in headless Chromium."),
                QStringLiteral("URL")});
    const QCommandLineOption debugFrame =
        hidden({QStringLiteral("debug-frame"), QStringLiteral("Use frame N's window."),
                QStringLiteral("N")});
    const QCommandLineOption debugSelectAll =
        hidden({QStringLiteral("debug-select-all"), QStringLiteral("Select the whole page.")});
    const QCommandLineOption debugHome = hidden(
        {QStringLiteral("debug-home"), QStringLiteral("Update server."), QStringLiteral("URL")});
    const QCommandLineOption debugDownloads =
        hidden({QStringLiteral("debug-downloads"), QStringLiteral("Browser downloads folder."),
                QStringLiteral("FOLDER")});
    parser.addOptions({debugPage, debugFrame, debugSelectAll, debugHome, debugDownloads});
    parser.process(app);

    SetApplicationTitle(QStringLiteral("Larkspool"));
    TStartForm form;
    std::optional<TDebugStart> start;
    if (parser.isSet(debugPage)) {
        TDebugStartOptions options;
        options.PageURL = parser.value(debugPage).toStdString();
        options.Frame = parser.isSet(debugFrame) ? parser.value(debugFrame).toInt() : -1;
        options.SelectAll = parser.isSet(debugSelectAll);
        options.HomeURL = parser.value(debugHome).toStdString();
        options.Downloads =
            parser.isSet(debugDownloads)
                ? parser.value(debugDownloads).toStdString()
                : QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
        start.emplace(std::move(options));
        // The window is shown first; the call comes through the event loop.
        QTimer::singleShot(0, &form, [&] { start->Start(form); });
    }
    form.show();
    const int code = app.exec();
    if (start)
        start->Finish();
    return code;
}
