// The program as the browser starts it: the connection to the extension
// (played here by a thread answering from an in-memory page), the
// self-description, the one Start call, releasing, the end of the
// connection, and the question when the window closes too early.
#include "app/NativeHost.h"
#include "app/TypeLibrary.h"
#include "browser/ExtensionProtocol.h"
#include "browser/MemoryObjects.h"
#include "browser/NativeMessaging.h"
#include "platform/AtomicFile.h"
#include "support/LocalServer.h"
#include "support/MessageBoxWatch.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/MainForm.h"
#include "ui/StartForm.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

using namespace larkspool;
using namespace larkspool::check;
using nlohmann::json;

namespace {

// The extension's side: answers the program's calls on an in-memory page
// from a handle table, and keeps every other message for the test.
class FakeExtension {
public:
    explicit FakeExtension(const Variant& Window) {
        int host[2], ours[2];
        QVERIFY2(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, host) == 0, "socketpair");
        QVERIFY2(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ours) == 0, "socketpair");
        // The host reads host[0] and writes ours[0]; we write host[1] and read ours[1].
        HostIn = host[0];
        ToHost = host[1];
        HostOut = ours[0];
        FromHost = ours[1];
        Handles[1] = Window;
        FReader = std::thread([this] { Answer(); });
    }
    ~FakeExtension() {
        CloseConnection();
        ::shutdown(FromHost, SHUT_RDWR);
        FReader.join();
        for (int fd : {HostIn, HostOut, FromHost})
            ::close(fd);
    }

    void Send(const json& Message) { WriteNativeMessage(ToHost, Message); }
    // The browser lets go: the host reads the end of its input.
    void CloseConnection() {
        if (ToHost >= 0)
            ::close(ToHost);
        ToHost = -1;
    }
    void Hello(json Description = LibraryDescription()) {
        Send({{"type", "hello"}, {"description", std::move(Description)}});
    }
    void Start() {
        Send({{"type", "start"},
              {"window", {{"type", "object"}, {"handle", 1}, {"class", "Window"}}}});
    }

    // The messages of a type received so far.
    std::vector<json> Received(const std::string& Type) {
        std::lock_guard lock(FLock);
        std::vector<json> found;
        for (const json& m : FReceived)
            if (m.value("type", "") == Type)
                found.push_back(m);
        return found;
    }

    int HostIn = -1, HostOut = -1;
    // What a question for cookies is answered with (its id added).
    json CookiesReply = {{"type", "reply"}, {"cookies", json::array()}};

private:
    // Objects handed out get the next handle, as the page's table does.
    json Encode(const Variant& Value) {
        return EncodeValue(Value, [this](const DispatchPtr& Object) {
            const std::int64_t handle = FNext++;
            Handles[handle] = Variant(Object);
            return handle;
        });
    }

    Variant Decode(const json& Value) {
        return DecodeValue(
            Value, [this](std::int64_t Handle, const std::string&) { return Handles.at(Handle); });
    }

    void Answer() {
        while (std::optional<json> message = ReadNativeMessage(FromHost)) {
            if (message->value("type", "") == "cookies" && ToHost >= 0) {
                std::lock_guard lock(FLock);
                FReceived.push_back(*message);
                json reply = CookiesReply;
                reply["id"] = message->value("id", json());
                WriteNativeMessage(ToHost, reply);
                continue;
            }
            const std::optional<CallRequest> call = ReadCall(*message);
            if (!call) {
                std::lock_guard lock(FLock);
                FReceived.push_back(*message);
                continue;
            }
            CallReply reply;
            reply.Id = call->Id;
            try {
                const Variant target = Handles.at(call->Handle);
                std::vector<Variant> args;
                for (const json& a : call->Args)
                    args.push_back(Decode(a));
                if (call->Op == "get")
                    reply.Value = Encode(target.Get(call->Name));
                else if (call->Op == "call")
                    reply.Value = Encode(target.ToObject()->Call(call->Name, args));
                else
                    target.Put(call->Name, args.at(0)), reply.Value = Encode(Variant());
            } catch (const std::exception& e) {
                reply.Error = PageError{"other", e.what()};
            }
            if (ToHost >= 0)
                WriteNativeMessage(ToHost, ReplyMessage(reply));
        }
    }

    int ToHost = -1, FromHost = -1;
    std::map<std::int64_t, Variant> Handles;
    std::int64_t FNext = 2;
    std::thread FReader;
    std::mutex FLock;
    std::vector<json> FReceived;
};

MemoryPage SamplePage() {
    MemoryPage page;
    page.Url = "http://127.0.0.1:1/start.html";
    page.Title = "Start";
    page.Selection = "Birds and more";
    page.Links = {{"http://127.0.0.1:1/birds.html", "Birds"}, {"http://127.0.0.1:1/x.html", "X"}};
    return page;
}

} // namespace

class NativeHostTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FHome;
    std::unique_ptr<TStartForm> FForm;
    std::unique_ptr<FakeExtension> FExtension;
    std::unique_ptr<NativeHost> FHost;
    std::vector<int> FExits;
    int FQuits = 0;

    NativeHost& Open(const Variant& Window,
                     std::chrono::milliseconds HelloLimit = std::chrono::seconds(10)) {
        FExtension = std::make_unique<FakeExtension>(Window);
        FForm = std::make_unique<TStartForm>();
        FForm->show();
        HomeURL = "http://127.0.0.1:1/";
        FHost = std::make_unique<NativeHost>(*FForm, FExtension->HostIn, FExtension->HostOut);
        FHost->Exit = [this](int Code) { FExits.push_back(Code); };
        FHost->App.Quit = [this] { ++FQuits; };
        FHost->HelloLimit = HelloLimit;
        FHost->Open();
        return *FHost;
    }
    NativeHost& Open(const MemoryPage& Page) { return Open(Variant(MakeMemoryWindow(Page))); }

private slots:
    void init() {
        FHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", FHome->path().toUtf8());
        Settings = TSettings{};
        FExits.clear();
        FQuits = 0;
    }
    void cleanup() {
        FHost.reset();
        FForm.reset();
        FExtension.reset();
        AppObject = nullptr;
        BrowserWindow = Variant();
        BrowserCookies = nullptr;
    }

    // The save asks the extension for the cookies of its hosts; a refusal
    // reaches the run as an error that says why.
    void theBrowsersCookiesAreAskedFor() {
        Open(SamplePage());
        FExtension->Hello();
        QTRY_COMPARE(FExtension->Received("hello").size(), std::size_t(1));
        QVERIFY(BrowserCookies);
        FExtension->CookiesReply["cookies"] = json::parse(
            R"([{"domain": "127.0.0.1", "hostOnly": true, "path": "/", "secure": false,
                 "httpOnly": true, "session": true, "name": "sid", "value": "abc"},
                {"domain": "127.0.0.1", "name": "broken", "value": "a\nb"}])");
        const std::vector<BrowserCookie> cookies = BrowserCookies({"127.0.0.1", "localhost"});
        QCOMPARE(cookies.size(), std::size_t(1));
        QVERIFY(cookies[0] ==
                (BrowserCookie{"127.0.0.1", false, "/", false, true, 0, "sid", "abc"}));
        QVERIFY(FExtension->Received("cookies").at(0)["hosts"] ==
                json::array({"127.0.0.1", "localhost"}));

        FExtension->CookiesReply = {{"type", "reply"},
                                    {"error", {{"kind", "other"}, {"text", "no permission"}}}};
        try {
            BrowserCookies({"127.0.0.1"});
            QFAIL("a refusal was taken for an answer");
        } catch (const DispatchError& e) {
            QVERIFY(std::string(e.what()).find("no permission") != std::string::npos);
        }
        // Once the connection is gone, nothing is asked and nothing breaks.
        FHost.reset();
        QVERIFY(BrowserCookies({"127.0.0.1"}).empty());
    }

    void startFillsTheWindowOnce() {
        Open(SamplePage());
        FExtension->Hello();
        QTRY_COMPARE(FExtension->Received("hello").size(), std::size_t(1));
        QVERIFY(FExtension->Received("hello")[0]["description"] == LibraryDescription());
        FExtension->Start();
        QTRY_COMPARE(FExtension->Received("started").size(), std::size_t(1));
        QVERIFY(!FExtension->Received("started")[0].contains("error"));
        QCOMPARE(FForm->LinksView->topLevelItemCount(), 2);
        QCOMPARE(FForm->LinksView->topLevelItem(0)->checkState(0), Qt::Checked);
        QCOMPARE(FForm->windowTitle(), QString("Larkspool: Start"));
        // Objects the program let go of are released in the page.
        QTRY_VERIFY(!FExtension->Received("release").empty());
        QVERIFY(!ReadRelease(FExtension->Received("release")[0]).empty());

        FExtension->Start();
        QTRY_COMPARE(FExtension->Received("started").size(), std::size_t(2));
        QVERIFY(FExtension->Received("started")[1].value("error", "").find("one Start") !=
                std::string::npos);
        QCOMPARE(FForm->LinksView->topLevelItemCount(), 2);

        // The caller lets go, then Cancel: the program ends without asking.
        FExtension->Send({{"type", "releaseApp"}});
        QTRY_VERIFY(!FHost->App.ClientHoldsReference());
        MessageBoxWatch boxes;
        FForm->btnCancel->click();
        QCOMPARE(FQuits, 1);
        QCOMPARE(boxes.Boxes().size(), std::size_t(0));
    }

    void closingWhileTheCallerHoldsTheObjectAsks() {
        Open(SamplePage());
        FExtension->Hello();
        FExtension->Start();
        QTRY_COMPARE(FExtension->Received("started").size(), std::size_t(1));
        MessageBoxWatch boxes; // answers with the default button, No
        FForm->btnCancel->click();
        QTRY_COMPARE(boxes.Boxes().size(), std::size_t(1));
        QCOMPARE(boxes.Boxes()[0].Caption, QString("COM Server Warning"));
        QCOMPARE(boxes.Boxes()[0].Text, ComServerWarningText());
        QCOMPARE(FQuits, 0);
        // The browser closes the connection: the program ends, without a dialog.
        FExtension->CloseConnection();
        QTRY_COMPARE(FExits, std::vector<int>{0});
        QCOMPARE(boxes.Boxes().size(), std::size_t(1));
    }

    void aFailedStartIsAnsweredAndTheWindowStays() {
        // A window whose document has an address but no title.
        auto document = std::make_shared<MemoryObject>("HTMLDocument");
        document->SetProperty("URL", Variant("http://127.0.0.1:1/"));
        auto window = std::make_shared<MemoryObject>("Window");
        window->SetProperty("document", Variant(document));
        window->SetProperty("parent", Variant(window));
        Open(Variant(window));
        FExtension->Hello();
        FExtension->Start();
        QTRY_COMPARE(FExtension->Received("started").size(), std::size_t(1));
        QVERIFY(FExtension->Received("started")[0].value("error", "").find("'Title'") !=
                std::string::npos);
        QVERIFY(FForm->isVisible());
        QCOMPARE(StartPageURL, std::string("http://127.0.0.1:1/")); // read before the failure
        window->SetProperty("parent", Variant());                   // break the cycle
    }

    void theBrowserLettingGoStopsTheSave() {
        LocalServer server;
        MemoryPage page = SamplePage();
        page.Url = server.Url("/start.html");
        page.Html = "<html><body><a href=\"/stall\">stalls</a></body></html>";
        page.Links = {{server.Url("/stall"), "stalls"}};
        page.Selection = "stalls";
        Open(page);
        FExtension->Hello();
        FExtension->Start();
        QTRY_COMPARE(FExtension->Received("started").size(), std::size_t(1));
        FForm->edFolder->setText(FHome->path());
        // Once the progress window waits for the stalled page, the browser goes.
        FForm->OnRunWindow = [this](TMainForm&) {
            QTimer::singleShot(300, [this] { FExtension->CloseConnection(); });
        };
        FForm->btnSave->click();
        QCOMPARE(FExits, std::vector<int>{0});
        // Stopped, not aborted: the log is written and the page relinked.
        QVERIFY(QFileInfo::exists(FHome->filePath("lkspl.log")));
        const std::string index = ReadWholeFile(FHome->filePath("INDEX.HTML").toStdString());
        QVERIFY(index.find("javascript:") != std::string::npos);
    }

    void aDifferentExtensionIsToldApart() {
        Open(SamplePage());
        MessageBoxWatch boxes;
        json old = LibraryDescription();
        old["version"] = "0.9";
        FExtension->Hello(old);
        QTRY_COMPARE(FExits, std::vector<int>{1});
        QCOMPARE(boxes.Boxes().size(), std::size_t(1));
        QVERIFY(boxes.Boxes()[0].Text.contains("does not fit this program"));
        QVERIFY(boxes.Boxes()[0].Text.contains("Larkspool 0.9"));
        // It learned what this program offers.
        QTRY_COMPARE(FExtension->Received("hello").size(), std::size_t(1));
    }

    void noDescriptionIsAMismatchNotAHang() {
        {
            Open(SamplePage());
            MessageBoxWatch boxes;
            FExtension->Start();
            QTRY_COMPARE(FExits, std::vector<int>{1});
            QCOMPARE(boxes.Boxes().size(), std::size_t(1));
            QVERIFY(boxes.Boxes()[0].Text.contains("without describing itself"));
        }

        cleanup();
        FExits.clear();
        MessageBoxWatch more;
        Open(Variant(MakeMemoryWindow(SamplePage())), std::chrono::milliseconds(50));
        QTRY_COMPARE(FExits, std::vector<int>{1});
        QCOMPARE(more.Boxes().size(), std::size_t(1));
        QVERIFY(more.Boxes()[0].Text.contains("did not describe itself"));
    }
};

QTEST_MAIN(NativeHostTest)
#include "NativeHostTest.moc"
