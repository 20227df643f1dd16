// The progress window over whole runs against a server started here: what it
// shows, its buttons, the password prompt and the message at the close.
#include "ui/MainForm.h"

#include "browser/MemoryObjects.h"
#include "support/LocalServer.h"
#include "support/MessageBoxWatch.h"
#include "support/TempFolder.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/AuthForm.h"
#include "ui/BusyAnimation.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

using namespace larkspool;
using larkspool::check::LocalServer;

class MainFormTest : public QObject {
    Q_OBJECT
    LocalServer Web{[](httplib::Server& s) {
        s.Get(R"(/\w\.htm)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><a href=\"index.html\">home</a></html>", "text/html");
        });
    }};
    std::unique_ptr<check::TempFolder> Folder;
    std::unique_ptr<TLister> List;
    std::unique_ptr<TMainForm> Form;
    QStringList Boxes; // message boxes of a run: caption|text

    // A window over a save of the start page with these links (path, title).
    void Make(const std::vector<std::pair<std::string, std::string>>& Links) {
        Form.reset();
        Folder = std::make_unique<check::TempFolder>("larkspool-mainform");
        OutputFolder = Folder->Path() + "/";
        Settings = TSettings{};
        StartPageURL = Web.Url("/index.html");
        StartPageTitle = "Index";
        MemoryPage page;
        page.Url = StartPageURL;
        page.Title = "Index";
        page.Html = "<html><a href=\"a.htm\">a</a></html>";
        const Variant window(MakeMemoryWindow(page));
        List = std::make_unique<TLister>(window);
        for (const auto& [path, title] : Links)
            List->AddLink(Web.Url(path), title);
        Form = std::make_unique<TMainForm>(*List, window);
    }
    // Shows the window modally, as the options window does; Step runs from the
    // loop until it returns true, message boxes are noted and dismissed. -1
    // when the run had to be aborted after a long wait, -2 when a box other
    // than a warning came up.
    int Run(std::function<bool()> Step = {}) {
        Boxes.clear();
        check::MessageBoxWatch watch;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (Step && Step())
                Step = nullptr;
        });
        poll.start(10);
        bool hung = false;
        QTimer::singleShot(20000, Form.get(), [&] {
            hung = true;
            Form->btnAbort->click();
        });
        Form->Animate1->Play();
        const int result = Form->exec();
        for (const check::MessageBoxWatch::Seen& box : watch.Boxes()) {
            Boxes << box.Caption + "|" + box.Text;
            if (box.Icon != QMessageBox::Warning)
                return -2; // only the warning about files not saved is expected
        }
        return hung ? -1 : result;
    }
    // Step: true once the stalling address has been asked for one more time.
    std::function<bool()> OnStall(std::function<void()> Then) {
        return [this, Then, before = Web.Seen().size()] {
            const auto seen = Web.Seen();
            // (Requests for the items after it may follow it.)
            if (std::none_of(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end(),
                             [](const auto& Request) { return Request.Target == "/stall"; }))
                return false;
            Then();
            return true;
        };
    }
    bool Exists(const std::string& Name) { return std::filesystem::exists(OutputFolder + Name); }

