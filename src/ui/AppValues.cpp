#include "ui/AppValues.h"

namespace larkspool {

IAppObject* AppObject = nullptr;
Variant BrowserWindow;
std::string HomeURL;

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

} // namespace larkspool
