#pragma once

// The network password prompt: asked for when a server still refuses the
// credentials a request carries. It can be left, by either button or any
// other way, only once both a user name and a password have been typed.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace larkspool {

class TAuthForm : public QDialog {
    Q_OBJECT
public:
    explicit TAuthForm(QWidget* Parent = nullptr);

    // Every close goes through here; a refused one keeps the dialog open.
    void done(int Result) override;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* lblSite;
    QLabel* lblUser;
    QLineEdit* edUser;
    QLabel* lblPass;
    QLineEdit* edPass;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    bool FormCloseQuery();
    void btnCancelClick();
};

} // namespace larkspool
