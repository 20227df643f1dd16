// The Start and Cancel buttons: from the checked links to a finished save,
// and the end of the session.
#include "platform/AtomicFile.h"
#include "run/HandToBrowser.h"
#include "run/SavePreparation.h"
#include "tools/ProcessValues.h"
#include "ui/AppValues.h"
#include "ui/BusyAnimation.h"
#include "ui/MainForm.h"
#include "ui/Messages.h"
#include "ui/StartForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstdio>
#include <optional>

namespace larkspool {

namespace {

// Writes a small text file with CR LF line ends; a failure is not reported
// (the save goes on without it).
void WriteTextFile(const std::string& Path, std::initializer_list<std::string> Lines) {
    std::string content;
    for (const std::string& line : Lines)
        content += line + "\r\n";
    try {
        WriteFileAtomically(Path, content);
    } catch (const std::exception&) {
    }
}

std::string WarningFilePath() {
    return OutputFolder + "! " + WarningLine1 + " !";
}

} // namespace

void TStartForm::btnSaveClick() {
    const QString folder = edFolder->text(); // as typed
    if (!QFileInfo(folder).isDir()) {
        edFolder->setFocus();
        Beep();
        return;
    }
    hide();
    const std::string typedSubFolder = FromQ(edSubFolder->text());
    std::optional<std::string> subFolder;
    if (chbSubFolder->isChecked() && !typedSubFolder.empty())
        subFolder = typedSubFolder;
    // Prepared as larkspool-save prepares it; the folder is held until this
    // save has ended.
    std::optional<SavePreparation> prepared;
    try {
        prepared.emplace(FromQ(folder), subFolder);
        StoreSettings();
        Lister = prepared->BuildList(BrowserWindow, CheckedLinks());
    } catch (const std::exception& e) {
        // Nothing was saved yet: the window comes back, so the user can
        // correct the choice or cancel.
        Lister.reset();
        ShowError(this, e);
        show();
        return;
    }
    RunSave(subFolder ? prepared->SubFolder() : typedSubFolder);
}

std::vector<LinkRow> TStartForm::CheckedLinks() const {
    std::vector<LinkRow> links;
    for (int i = 0; i < LinksView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = LinksView->topLevelItem(i);
        if (row->checkState(0) != Qt::Checked)
            continue;
        LinkRow link;
        link.Address = FromQ(row->text(1));
        link.Text = FromQ(row->text(2));
        links.push_back(std::move(link));
    }
    return links;
}

void TStartForm::RunSave(const std::string& SubFolder) {
    // Without a subfolder the name is still the typed one; a name that would
    // lead out of the folder gets no shortcut rather than one elsewhere.
    if (SubFolder.find('/') == std::string::npos)
        WriteTextFile(OutputFolder + SubFolder + ".URL",
                      {"[InternetShortcut]", "URL=" + StartPageURL});
    WriteTextFile(WarningFilePath(), {WarningLine1, WarningLine2});
    {
        TMainForm form(*Lister, BrowserWindow);
        MainForm = &form;
        // A log that was not read is left aside; the user learns why at the end.
        if (!Lister->LogProblem().empty())
            form.ProblemReported("", Lister->LogProblem());
        form.Animate1->Play();
        form.setWindowTitle(ToQ(StartPageTitle));
        if (OnRunWindow)
            OnRunWindow(form);
        RunGuarded(nullptr, [&form] { form.exec(); });
        MainForm = nullptr;
    }
    Beep();
    std::remove(WarningFilePath().c_str());
    RunGuarded(nullptr, [this] { HandToBrowser(*Lister, BrowserWindow); });
    AdvHttp.Abort();
    EndSession();
}

void TStartForm::btnCancelClick() {
    AdvHttp.Abort();
    StoreSettings();
    close();
}

void TStartForm::closeEvent(QCloseEvent* Event) {
    IAppObject* app = AppObject;
    EndSession();
    QWidget::closeEvent(Event);
    if (app)
        app->WindowClosed(this);
}

// The browser's window is released and the reference Start took is dropped;
// the program ends when nothing else holds it.
void TStartForm::EndSession() {
    BrowserWindow = Variant::Null();
    if (IAppObject* app = AppObject) {
        AppObject = nullptr;
        app->DropStartReference();
    }
}

} // namespace larkspool
