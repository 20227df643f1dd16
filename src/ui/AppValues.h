#pragma once

// Values of the program's windows that live for the whole process, and the
// application's title, which captions every message box.

#include "browser/Variant.h"
#include "tools/Cookies.h"

#include <QMessageBox>
#include <QString>

#include <exception>
#include <functional>
#include <string>

namespace larkspool {

// The object whose Start call the process serves. Start takes one extra
// reference on it; the windows drop that reference when their work ends.
class IAppObject {
public:
    virtual ~IAppObject() = default;
    virtual void DropStartReference() = 0;
    // The window was closed (after the reference was dropped): the place to
    // ask whether to end while a caller still holds the object.
    virtual void WindowClosed(QWidget* /*Window*/) {}
};

// Null until Start is called: the window then knows it was started by hand.
extern IAppObject* AppObject;
// The browser's window object handed to Start; Null once released.
extern Variant BrowserWindow;
// The base address of the maker's web server, ending with "/".
extern std::string HomeURL;
// The cookies of the browser the process was started from; unset when it
// was started by hand (a save then begins with no cookies).
extern CookieSource BrowserCookies;

// The application's title ("Larkspool", later "Larkspool: " and the page
// title; "25% Larkspool: ..." during a save).
QString ApplicationTitle();
void SetApplicationTitle(const QString& Title);

// A standard message box captioned with the application title; returns the
// button pressed.
QMessageBox::StandardButton ShowMessage(QWidget* Parent, const QString& Text,
                                        QMessageBox::StandardButtons Buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton Default = QMessageBox::NoButton,
                                        QMessageBox::Icon Icon = QMessageBox::Information);

// What nobody handled inside a window's handler: shown in a message box
// (the application's general error handler), and the program goes on.
void ShowError(QWidget* Parent, const std::exception& Error);
// Runs Handler, showing an exception it lets out with ShowError.
void RunGuarded(QWidget* Parent, const std::function<void()>& Handler);

// The system's beep. Tests replace BeepHook to count beeps.
extern std::function<void()> BeepHook;
void Beep();

// Text from the program's byte strings (UTF-8) and back.
inline QString ToQ(const std::string& Text) {
    return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}
inline std::string FromQ(const QString& Text) {
    return Text.toUtf8().toStdString();
}

} // namespace larkspool
