#include "ui/AppValues.h"

#include <QApplication>

namespace larkspool {

IAppObject* AppObject = nullptr;
Variant BrowserWindow;
std::string HomeURL;
CookieSource BrowserCookies;

namespace {
QString gApplicationTitle = QStringLiteral("Larkspool");
}

QString ApplicationTitle() {
    return gApplicationTitle;
}

void SetApplicationTitle(const QString& Title) {
    gApplicationTitle = Title;
}

QMessageBox::StandardButton ShowMessage(QWidget* Parent, const QString& Text,
                                        QMessageBox::StandardButtons Buttons,
                                        QMessageBox::StandardButton Default,
                                        QMessageBox::Icon Icon) {
    QMessageBox box(Icon, ApplicationTitle(), Text, Buttons, Parent);
    if (Default != QMessageBox::NoButton)
        box.setDefaultButton(Default);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowError(QWidget* Parent, const std::exception& Error) {
    ShowMessage(Parent, ToQ(Error.what()), QMessageBox::Ok, QMessageBox::NoButton,
                QMessageBox::Critical);
}

void RunGuarded(QWidget* Parent, const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& e) {
        ShowError(Parent, e);
    }
}

std::function<void()> BeepHook = [] { QApplication::beep(); };

void Beep() {
    if (BeepHook)
        BeepHook();
}

} // namespace larkspool
