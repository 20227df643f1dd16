// The link window: its list, its pages, the settings through its controls,
// the Start and Cancel buttons, and the update notice.
#include "ui/StartForm.h"
#include "browser/MemoryObjects.h"
#include "platform/AtomicFile.h"
#include "platform/SaveFolderLock.h"
#include "support/DeadProcess.h"
#include "support/LocalServer.h"
#include "support/MessageBoxWatch.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/MainForm.h"
#include "ui/Messages.h"
#include "ui/UpdateNotice.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <optional>

using namespace larkspool;
using namespace larkspool::check;

namespace {

// Counts the reference drops the window makes at its end.
struct FakeApp : IAppObject {
    int Drops = 0;
    void DropStartReference() override { ++Drops; }
};

QStringList Column(const QTreeWidget* View, int Column) {
    QStringList texts;
    for (int i = 0; i < View->topLevelItemCount(); ++i)
        texts << View->topLevelItem(i)->text(Column);
    return texts;
}

QList<bool> Checks(const QTreeWidget* View) {
    QList<bool> checks;
    for (int i = 0; i < View->topLevelItemCount(); ++i)
        checks << (View->topLevelItem(i)->checkState(0) == Qt::Checked);
    return checks;
}

MemoryPage TitledPage() {
    MemoryPage page;
    page.Url = "http://127.0.0.1:1/";
    page.Title = "Title";
    return page;
}

std::string ReadFile(const QString& Path) {
    return ReadWholeFile(Path.toStdString());
}

} // namespace

class StartFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FHome;
    std::unique_ptr<TStartForm> FForm;
    FakeApp FApp;
    int FBeeps = 0;
    std::string FHomeURL; // the update server; nothing listens there by default

    // A window filled from Page, as the browser's Start call fills it.
    TStartForm& Collect(const MemoryPage& Page) {
        FForm = std::make_unique<TStartForm>();
        FForm->show();
        HomeURL = FHomeURL; // the window chose the maker's when it was shown
        AppObject = &FApp;
        FForm->CollectLinks(Variant(MakeMemoryWindow(Page)));
        return *FForm;
    }

