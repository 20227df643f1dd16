#include "ui/AuthForm.h"

#include "ui/AppValues.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace larkspool {

namespace {

QLabel* MakeLabel(const QString& Text, QWidget* Parent, const char* Name) {
    auto* label = new QLabel(Text, Parent);
    label->setObjectName(QString::fromLatin1(Name));
    return label;
}

} // namespace

TAuthForm::TAuthForm(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("AuthForm"));
    setWindowTitle(QStringLiteral("Larkspool - Enter Network Password"));

    Label1 = MakeLabel(QStringLiteral("Please type your user name and password."), this, "Label1");
    Label2 = MakeLabel(QStringLiteral("Site"), this, "Label2");
    lblSite = MakeLabel(QString(), this, "lblSite");
    lblSite->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblUser = MakeLabel(QStringLiteral("&User Name"), this, "lblUser");
    edUser = new QLineEdit(this);
    edUser->setObjectName(QStringLiteral("edUser"));
    lblUser->setBuddy(edUser);
    lblPass = MakeLabel(QStringLiteral("&Password"), this, "lblPass");
    edPass = new QLineEdit(this);
    edPass->setObjectName(QStringLiteral("edPass"));
    edPass->setEchoMode(QLineEdit::Password);
    lblPass->setBuddy(edPass);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* fields = new QGridLayout;
    fields->setColumnStretch(1, 1);
    fields->addWidget(Label2, 0, 0);
    fields->addWidget(lblSite, 0, 1);
    fields->addWidget(lblUser, 1, 0);
    fields->addWidget(edUser, 1, 1);
    fields->addWidget(lblPass, 2, 0);
    fields->addWidget(edPass, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* form = new QVBoxLayout(this);
    form->addWidget(Label1);
    form->addSpacing(4);
    form->addLayout(fields);
    form->addStretch();
    form->addLayout(buttons);

    setTabOrder(edUser, edPass);
    setTabOrder(edPass, btnOk);
    setTabOrder(btnOk, btnCancel);
    edUser->setFocus();

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    resize(QSize(314, 169).expandedTo(minimumSizeHint()));
    setFixedSize(size());
}

void TAuthForm::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (const QScreen* shown = screen())
        move(shown->availableGeometry().center() - rect().center());
}

void TAuthForm::btnCancelClick() {
    reject();
}

void TAuthForm::done(int Result) {
    if (!FormCloseQuery()) {
        setResult(0);
        return;
    }
    QDialog::done(Result);
}

// Both tests run, so with both boxes empty the user hears two beeps and ends
// up in the password box. The beep goes through the shared hook, so tests
// can count it.
bool TAuthForm::FormCloseQuery() {
    bool canClose = true;
    if (edUser->text().isEmpty()) {
        canClose = false;
        edUser->setFocus();
        Beep();
    }
    if (edPass->text().isEmpty()) {
        canClose = false;
        edPass->setFocus();
        Beep();
    }
    return canClose;
}

} // namespace larkspool
