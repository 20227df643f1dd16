// The settings and the window's controls, both ways.
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"
#include "ui/AppValues.h"
#include "ui/StartForm.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>

namespace larkspool {

namespace {

constexpr int DefaultColumnWidth = 200;

std::string TrimmedText(const QLineEdit* Box) {
    return FromQ(Box->text().trimmed());
}

} // namespace

void TStartForm::ShowSettings() {
    edFolder->setText(ToQ(Settings.DestinationFolder));
    chbSubFolder->setChecked(Settings.CreateSubFolder);
    chbSubFolderClick();
    chbImg->setChecked(Settings.ShowPictures);
    if (Settings.URLW == 0)
        Settings.URLW = DefaultColumnWidth;
    if (Settings.TextW == 0)
        Settings.TextW = DefaultColumnWidth;
    LinksView->setColumnWidth(1, Settings.URLW);
    LinksView->setColumnWidth(2, Settings.TextW);
    chbAutoSkip->setChecked(Settings.AutoSkip);
    UpDown1->setValue(Settings.SkipSec); // held within 0 to 1000 by the control
    chbExter->setChecked(Settings.NotExtPic);
    chbExter->setToolTip(QStringLiteral("pictures are external if their URLs do not begin with ") +
                         ToQ(HostPartOf(StartPageURL)));
    chbURL->setChecked(Settings.NotKeyPic);
    chbURLClick();
    edURL->setText(ToQ(Settings.KeyWords));
    edExt->setText(ToQ(Settings.Extensions));
    if (QAbstractButton* item = rgrExtItems->button(Settings.DoWithExtensions))
        item->setChecked(true);
    chbExist->setChecked(Settings.SaveExistF);
    chbScripts->setChecked(Settings.SaveScripts);
    chbStyleFiles->setChecked(Settings.SaveStyleFiles);
    spnConnections->setValue(Settings.Connections); // held within its range by the control
    chbVerify->setChecked(Settings.VerifyCopy);
    edUserS->setText(ToQ(Settings.UserS));
    edPassS->setText(ToQ(Settings.PassS));
    edUserP->setText(ToQ(Settings.UserP));
    edPassP->setText(ToQ(Settings.PassP));
}

void TStartForm::StoreSettings() {
    Settings.DestinationFolder = TrimmedText(edFolder);
    Settings.CreateSubFolder = chbSubFolder->isChecked();
    Settings.ShowPictures = chbImg->isChecked();
    Settings.URLW = LinksView->columnWidth(1);
    Settings.TextW = LinksView->columnWidth(2);
    Settings.WinW = width();
    Settings.WinH = height();
    Settings.WinL = x();
    Settings.WinT = y();
    Settings.AutoSkip = chbAutoSkip->isChecked();
    Settings.SkipSec = UpDown1->value();
    Settings.NotExtPic = chbExter->isChecked();
    Settings.NotKeyPic = chbURL->isChecked();
    Settings.KeyWords = TrimmedText(edURL);
    Settings.Extensions = TrimmedText(edExt);
    Settings.DoWithExtensions = rgrExtItems->checkedId();
    Settings.SaveExistF = chbExist->isChecked();
    Settings.SaveScripts = chbScripts->isChecked();
    Settings.SaveStyleFiles = chbStyleFiles->isChecked();
    Settings.Connections = spnConnections->value();
    Settings.VerifyCopy = chbVerify->isChecked();
    Settings.UserS = FromQ(edUserS->text());
    Settings.PassS = FromQ(edPassS->text());
    Settings.UserP = FromQ(edUserP->text());
    Settings.PassP = FromQ(edPassP->text());
    if (chbOptDef->isChecked())
        SaveSettings();
}

} // namespace larkspool