private slots:
    void controlsAndProblemList() {
        Make({});
        QCOMPARE(Form->windowTitle(), QStringLiteral("Larkspool"));
        QVERIFY(!(Form->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));
        QCOMPARE(Form->lblURL->width(), 270);
        QCOMPARE(Form->Animate1->size(), QSize(272, 60));
        const QStringList texts{Form->btnSkip->text(),  Form->btnSkip->toolTip(),
                                Form->btnStop->text(),  Form->btnStop->toolTip(),
                                Form->btnAbort->text(), Form->btnAbort->toolTip()};
        QCOMPARE(texts,
                 (QStringList{"S&kip", "Skip current file", "&Stop",
                              "Stop download and relink files", "&Abort", "Abort download"}));
        Form->layout()->activate();
        QVERIFY(Form->btnSkip->x() < Form->btnStop->x() &&
                Form->btnStop->x() < Form->btnAbort->x());
        QVERIFY(Form->height() - Form->btnAbort->geometry().bottom() < 16);
        Form->Animate1->Play();
        QTRY_VERIFY(Form->Animate1->Frame() > 1);
        Form->Animate1->Stop();
        QVERIFY(!Form->Animate1->IsPlaying() &&
                Form->Animate1->Frame() == BusyAnimation::StopFrame);

        const QStringList lines =
            TMainForm::ProblemsMessage(std::vector<std::string>(25, "http://x/: failed"))
                .split('\n');
        QCOMPARE(lines.size(), 22);
        QCOMPARE(lines[0], QStringLiteral("Some files could not be saved:"));
        QCOMPARE(lines[20], QStringLiteral("http://x/: failed"));
        QCOMPARE(lines[21], QStringLiteral("and 5 more"));
    }

    void showsTheRunAndSkipGoesOn() {
        Make({{"/stall", "Stalled page"}, {"/a.htm", ""}});
        QStringList seen;
        QCOMPARE(Run(OnStall([&] {
                     seen << Form->lblStatus->text().replace(QRegularExpression("\\d+ bytes"),
                                                             "N bytes")
                          << Form->lblURL->text() << Form->lblURL->toolTip()
                          << QString::number(Form->pbGet->value()) + "/" +
                                 QString::number(Form->pbGet->maximum());
                     Form->close();
                     QTest::keyClick(Form.get(), Qt::Key_Escape);
                     QVERIFY(Form->isVisible() && Form->Animate1->IsPlaying());
                     Form->btnSkip->click();
                 })),
                 int(QDialog::Accepted));
        QCOMPARE(seen, (QStringList{"0% Save Web Pages (N bytes received)", "Stalled page",
                                    ToQ(Web.Url("/stall")), "0/3"}));
        QCOMPARE(List->Pages()[1].State, stSkipped);
        QCOMPARE(List->Pages()[2].State, stRelinked);
        QVERIFY(Exists("a.htm") && Exists("lkspl.log"));
        // The display followed the relinking to its last page, which has no title.
        QCOMPARE(Form->lblStatus->text(), QStringLiteral("100% Relink files"));
        QCOMPARE(Form->lblURL->text(), ToQ(Web.Url("/a.htm")));
        QCOMPARE(ApplicationTitle(), QStringLiteral("100% Larkspool: Index"));
        QVERIFY(!Form->Animate1->IsPlaying() && Boxes.isEmpty());
    }

    void stopRelinksAbortDoesNot() {
        Make({{"/stall", "s"}, {"/a.htm", "a"}});
        QCOMPARE(Run(OnStall([&] { Form->btnStop->click(); })), int(QDialog::Accepted));
        QVERIFY(Exists("lkspl.log"));
        QCOMPARE(List->Pages()[0].State, stRelinked);
        QCOMPARE(List->Pages()[1].State, stToDownload);

        Make({{"/stall", "s"}});
        QCOMPARE(Run(OnStall([&] {
                     Form->btnAbort->click();
                     QVERIFY(!Form->isVisible());
                 })),
                 int(QDialog::Accepted));
        QVERIFY(!Exists("lkspl.log"));
        QCOMPARE(List->Pages()[0].State, stFromDocument);
    }

    void passwordPrompt() {
        Make({{"/basic", "Protected"}});
        QStringList sites;
        auto answer = [&](const char* User, bool Ok) {
            auto* prompt = qobject_cast<TAuthForm*>(QApplication::activeModalWidget());
            if (!prompt)
                return false;
            sites << prompt->lblSite->text() + (prompt->edUser->text().isEmpty() ? "" : " not new");
            prompt->edUser->setText(User);
            prompt->edPass->setText(LocalServer::Password);
            (Ok ? prompt->btnOk : prompt->btnCancel)->click();
            return true;
        };
        QCOMPARE(Run([&] { return answer(LocalServer::User, true); }), int(QDialog::Accepted));
        QCOMPARE(List->Pages()[1].State, stRelinked);
        QVERIFY(Exists(List->Pages()[1].FileName));
        QCOMPARE(sites, QStringList{ToQ(Web.Url("/"))});

        std::string user = "kept", password = "kept";
        QTimer::singleShot(0, [&] { answer("u", false); });
        QVERIFY(!Form->AskCredentials("http://h/", user, password));
        QCOMPARE(user + password, std::string("keptkept"));
        QTimer::singleShot(0, [&] { answer("u", true); });
        QVERIFY(Form->AskCredentials("http://h/", user, password));
        QCOMPARE(user + password, "u" + std::string(LocalServer::Password));
        QCOMPARE(sites.mid(1), (QStringList{"http://h/", "http://h/"}));
        QVERIFY(Form->findChildren<TAuthForm*>().isEmpty());
    }

    void problemsShownOnceAtTheClose() {
        Make({{"/a.htm", "a"}, {"/b.htm", "b"}});
        std::filesystem::create_directory(OutputFolder + "a.htm"); // in the way of both pages
        std::filesystem::create_directory(OutputFolder + "b.htm");
        QCOMPARE(Run(), int(QDialog::Accepted));
        QCOMPARE(Boxes.size(), 1);
        QVERIFY2(Boxes[0].startsWith(ApplicationTitle() + "|Some files could not be saved:\n"),
                 qPrintable(Boxes[0]));
        QVERIFY(Boxes[0].contains(ToQ(Web.Url("/a.htm"))) &&
                Boxes[0].contains(ToQ(Web.Url("/b.htm"))));
    }

    // With VerifyCopy the check follows the run on a thread of its own: the
    // window keeps drawing its progress while the check is busy, and the
    // check's lines join the message at the close.
    void copyCheckedOfflineAfterTheRun() {
        Make({{"/a.htm", "a"}});
        Settings.VerifyCopy = true;
        std::atomic<bool> release{false};
        std::vector<std::string> pages;
        std::string folder;
        Form->CheckCopy = [&](const std::string& Folder, const std::vector<std::string>& Pages,
                              const OfflineCheckOptions& Options) {
            folder = Folder;
            pages = Pages;
            Options.Progress(0, Pages.size(), Pages[0]);
            // Held until the window has shown the progress from its own loop.
            for (int i = 0; i < 2000 && !release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            OfflineReport report;
            report.Pages = {{"INDEX.HTML", {{"pic.gif", "file not found"}}}, {"a.htm", {}}};
            report.Pictures = {1, 2};
            return report;
        };
        QString shown;
        QCOMPARE(Run([&] {
                     if (!Form->lblStatus->text().startsWith("Checking offline"))
                         return false;
                     shown = Form->lblStatus->text() + " " + Form->lblURL->text() + " " +
                             QString::number(Form->btnStop->isEnabled());
                     release = true;
                     return true;
                 }),
                 int(QDialog::Accepted));
        QCOMPARE(shown, QStringLiteral("Checking offline: 0 of 2 pages INDEX.HTML Checking the "
                                       "copy offline 0"));
        QCOMPARE(folder, OutputFolder);
        QCOMPARE(pages, (std::vector<std::string>{"INDEX.HTML", "a.htm"}));
        QCOMPARE(Form->CheckLines(),
                 (std::vector<std::string>{
                     "INDEX.HTML: pic.gif — file not found",
                     "Checked offline: 1 of 2 pictures, 0 of 0 style sheets, 1 missing"}));
        QCOMPARE(Boxes.size(), 1);
        QCOMPARE(Boxes[0], ApplicationTitle() +
                               "|Checked offline, these do not load:\nINDEX.HTML: pic.gif — file "
                               "not found\nChecked offline: 1 of 2 pictures, 0 of 0 style "
                               "sheets, 1 missing");
    }

    // Abort during the check ends the check; an aborted run is not checked.
    void abortEndsTheCheckAndAnAbortedRunIsNotChecked() {
        Make({{"/a.htm", "a"}});
        Settings.VerifyCopy = true;
        bool cancelled = false;
        Form->CheckCopy = [&](const std::string&, const std::vector<std::string>& Pages,
                              const OfflineCheckOptions& Options) {
            Options.Progress(0, Pages.size(), Pages[0]);
            for (int i = 0; i < 2000 && !cancelled; ++i) {
                cancelled = Options.Cancelled();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            OfflineReport report;
            report.Pages = {{"INDEX.HTML", {{"", "the check was stopped"}}}};
            return report;
        };
        QCOMPARE(Run([&] {
                     if (!Form->lblStatus->text().startsWith("Checking offline"))
                         return false;
                     Form->btnAbort->click();
                     return true;
                 }),
                 int(QDialog::Accepted));
        QVERIFY(cancelled);
        QCOMPARE(List->Pages()[1].State, stRelinked); // the save itself was whole
        QCOMPARE(Boxes.size(), 1);
        QVERIFY2(Boxes[0].endsWith("\nINDEX.HTML: the check was stopped\nChecked offline: 0 of 0 "
                                   "pictures, 0 of 0 style sheets, 1 missing"),
                 qPrintable(Boxes[0]));

        Make({{"/stall", "s"}});
        Settings.VerifyCopy = true;
        bool called = false;
        Form->CheckCopy = [&](const std::string&, const std::vector<std::string>&,
                              const OfflineCheckOptions&) {
            called = true;
            return OfflineReport{};
        };
        QCOMPARE(Run(OnStall([&] { Form->btnAbort->click(); })), int(QDialog::Accepted));
        QVERIFY(!called);
        QVERIFY(Boxes.isEmpty());
    }

    // A check that finds nothing missing says so in a plain message.
    void closeMessageWithTheCheck() {
        QCOMPARE(
            TMainForm::CloseMessage({}, {"Checked offline: 3 of 3 pictures, 1 of 1 style "
                                         "sheets, 0 missing"}),
            QStringLiteral("Checked offline: 3 of 3 pictures, 1 of 1 style sheets, 0 missing"));
        const QString both =
            TMainForm::CloseMessage({"http://x/a.gif: HTTP 404"},
                                    {"a.htm: b.gif — file not found", "Checked offline: 0 of 1 "
                                                                      "pictures, 0 of 0 style "
                                                                      "sheets, 1 missing"});
        QCOMPARE(both, QStringLiteral("Some files could not be saved:\nhttp://x/a.gif: HTTP 404\n\n"
                                      "Checked offline, these do not load:\na.htm: b.gif — file "
                                      "not found\nChecked offline: 0 of 1 pictures, 0 of 0 style "
                                      "sheets, 1 missing"));
        std::vector<std::string> many(30, "p.htm: x.gif — file not found");
        many.push_back("Checked offline: 0 of 30 pictures, 0 of 0 style sheets, 30 missing");
        const QStringList lines = TMainForm::CloseMessage({}, many).split('\n');
        QCOMPARE(lines.size(), 1 + TMainForm::MaxListedProblems + 2);
        QCOMPARE(lines[lines.size() - 2], QStringLiteral("and 10 more"));
        QCOMPARE(lines.back(), ToQ(many.back()));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
