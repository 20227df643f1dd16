#pragma once

// TStartForm: the program's one window. Started by hand it shows only the
// About page; filled from a browser window by CollectLinks it lists the
// page's links with check boxes and the options, and its Start button builds
// the download list and runs the progress window.

#include "browser/LinkCollection.h"
#include "browser/Variant.h"
#include "http/AdvHttp.h"
#include "lister/Lister.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace larkspool {

class TMainForm;

class TStartForm : public QWidget {
    Q_OBJECT
public:
    explicit TStartForm(QWidget* Parent = nullptr);
    ~TStartForm() override;

    // Fills the window from the browser window handed to Start. A member the
    // document does not offer raises; what was filled before stays.
    void CollectLinks(const Variant& Window);

    // The pages.
    QTabWidget* PageControl1;
    // "General options".
    QLineEdit* edFolder;
    QPushButton* btnFolder;
    QLineEdit* edSubFolder;
    QCheckBox* chbSubFolder;
    QCheckBox* chbImg;
    QPushButton* btnAll;
    QPushButton* btnInverse;
    QPushButton* btnInternal;
    QTreeWidget* LinksView;
    QPushButton* btnSave;
    // "Advanced options".
    QCheckBox* chbExter;
    QCheckBox* chbURL;
    QLineEdit* edURL;
    QGroupBox* grpComplete;
    QCheckBox* chbScripts;
    QCheckBox* chbStyleFiles;
    QGroupBox* grpExist;
    QCheckBox* chbExist;
    QCheckBox* chbAutoSkip;
    QSpinBox* UpDown1;
    QSpinBox* spnConnections;
    QLineEdit* edSec; // the up-down control's own read-only box
    QGroupBox* rgrExt;
    QButtonGroup* rgrExtItems;
    QLineEdit* edExt;
    QCheckBox* chbVerify; // the offline check of the copy when the save is done
    // "Authentication".
    QLineEdit* edUserS;
    QLineEdit* edPassS;
    QLineEdit* edUserP;
    QLineEdit* edPassP;
    // "About Larkspool".
    QLabel* Label5; // home page link
    QLabel* Label7; // e-mail link
    // Below the pages.
    QPushButton* btnCancel;
    QCheckBox* chbOptDef;

    // The update check's request.
    TAdvHttp AdvHttp;
    // The column the link list is ordered by.
    int SortColumn = 0;
    // The download list of the save, made by the Start button.
    std::unique_ptr<TLister> Lister;

    // Settings to the controls, and back (then stored when "Save options as
    // default" is checked).
    void ShowSettings();
    void StoreSettings();

    // Handlers.
    void FormShow();
    void btnFolderClick();
    void chbSubFolderClick();
    void chbURLClick();
    void btnAllClick();
    void btnInverseClick();
    void btnInternalClick();
    void btnSaveClick();
    void btnCancelClick();
    void PageControl1Changing(bool& AllowChange);
    void PageControl1Change();
    void Label5Click();
    void Label7Click();
    void LinksViewColumnClick(int Column);
    // The space bar in the link list; true when the key was used.
    bool LinksViewKeyDown(int Key);
    void AdvHttpRequestComplete();

    // Called with the progress window just before it runs (tests watch it).
    std::function<void(TMainForm&)> OnRunWindow;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QWidget* MakeGeneralPage();
    QWidget* MakeAdvancedPage();
    QWidget* MakeAuthenticationPage();
    QWidget* MakeAboutPage();
    void SortLinks();
    // The rows whose box is checked, for the download list.
    std::vector<LinkRow> CheckedLinks() const;
    void RunSave(const std::string& SubFolder);
    void EndSession();
    void ShowUpdateNotice(const std::string& ReplyText);
    void AddLinkRow(const std::string& Number, const std::string& Address, const std::string& Text,
                    bool Checked);

    bool FShown = false;
    int FPageIndex = 0;      // the page before a change, to return to
    bool FPageGuard = false; // a change the program makes itself
};

} // namespace larkspool