private slots:
    void init() {
        FHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", FHome->path().toUtf8());
        Settings = TSettings{};
        FHomeURL = "http://127.0.0.1:1/";
        SetApplicationTitle("Larkspool");
        AppObject = nullptr;
        FApp.Drops = 0;
        FBeeps = 0;
        BeepHook = [this] { ++FBeeps; };
    }
    void cleanup() {
        FForm.reset();
        AppObject = nullptr;
        BrowserWindow = Variant();
    }

    void linkListIsNumberedAndPrechecked() {
        MemoryPage page;
        page.Url = " http://h.test/a/index.html ";
        page.Title = "Report: 2001/2002 (final)";
        page.Selection = "read that first";
        page.Links = {{"http://h.test/at.html", "at"},
                      {"MAILTO:someone@h.test", "mail"},
                      {"http://h.test/q?to=mailto:x", "mail in query"},
                      {"http://h.test/At.html", " At "},
                      {"http://h.test/empty.html", ""},
                      {"http://h.test/at.html", "first"}};
        TStartForm& form = Collect(page);
        QCOMPARE(Column(form.LinksView, 0), (QStringList{" 1", " 2", " 3", " 4"}));
        QCOMPARE(Column(form.LinksView, 1),
                 (QStringList{"http://h.test/at.html", "http://h.test/At.html",
                              "http://h.test/empty.html", "http://h.test/at.html"}));
        QCOMPARE(Column(form.LinksView, 2), (QStringList{"at", "At", "", "first"}));
        QCOMPARE(Checks(form.LinksView), (QList<bool>{true, false, false, true}));
        QCOMPARE(form.windowTitle(), QString("Larkspool: Report: 2001/2002 (final)"));
        QCOMPARE(ApplicationTitle(), QString("Larkspool: Report: 2001/2002 (final)"));
        QCOMPARE(form.edSubFolder->text(), QString("Report 20012002 final"));
        QCOMPARE(StartPageURL, std::string("http://h.test/a/index.html"));
        QCOMPARE(form.PageControl1->currentIndex(), 0);
        QVERIFY(form.chbOptDef->isVisible());
        // No stored widths: both columns open 200 wide.
        QCOMPARE(form.LinksView->columnWidth(1), 200);
        QCOMPARE(form.LinksView->columnWidth(2), 200);
    }

    void emptyPageAndNoSelection() {
        MemoryPage page;
        page.Url = "http://h.test/";
        page.Links = {{"http://h.test/x.html", "x"}};
        TStartForm& form = Collect(page);
        QCOMPARE(Checks(form.LinksView), QList<bool>{false});
        Collect(MemoryPage{});
        QCOMPARE(FForm->LinksView->topLevelItemCount(), 0);
        QCOMPARE(FForm->PageControl1->currentIndex(), 0);
    }

    void sortingComparesText() {
        MemoryPage page;
        for (int i = 1; i <= 101; ++i)
            page.Links.push_back(
                {"http://h.test/" + std::to_string(i), "Link " + std::to_string(i)});
        TStartForm& form = Collect(page);
        // Numbers compare as text, even while the list is filled.
        const QStringList numbers = Column(form.LinksView, 0);
        QCOMPARE(numbers.indexOf("100"), numbers.indexOf("10") + 1);
        QCOMPARE(numbers.indexOf("11"), numbers.indexOf("101") + 1);

        MemoryPage mixed;
        mixed.Links = {{"http://h.test/1", "banana"},
                       {"http://h.test/2", "Apple"},
                       {"http://h.test/3", "cherry"},
                       {"http://h.test/4", "apple pie"}};
        TStartForm& other = Collect(mixed);
        other.LinksViewColumnClick(2);
        QCOMPARE(Column(other.LinksView, 2),
                 (QStringList{"Apple", "apple pie", "banana", "cherry"}));
        other.LinksViewColumnClick(2); // the same order again, never descending
        QCOMPARE(Column(other.LinksView, 2),
                 (QStringList{"Apple", "apple pie", "banana", "cherry"}));
        other.LinksViewColumnClick(0);
        QCOMPARE(Column(other.LinksView, 0), (QStringList{" 1", " 2", " 3", " 4"}));
    }

    void spaceBarSetsSelectedRowsToTheFocusedRow() {
        MemoryPage page;
        for (int i = 1; i <= 6; ++i)
            page.Links.push_back({"http://h.test/" + std::to_string(i), "L" + std::to_string(i)});
        page.Selection = "L2 L3";
        TStartForm& form = Collect(page);
        QTreeWidget* view = form.LinksView;
        view->setFocus();
        for (int i = 1; i <= 4; ++i)
            view->topLevelItem(i)->setSelected(true);
        view->setCurrentItem(view->topLevelItem(4), 0, QItemSelectionModel::NoUpdate);
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(Checks(view), (QList<bool>{false, true, true, true, true, false}));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(Checks(view), (QList<bool>{false, false, false, false, false, false}));
        // Without a focused row nothing changes.
        view->setCurrentItem(nullptr);
        form.LinksViewKeyDown(Qt::Key_Space);
        QCOMPARE(Checks(view), (QList<bool>{false, false, false, false, false, false}));
    }

    // With the focus in the address or text column, the focused row flips
    // with the others, once.
    void spaceBarFlipsTheFocusedRowInAnyColumn() {
        MemoryPage page;
        for (int i = 1; i <= 4; ++i)
            page.Links.push_back({"http://h.test/" + std::to_string(i), "L" + std::to_string(i)});
        page.Selection = "L2";
        TStartForm& form = Collect(page);
        QTreeWidget* view = form.LinksView;
        view->setFocus();
        for (const int column : {1, 2, 0}) {
            view->clearSelection();
            view->topLevelItem(0)->setSelected(true);
            view->topLevelItem(2)->setSelected(true);
            view->setCurrentItem(view->topLevelItem(2), column, QItemSelectionModel::NoUpdate);
            const bool before = view->topLevelItem(2)->checkState(0) == Qt::Checked;
            QTest::keyClick(view, Qt::Key_Space);
            QCOMPARE(view->topLevelItem(2)->checkState(0) == Qt::Checked, !before);
            QCOMPARE(view->topLevelItem(0)->checkState(0) == Qt::Checked, !before);
            QCOMPARE(view->topLevelItem(1)->checkState(0) == Qt::Checked, true); // not selected
        }
    }

    void selectionButtons() {
        MemoryPage page;
        page.Url = "x://h/a/p.htm";
        page.Links = {{"x://h/b/q.htm", "same host"},
                      {"x://H/q.htm", "host in capitals"},
                      {"y://h/q.htm", "other scheme"},
                      {"x://h/c.htm", "unchecked"}};
        page.Selection = "same host in capitals other scheme";
        TStartForm& form = Collect(page);
        QCOMPARE(Checks(form.LinksView), (QList<bool>{true, true, true, false}));
        form.btnInternal->click();
        QCOMPARE(Checks(form.LinksView), (QList<bool>{true, false, false, false}));
        form.btnInverse->click();
        QCOMPARE(Checks(form.LinksView), (QList<bool>{false, true, true, true}));
        form.btnAll->click();
        QCOMPARE(Checks(form.LinksView), (QList<bool>{true, true, true, true}));
    }

    void startedByHandShowsOnlyTheAboutPage() {
        FForm = std::make_unique<TStartForm>();
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        QCOMPARE(FForm->PageControl1->currentIndex(), 3);
        QVERIFY(FForm->width() >= 431 && FForm->height() >= 349);
        QVERIFY(!FForm->chbOptDef->isVisible());
        MessageBoxWatch boxes;
        for (int attempt = 0; attempt < 2; ++attempt) {
            FForm->PageControl1->setCurrentIndex(attempt);
            QTRY_COMPARE(boxes.Boxes().size(), std::size_t(attempt + 1));
            QCOMPARE(FForm->PageControl1->currentIndex(), 3);
        }
        QCOMPARE(boxes.Boxes()[0].Text, UsageMessage());
        QCOMPARE(boxes.Boxes()[0].Caption, QString("Larkspool"));
        QVERIFY(!FForm->chbOptDef->isVisible());
    }

    void storedWindowSizeAndPageChanges() {
        CreateSettingsKey();
        Settings.WinW = 700;
        Settings.WinH = 500;
        SaveSettings();
        Settings = TSettings{};
        TStartForm& form = Collect(MemoryPage{});
        QCOMPARE(form.size(), QSize(700, 500));
        form.PageControl1->setCurrentIndex(3);
        QVERIFY(!form.chbOptDef->isVisible());
        form.PageControl1->setCurrentIndex(1);
        QVERIFY(form.chbOptDef->isVisible());
    }

    void wrongTypedSettingStopsTheFirstShow() {
        QDir().mkpath(FHome->filePath("larkspool"));
        WriteFileAtomically(FHome->filePath("larkspool/registry.reg").toStdString(),
                            "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\SOFTWARE\\Vandrell\\Larkspool]\n"
                            "\"DestinationFolder\"=\"/tmp/x\"\n\"WinW\"=\"wide\"\n");
        HomeURL = "unchanged";
        MessageBoxWatch boxes;
        FForm = std::make_unique<TStartForm>();
        FForm->show();
        QTRY_COMPARE(boxes.Boxes().size(), std::size_t(1));
        QCOMPARE(boxes.Boxes()[0].Text, QString("Invalid data type for 'WinW'"));
        QCOMPARE(Settings.DestinationFolder, std::string("/tmp/x")); // read before the error
        QCOMPARE(HomeURL, std::string("unchanged"));                 // the rest was skipped
    }

    void settingsRoundTripThroughTheControls() {
        TSettings wanted;
        wanted.DestinationFolder = "/tmp/saved";
        wanted.CreateSubFolder = true;
        wanted.ShowPictures = true;
        wanted.URLW = 150;
        wanted.TextW = 260;
        wanted.AutoSkip = true;
        wanted.SkipSec = 45;
        wanted.NotExtPic = true;
        wanted.NotKeyPic = true;
        wanted.KeyWords = "ads banner";
        wanted.Extensions = "zip pdf";
        wanted.DoWithExtensions = 2;
        wanted.SaveExistF = true;
        wanted.SaveScripts = false; // on by default: the stored "off" must reach the box
        wanted.SaveStyleFiles = true;
        wanted.UserS = "u s ";
        wanted.PassS = " p";
        wanted.UserP = "proxy";
        wanted.PassP = "pp";
        wanted.VerifyCopy = true;
        wanted.Connections = 3;
        Settings = wanted;
        MemoryPage page;
        page.Url = "http://h.test/a/b.html";
        TStartForm& form = Collect(page);
        QVERIFY(form.edSubFolder->isEnabled());
        QVERIFY(form.edURL->isEnabled());
        QCOMPARE(form.edSec->text(), QString("45"));
        QCOMPARE(form.chbExter->toolTip(),
                 QString("pictures are external if their URLs do not begin with http://h.test/"));
        Settings = TSettings{};
        form.StoreSettings();
        QCOMPARE(Settings.DestinationFolder, wanted.DestinationFolder);
        QCOMPARE(Settings.CreateSubFolder, true);
        QCOMPARE(Settings.ShowPictures, true);
        QCOMPARE(Settings.URLW, 150);
        QCOMPARE(Settings.TextW, 260);
        QCOMPARE(Settings.AutoSkip, true);
        QCOMPARE(Settings.SkipSec, 45);
        QCOMPARE(Settings.NotExtPic, true);
        QCOMPARE(Settings.NotKeyPic, true);
        QCOMPARE(Settings.KeyWords, wanted.KeyWords);
        QCOMPARE(Settings.Extensions, wanted.Extensions);
        QCOMPARE(Settings.DoWithExtensions, 2);
        QCOMPARE(Settings.SaveExistF, true);
        QVERIFY(!form.chbScripts->isChecked());
        QCOMPARE(Settings.SaveScripts, false);
        QCOMPARE(Settings.SaveStyleFiles, true);
        QCOMPARE(Settings.UserS, wanted.UserS); // passwords and names untrimmed
        QCOMPARE(Settings.PassS, wanted.PassS);
        QCOMPARE(Settings.UserP, wanted.UserP);
        QCOMPARE(Settings.PassP, wanted.PassP);
        QCOMPARE(Settings.VerifyCopy, true);
        QCOMPARE(form.spnConnections->value(), 3);
        QCOMPARE(Settings.Connections, 3);
        QCOMPARE(Settings.WinW, form.width());
        // Off by default, and on the advanced page.
        QCOMPARE(TSettings{}.VerifyCopy, false);
        QCOMPARE(form.chbVerify->text(), QString("Check the copy offline when done"));
        QVERIFY(form.PageControl1->widget(1)->isAncestorOf(form.chbVerify));
        form.chbVerify->setChecked(false);
        form.StoreSettings();
        QCOMPARE(Settings.VerifyCopy, false);
        // The seconds stay within the control's range.
        Settings.SkipSec = 5000;
        form.ShowSettings();
        QCOMPARE(form.UpDown1->value(), 1000);
    }

    void cancelStoresTheOptions() {
        CreateSettingsKey();
        TStartForm& form = Collect(MemoryPage{});
        form.edFolder->setText("  /tmp/kept  ");
        form.btnCancel->click();
        QCOMPARE(Settings.DestinationFolder, std::string("/tmp/kept"));
        QCOMPARE(FApp.Drops, 1);
        Settings = TSettings{};
        LoadSettings();
        QCOMPARE(Settings.DestinationFolder, std::string()); // not saved as default

        TStartForm& again = Collect(MemoryPage{});
        again.edFolder->setText("/tmp/kept");
        again.chbOptDef->setChecked(true);
        again.btnCancel->click();
        Settings = TSettings{};
        LoadSettings();
        QCOMPARE(Settings.DestinationFolder, std::string("/tmp/kept"));
    }

    void startNeedsAnExistingFolder() {
        TStartForm& form = Collect(MemoryPage{});
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.edFolder->setText(FHome->filePath("missing"));
        form.btnSave->setFocus();
        form.btnSave->click();
        QCOMPARE(FBeeps, 1);
        QVERIFY(form.isVisible());
        QCOMPARE(QApplication::focusWidget(), form.edFolder);
        QVERIFY(!form.Lister);
        QCOMPARE(FApp.Drops, 0);
    }

    void startSavesIntoTheSubfolder() {
        MemoryPage page;
        page.Url = "http://127.0.0.1:1/news/index.html";
        page.Title = "News";
        page.Html = "<html><body><a href=\"file.zip\">zip</a></body></html>";
        page.Links = {{"http://127.0.0.1:1/news/file.zip", "zip"}};
        page.Selection = "zip";
        const Variant window(MakeMemoryWindow(page));
        FForm = std::make_unique<TStartForm>();
        FForm->show();
        HomeURL = FHomeURL;
        AppObject = &FApp;
        FForm->CollectLinks(window);
        TStartForm& form = *FForm;
        form.edFolder->setText(FHome->path()); // no trailing "/"
        form.chbSubFolder->setChecked(true);
        form.edExt->setText("zip");
        form.rgrExtItems->button(1)->setChecked(true);
        const QString out = FHome->filePath("News") + "/";
        bool warned = false;
        form.OnRunWindow = [&](TMainForm&) {
            warned = QFileInfo::exists(out + "! DO NOT OPEN ANY FILE WHILE LARKSPOOL IS RUNNING !");
        };
        form.btnSave->click();
        QCOMPARE(OutputFolder, out.toStdString());
        QVERIFY(!form.isVisible());
        QVERIFY(warned);
        QVERIFY(!QFileInfo::exists(out + "! DO NOT OPEN ANY FILE WHILE LARKSPOOL IS RUNNING !"));
        QCOMPARE(ReadFile(out + "News.URL"),
                 std::string("[InternetShortcut]\r\nURL=http://127.0.0.1:1/news/index.html\r\n"));
        QVERIFY(QFileInfo::exists(out + "INDEX.HTML"));
        // The zip went to the browser, by a write of the document's location.
        const auto location = AsMemoryObject(window.Get("document").Get("location"));
        QCOMPARE(location->Writes().size(), std::size_t(1));
        QCOMPARE(location->Writes()[0].second.ToText(),
                 std::string("http://127.0.0.1:1/news/file.zip"));
        QCOMPARE(FBeeps, 1); // the end of the save
        QCOMPARE(FApp.Drops, 1);
        QVERIFY(BrowserWindow.IsNull());
    }

    void shortcutWithoutSubfolder() {
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(FHome->path() + "/");
        form.edSubFolder->setText("Name");
        form.btnSave->click();
        QVERIFY(QFileInfo::exists(FHome->filePath("Name.URL")));
        QVERIFY(!QFileInfo::exists(FHome->filePath("Name")));
        QCOMPARE(OutputFolder, (FHome->path() + "/").toStdString());

        TStartForm& emptied = Collect(TitledPage());
        emptied.edFolder->setText(FHome->path());
        emptied.chbSubFolder->setChecked(true);
        emptied.edSubFolder->setText("");
        emptied.btnSave->click();
        QVERIFY(QFileInfo::exists(FHome->filePath(".URL")));
    }

    // A second save into a folder another save holds would overwrite its
    // pages and log: Start shows why and leaves the window open.
    void startRefusesAFolderAnotherSaveHolds() {
        std::optional<SaveFolderLock> other(std::in_place, FHome->path().toStdString());
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(FHome->path());
        bool ran = false;
        form.OnRunWindow = [&](TMainForm&) { ran = true; };
        {
            MessageBoxWatch boxes;
            form.btnSave->click();
            QCOMPARE(boxes.Boxes().size(), std::size_t(1));
            QVERIFY2(boxes.Boxes()[0].Text.startsWith("Another save into the folder \"" +
                                                      FHome->path() + "\" is running"),
                     qPrintable(boxes.Boxes()[0].Text));
            QCOMPARE(boxes.Boxes()[0].Icon, QMessageBox::Critical);
        }
        QVERIFY(!ran);
        QVERIFY(form.isVisible());
        QVERIFY(!form.Lister);
        QVERIFY(!QFileInfo::exists(FHome->filePath("INDEX.HTML")));
        QCOMPARE(FApp.Drops, 0);

        // Free again, the same Start saves, and holds the folder while it runs.
        other.reset();
        bool heldDuringTheRun = false;
        form.OnRunWindow = [&](TMainForm&) {
            try {
                SaveFolderLock during(OutputFolder);
            } catch (const SaveFolderLockError& e) {
                heldDuringTheRun = e.Busy();
            }
        };
        form.btnSave->click();
        QVERIFY(heldDuringTheRun);
        QVERIFY(QFileInfo::exists(FHome->filePath("INDEX.HTML")));
        QCOMPARE(FApp.Drops, 1);
        SaveFolderLock after(FHome->path().toStdString()); // released at the end
    }

    // A subfolder name that would lead out of the chosen folder (or is no
    // name at all) is refused before anything is made: Start shows why and
    // the window comes back, as for a folder another save holds.
    void startRefusesASubfolderOutsideTheFolder() {
        const QString chosen = FHome->filePath("a/chosen"); // "../../x" is FHome/x
        QVERIFY(QDir().mkpath(chosen));
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(chosen);
        form.chbSubFolder->setChecked(true);
        bool ran = false;
        form.OnRunWindow = [&](TMainForm&) { ran = true; };
        const QString slash =
            "it holds \"/\", and a subfolder is one name inside the chosen folder";
        const QString dots = "it names the chosen folder or the one above it";
        const std::pair<QString, QString> refused[] = {{"../../x", slash},
                                                       {"..", dots},
                                                       {" . ", dots},
                                                       {"x/y", slash},
                                                       {"   ", "it is blank"}};
        for (const auto& [name, reason] : refused) {
            form.edSubFolder->setText(name);
            MessageBoxWatch boxes;
            form.btnSave->click();
            QCOMPARE(boxes.Boxes().size(), std::size_t(1));
            QCOMPARE(boxes.Boxes()[0].Text,
                     "\"" + name + "\" cannot be a subfolder name: " + reason);
            QCOMPARE(boxes.Boxes()[0].Icon, QMessageBox::Critical);
            QVERIFY(form.isVisible());
            QVERIFY(!form.Lister);
        }
        QVERIFY(!ran);
        QCOMPARE(FApp.Drops, 0);
        QVERIFY(QDir(chosen).isEmpty());
        QVERIFY(!QFileInfo::exists(FHome->filePath("x")));
        QVERIFY(!QFileInfo::exists(FHome->filePath("a/x")));

        // Corrected, the same window saves into the subfolder, named without
        // the blanks around it.
        form.edSubFolder->setText(" Kept ");
        form.btnSave->click();
        QVERIFY(ran);
        QCOMPARE(OutputFolder, (chosen + "/Kept/").toStdString());
        QVERIFY(QFileInfo::exists(chosen + "/Kept/INDEX.HTML"));
        QVERIFY(QFileInfo::exists(chosen + "/Kept/Kept.URL"));
        QCOMPARE(FApp.Drops, 1);
    }

    // Without a subfolder the typed name only names the shortcut: one that
    // would lead out of the folder gets none there or anywhere else.
    void startWithoutSubfolderKeepsTheShortcutInside() {
        const QString chosen = FHome->filePath("a/chosen"); // "../../y" is FHome/y
        QVERIFY(QDir().mkpath(chosen));
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(chosen);
        form.chbSubFolder->setChecked(false);
        form.edSubFolder->setText("../../y");
        bool ran = false;
        form.OnRunWindow = [&](TMainForm&) { ran = true; };
        form.btnSave->click();
        QVERIFY(ran);
        QVERIFY(QFileInfo::exists(chosen + "/INDEX.HTML"));
        QVERIFY(!QFileInfo::exists(FHome->filePath("y.URL")));
        QVERIFY(QDir(FHome->path()).entryList(QStringList{"*.URL"}).isEmpty());
    }

    // What a killed save was writing is removed when the next save of the
    // folder starts; what a living process writes is left alone.
    void startRemovesWhatAKilledSaveLeft() {
        const QString dead =
            FHome->filePath(QString(".larkspool-%1-AbCdEf").arg(larkspool::check::DeadPid()));
        const QString alive = FHome->filePath(QString(".larkspool-%1-AbCdEf").arg(::getpid()));
        for (const QString& path : {dead, alive}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(FHome->path());
        form.OnRunWindow = [](TMainForm&) {};
        form.btnSave->click();
        QVERIFY(QFileInfo::exists(FHome->filePath("INDEX.HTML")));
        QVERIFY(!QFileInfo::exists(dead));
        QVERIFY(QFileInfo::exists(alive));
    }

    // A log that is not a regular file is left aside, the save goes on, and
    // the user is told why at its end.
    void refusedLogIsReportedAndTheSaveGoesOn() {
        const QString outside = FHome->filePath("outside.log");
        WriteFileAtomically(outside.toStdString(), "");
        const QString folder = FHome->filePath("copy");
        QDir().mkpath(folder);
        QVERIFY(QFile::link(outside, folder + "/lkspl.log"));
        TStartForm& form = Collect(TitledPage());
        form.edFolder->setText(folder);
        MessageBoxWatch boxes;
        form.btnSave->click();
        QVERIFY(QFileInfo::exists(folder + "/INDEX.HTML"));
        QCOMPARE(boxes.Boxes().size(), std::size_t(1));
        QVERIFY2(boxes.Boxes()[0].Text.contains("The previous-downloads log \"" + folder +
                                                "/lkspl.log\" was not read: it is a symbolic link"),
                 qPrintable(boxes.Boxes()[0].Text));
        QVERIFY(!QFileInfo(folder + "/lkspl.log").isSymLink()); // replaced by this save's log
    }

    void updateNoticeTexts() {
        const auto reply = [](const std::string& Text, std::size_t Size = 24) {
            std::string body(Size, '\0');
            body[0] = static_cast<char>(Text.size());
            body.replace(1, Text.size(), Text);
            return body;
        };
        QCOMPARE(*ReadVersionReply(reply("Larkspool 3.7")), std::string("Larkspool 3.7"));
        QVERIFY(!ReadVersionReply(reply("Larkspool 3.7", 25)));
        std::string claimsTooMuch = reply("Larkspool 3.7");
        claimsTooMuch[0] = char(200);
        QCOMPARE(ReadVersionReply(claimsTooMuch)->size(), std::size_t(23));
        QCOMPARE(UpdateNoticeText("Larkspool 3.7"), std::string("Larkspool 3.7 is available."));
        QCOMPARE(UpdateNoticeText("Larkspool 3.6"), std::string());
        QCOMPARE(UpdateNoticeText("Larkspool 3.6a"), std::string("Larkspool 3.6a is available."));
        QCOMPARE(UpdateNoticeText("Larkspool 3.10"), std::string());
        QCOMPARE(UpdateNoticeText("Larkspool 3.7.1"), std::string("Larkspool 3.7.1 is available"));
        QCOMPARE(UpdateNoticeText("larkspool 4.0"), std::string());
        QVERIFY(ChooseHomeURL(true) != ChooseHomeURL(false));
        QVERIFY(ChooseHomeURL(false).ends_with('/'));
    }

    void updateNoticeFromTheServer() {
        std::string body(24, ' ');
        body[0] = 13;
        body.replace(1, 13, "Larkspool 3.7");
        LocalServer server([&body](httplib::Server& s) {
            s.Get("/lp/verinfo", [&body](const httplib::Request&, httplib::Response& r) {
                r.set_content(body, "application/octet-stream");
            });
        });
        FHomeURL = server.Url("/lp/");
        MessageBoxWatch boxes;
        MemoryPage page;
        page.Title = "Page";
        Collect(page);
        QTRY_COMPARE(boxes.Boxes().size(), std::size_t(1));
        QCOMPARE(boxes.Boxes()[0].Text, QString("Larkspool 3.7 is available."));
        QCOMPARE(boxes.Boxes()[0].Caption, QString("Larkspool: Page"));
        FForm.reset();

        // A reply of another size shows nothing.
        body += "x";
        MessageBoxWatch none;
        Collect(page);
        QTRY_COMPARE(server.Seen().size(), std::size_t(2));
        QTest::qWait(100); // time for a reply to be answered, if it were
        QCOMPARE(none.Boxes().size(), std::size_t(0));
    }
};

QTEST_MAIN(StartFormTest)
#include "StartFormTest.moc"
