// The password prompt: its texts, and that it closes only once both boxes are
// filled, whichever way the user tries to leave it.
#include "ui/AuthForm.h"

#include "ui/AppValues.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace larkspool;

class AuthFormTest : public QObject {
    Q_OBJECT
    int Beeps = 0;

private slots:
    void init() {
        Beeps = 0;
        BeepHook = [this] { ++Beeps; };
    }

    void textsAndKeyboard() {
        TAuthForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Larkspool - Enter Network Password"));
        const QStringList texts{form.Label1->text(),  form.Label2->text(), form.lblUser->text(),
                                form.lblPass->text(), form.btnOk->text(),  form.btnCancel->text()};
        QCOMPARE(texts, (QStringList{"Please type your user name and password.", "Site",
                                     "&User Name", "&Password", "Ok", "Cancel"}));
        QCOMPARE(form.lblPass->buddy(), form.edPass);
        QCOMPARE(form.edPass->echoMode(), QLineEdit::Password);
        QVERIFY(form.btnOk->isDefault());
        QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.edUser);
        QTest::keyClick(form.edUser, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), form.edPass);
        QTest::keyClick(&form, Qt::Key_U, Qt::AltModifier); // the label's buddy
        QTRY_COMPARE(QApplication::focusWidget(), form.edUser);
    }

    void closeRules_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QString>("focus"); // where a refusal leaves it; empty: closed
        QTest::addColumn<int>("result");
        QTest::newRow("ok, no password") << "u"
                                         << ""
                                         << "ok" << 1 << "edPass" << 0;
        QTest::newRow("ok, no user") << ""
                                     << "p"
                                     << "ok" << 1 << "edUser" << 0;
        QTest::newRow("cancel, both empty") << ""
                                            << ""
                                            << "cancel" << 2 << "edPass" << 0;
        QTest::newRow("escape, both empty") << ""
                                            << ""
                                            << "escape" << 2 << "edPass" << 0;
        QTest::newRow("window close, no user") << ""
                                               << "p"
                                               << "close" << 1 << "edUser" << 0;
        QTest::newRow("ok, both filled") << "u"
                                         << "p"
                                         << "ok" << 0 << "" << 1;
        QTest::newRow("enter, both filled") << "u"
                                            << "p"
                                            << "enter" << 0 << "" << 1;
        QTest::newRow("cancel, both filled") << "u"
                                             << "p"
                                             << "cancel" << 0 << "" << 0;
        QTest::newRow("escape, both filled") << "u"
                                             << "p"
                                             << "escape" << 0 << "" << 0;
    }
    void closeRules() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, how);
        QFETCH(int, beeps);
        QFETCH(QString, focus);
        QFETCH(int, result);
        TAuthForm form;
        form.edUser->setText(user);
        form.edPass->setText(password);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.setResult(7); // a refusal resets it
        if (how == "ok" || how == "cancel")
            (how == "ok" ? form.btnOk : form.btnCancel)->click();
        else if (how == "close")
            form.close();
        else
            QTest::keyClick(QApplication::focusWidget(),
                            how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        QCOMPARE(Beeps, beeps);
        QCOMPARE(form.isVisible(), !focus.isEmpty());
        QCOMPARE(form.result(), result);
        if (!focus.isEmpty())
            QCOMPARE(form.focusWidget()->objectName(), focus);
    }
};

QTEST_MAIN(AuthFormTest)
#include "AuthFormTest.moc"
