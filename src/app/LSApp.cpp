#include "app/LSApp.h"

#include "ui/StartForm.h"

#include <QCoreApplication>

namespace larkspool {

TLSApp::TLSApp(TStartForm& Form) : Quit([] { QCoreApplication::quit(); }), FForm(Form) {}

TLSApp::~TLSApp() {
    if (AppObject == this)
        AppObject = nullptr;
}

void TLSApp::Start(const Variant& WB) {
    FStarted = true;
    AppObject = this;
    FStartReference = true;
    FForm.CollectLinks(WB);
}

void TLSApp::ReleaseClient() {
    FClientReference = false;
    QuitWhenUnused();
}

void TLSApp::DropStartReference() {
    FStartReference = false;
    QuitWhenUnused();
}

void TLSApp::QuitWhenUnused() {
    if (!FClientReference && !FStartReference && Quit)
        Quit();
}

QString ComServerWarningText() {
    return QStringLiteral(
        "There are still active COM objects in this application.  One or more clients may have "
        "references to these objects, so manually closing this application may cause those "
        "client application(s) to fail.\r\n\r\nAre you sure you want to close this application?");
}

void TLSApp::WindowClosed(QWidget* Window) {
    if (!FClientReference)
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("COM Server Warning"),
                    ComServerWarningText(), QMessageBox::Yes | QMessageBox::No, Window);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes && Quit)
        Quit();
}

} // namespace larkspool
