#pragma once

// Answers the message boxes a window shows while a test drives it: each one
// is recorded (caption and text) and closed with its default button.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>
#include <vector>

namespace larkspool::check {

class MessageBoxWatch {
public:
    struct Seen {
        QString Caption, Text;
        QMessageBox::Icon Icon = QMessageBox::NoIcon;
    };

    MessageBoxWatch() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
        FTimer.start(10);
    }

    const std::vector<Seen>& Boxes() const { return FBoxes; }

private:
    void Answer() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            FBoxes.push_back({box->windowTitle(), box->text(), box->icon()});
            if (QAbstractButton* button = box->defaultButton())
                button->click();
            else if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
        }
    }

    QTimer FTimer;
    std::vector<Seen> FBoxes;
};

} // namespace larkspool::check
