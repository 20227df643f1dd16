// The window's controls, its pages and its small handlers.
#include "ui/StartForm.h"

#include "tools/Settings.h"
#include "tools/VersionInfo.h"
#include "ui/AppValues.h"
#include "ui/Messages.h"
#include "ui/ProgramIcon.h"
#include "ui/UpdateNotice.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace larkspool {

namespace {

constexpr int MinimumWidth = 431;
constexpr int MinimumHeight = 349;
constexpr int AboutPage = 3;
constexpr const char* MakerMailAddress = "mailto:larkspool@vandrell.example";

// A label that reads as a link and acts on a click.
QLabel* MakeLinkLabel(const QString& Text, QWidget* Parent, std::function<void()> OnClick) {
    auto* label = new QLabel(
        QStringLiteral("<a href=\"#\" style=\"color:#0000ff\">%1</a>").arg(Text), Parent);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    QObject::connect(label, &QLabel::linkActivated, Parent,
                     [OnClick = std::move(OnClick)](const QString&) { OnClick(); });
    return label;
}

} // namespace

TStartForm::TStartForm(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("StartForm"));
    setWindowTitle(QStringLiteral("Larkspool"));
    setWindowIcon(ProgramIcon());
    // Stays on top; a title bar without system menu or buttons.
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(MakeGeneralPage(), QStringLiteral("General options"));
    PageControl1->addTab(MakeAdvancedPage(), QStringLiteral("Advanced options"));
    PageControl1->addTab(MakeAuthenticationPage(), QStringLiteral("Authentication"));
    PageControl1->addTab(MakeAboutPage(), QStringLiteral("About Larkspool"));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int Index) {
        if (FPageGuard) {
            FPageIndex = Index;
            return;
        }
        bool allow = true;
        PageControl1Changing(allow);
        if (!allow)
            return;
        FPageIndex = Index;
        PageControl1Change();
    });

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnCancel, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { btnCancelClick(); }); });
    chbOptDef = new QCheckBox(QStringLiteral("Save options as default"), this);
    chbOptDef->setObjectName(QStringLiteral("chbOptDef"));
    chbOptDef->setVisible(false);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chbOptDef);
    bottom->addStretch();
    bottom->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(bottom);
    // Every tab and button readable: with the system's fonts the window may
    // need more than its designed minimum.
    PageControl1->setUsesScrollButtons(false);
    setMinimumSize(QSize(MinimumWidth, MinimumHeight).expandedTo(minimumSizeHint()));

    AdvHttp.ConnectTimeout = 5000;
    AdvHttp.Method = "GET";
    AdvHttp.AuthRetries = 3;
    AdvHttp.RaiseExceptions = false; // the update check fails silently
    AdvHttp.SetInternetFlags(
        FlagSet({ifIgnoreCertCnInvalid, ifIgnoreCertDateInvalid, ifNoUi, ifResynchronize}));
    AdvHttp.OnRequestComplete = [this](TAdvHttp&) { AdvHttpRequestComplete(); };
}

TStartForm::~TStartForm() {
    AdvHttp.Abort();
}

QWidget* TStartForm::MakeGeneralPage() {
    auto* page = new QWidget;
    edFolder = new QLineEdit(page);
    edFolder->setObjectName(QStringLiteral("edFolder"));
    btnFolder = new QPushButton(QStringLiteral("..."), page);
    btnFolder->setObjectName(QStringLiteral("btnFolder"));
    btnFolder->setToolTip(QStringLiteral("Select destination folder"));
    btnFolder->setFixedWidth(btnFolder->fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                             20);
    connect(btnFolder, &QPushButton::clicked, this, [this] { btnFolderClick(); });
    edSubFolder = new QLineEdit(page);
    edSubFolder->setObjectName(QStringLiteral("edSubFolder"));
    edSubFolder->setEnabled(false);
    chbSubFolder = new QCheckBox(page);
    chbSubFolder->setObjectName(QStringLiteral("chbSubFolder"));
    chbSubFolder->setToolTip(QStringLiteral("enable/disable create subfolder"));
    connect(chbSubFolder, &QCheckBox::toggled, this, [this] { chbSubFolderClick(); });
    chbImg = new QCheckBox(QStringLiteral("Save pictures"), page);
    chbImg->setObjectName(QStringLiteral("chbImg"));

    btnAll = new QPushButton(QStringLiteral("Select All Links"), page);
    btnAll->setObjectName(QStringLiteral("btnAll"));
    connect(btnAll, &QPushButton::clicked, this, [this] { btnAllClick(); });
    btnInverse = new QPushButton(QStringLiteral("Inverse Selection"), page);
    btnInverse->setObjectName(QStringLiteral("btnInverse"));
    connect(btnInverse, &QPushButton::clicked, this, [this] { btnInverseClick(); });
    btnInternal = new QPushButton(QStringLiteral("Deselect external links"), page);
    btnInternal->setObjectName(QStringLiteral("btnInternal"));
    connect(btnInternal, &QPushButton::clicked, this, [this] { btnInternalClick(); });

    LinksView = new QTreeWidget(page);
    LinksView->setObjectName(QStringLiteral("LinksView"));
    LinksView->setColumnCount(3);
    LinksView->setHeaderLabels({QString(), QStringLiteral("URL"), QStringLiteral("Text")});
    LinksView->setRootIsDecorated(false);
    LinksView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    LinksView->setSelectionBehavior(QAbstractItemView::SelectRows);
    LinksView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LinksView->setAllColumnsShowFocus(true);
    LinksView->setToolTip(QStringLiteral("click on column header to sort list"));
    LinksView->header()->setSectionsClickable(true);
    LinksView->header()->setSortIndicatorShown(false);
    LinksView->header()->setStretchLastSection(false);
    connect(LinksView->header(), &QHeaderView::sectionClicked, this,
            [this](int Column) { LinksViewColumnClick(Column); });
    LinksView->installEventFilter(this);

    btnSave = new QPushButton(QStringLiteral("&Start"), page);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    connect(btnSave, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { btnSaveClick(); }); });

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Destination folder"), page), 0, 0);
    grid->addWidget(edFolder, 0, 1);
    grid->addWidget(btnFolder, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Create subfolder"), page), 1, 0);
    grid->addWidget(edSubFolder, 1, 1);
    grid->addWidget(chbSubFolder, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAll);
    buttons->addWidget(btnInverse);
    buttons->addWidget(btnInternal);
    auto* start = new QHBoxLayout;
    start->addStretch();
    start->addWidget(btnSave);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(grid);
    layout->addWidget(chbImg);
    layout->addLayout(buttons);
    layout->addWidget(LinksView, 1);
    layout->addLayout(start);
    return page;
}

QWidget* TStartForm::MakeAdvancedPage() {
    auto* page = new QWidget;
    auto* pictures = new QGroupBox(QStringLiteral(" Pictures "), page);
    chbExter = new QCheckBox(QStringLiteral("Do not save external pictures"), pictures);
    chbExter->setObjectName(QStringLiteral("chbExter"));
    chbURL = new QCheckBox(
        QStringLiteral(
            "Do not save pictures if their URL contain any of the keywords listed below."),
        pictures);
    chbURL->setObjectName(QStringLiteral("chbURL"));
    connect(chbURL, &QCheckBox::toggled, this, [this] { chbURLClick(); });
    edURL = new QLineEdit(pictures);
    edURL->setObjectName(QStringLiteral("edURL"));
    edURL->setToolTip(QStringLiteral("Separate keywords with space; e.g., banner advertising"));
    edURL->setEnabled(false);
    auto* picturesLayout = new QVBoxLayout(pictures);
    picturesLayout->addWidget(chbExter);
    picturesLayout->addWidget(chbURL);
    picturesLayout->addWidget(edURL);

    grpComplete = new QGroupBox(QStringLiteral(" What else the pages need "), page);
    chbScripts = new QCheckBox(QStringLiteral("Save scripts"), grpComplete);
    chbScripts->setObjectName(QStringLiteral("chbScripts"));
    chbScripts->setToolTip(
        QStringLiteral("menus and tables of contents that linked pages build with scripts then "
                       "work offline"));
    chbStyleFiles =
        new QCheckBox(QStringLiteral("Save fonts and style-sheet pictures"), grpComplete);
    chbStyleFiles->setObjectName(QStringLiteral("chbStyleFiles"));
    auto* completeLayout = new QHBoxLayout(grpComplete);
    completeLayout->addWidget(chbScripts);
    completeLayout->addWidget(chbStyleFiles);
    completeLayout->addStretch();

    grpExist = new QGroupBox(QStringLiteral(" Repeated download of the existing document "), page);
    grpExist->setToolTip(QStringLiteral("previous download only with Larkspool 3.5 or higher"));
    chbExist = new QCheckBox(QStringLiteral("Do not reload existing files, relink only"), grpExist);
    chbExist->setObjectName(QStringLiteral("chbExist"));
    (new QVBoxLayout(grpExist))->addWidget(chbExist);

    auto* skip = new QGroupBox(page);
    chbAutoSkip =
        new QCheckBox(QStringLiteral("Auto-skip current file if 0 bytes received for"), skip);
    chbAutoSkip->setObjectName(QStringLiteral("chbAutoSkip"));
    UpDown1 = new QSpinBox(skip);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setRange(0, 1000);
    UpDown1->setValue(20);
    UpDown1->setWrapping(false);
    // The number is changed with the arrows only; its box does not take typing.
    edSec = UpDown1->findChild<QLineEdit*>();
    edSec->setObjectName(QStringLiteral("edSec"));
    edSec->setReadOnly(true);
    auto* skipLayout = new QHBoxLayout(skip);
    skipLayout->addWidget(chbAutoSkip);
    skipLayout->addWidget(UpDown1);
    skipLayout->addWidget(new QLabel(QStringLiteral("seconds"), skip));
    skipLayout->addStretch();
    // As browsers do: a few requests to each server at once.
    spnConnections = new QSpinBox(skip);
    spnConnections->setObjectName(QStringLiteral("spnConnections"));
    spnConnections->setRange(1, MaxConnections);
    spnConnections->setValue(6);
    spnConnections->setToolTip(QStringLiteral("1: one file after the other"));
    auto* connectionsLabel = new QLabel(QStringLiteral("Requests at once per server"), skip);
    connectionsLabel->setBuddy(spnConnections);
    skipLayout->addWidget(connectionsLabel);
    skipLayout->addWidget(spnConnections);

    rgrExt = new QGroupBox(QStringLiteral(" Linked files with extensions: "), page);
    rgrExt->setObjectName(QStringLiteral("rgrExt"));
    rgrExtItems = new QButtonGroup(rgrExt);
    edExt = new QLineEdit(rgrExt);
    edExt->setObjectName(QStringLiteral("edExt"));
    edExt->setToolTip(QStringLiteral("Separate extensions with space; e.g., zip rar exe"));
    auto* extLayout = new QGridLayout(rgrExt);
    extLayout->addWidget(edExt, 0, 1);
    const QString items[] = {
        QStringLiteral("Download with Larkspool"),
        QStringLiteral("Download with default download manager (will not be relink to local file)"),
        QStringLiteral("Do not download "),
    };
    for (int i = 0; i < 3; ++i) {
        auto* item = new QRadioButton(items[i], rgrExt);
        rgrExtItems->addButton(item, i);
        extLayout->addWidget(item, i + 1, 0, 1, 2);
    }
    rgrExtItems->button(0)->setChecked(true);
    // The extension box sits on the first line, beside the group's caption.
    extLayout->setColumnStretch(0, 1);

    // Beside the group above, so that the page needs no more height.
    auto* done = new QGroupBox(QStringLiteral(" After the save "), page);
    chbVerify = new QCheckBox(QStringLiteral("Check the copy offline when done"), done);
    chbVerify->setObjectName(QStringLiteral("chbVerify"));
    chbVerify->setToolTip(QStringLiteral("Open every saved page from the folder with the network "
                                         "cut off and list what does not load"));
    (new QVBoxLayout(done))->addWidget(chbVerify);
    auto* existAndDone = new QHBoxLayout;
    existAndDone->addWidget(grpExist, 1);
    existAndDone->addWidget(done, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(pictures);
    layout->addWidget(grpComplete);
    layout->addLayout(existAndDone);
    layout->addWidget(skip);
    layout->addWidget(rgrExt);
    layout->addStretch();
    // The options outgrow a small window: they scroll rather than force
    // the window to their height.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(page);
    return scroll;
}

QWidget* TStartForm::MakeAuthenticationPage() {
    auto* page = new QWidget;
    const auto makeGroup = [page](const QString& Title, QLineEdit*& User, QLineEdit*& Password,
                                  const QString& UserName, const QString& PasswordName) {
        auto* group = new QGroupBox(Title, page);
        User = new QLineEdit(group);
        User->setObjectName(UserName);
        Password = new QLineEdit(group);
        Password->setObjectName(PasswordName);
        Password->setEchoMode(QLineEdit::Password);
        auto* form = new QFormLayout(group);
        auto* userLabel = new QLabel(QStringLiteral("&User Name"), group);
        userLabel->setBuddy(User);
        auto* passwordLabel = new QLabel(QStringLiteral("&Password"), group);
        passwordLabel->setBuddy(Password);
        form->addRow(userLabel, User);
        form->addRow(passwordLabel, Password);
        return group;
    };
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(makeGroup(QStringLiteral(" Default Site Authentication "), edUserS, edPassS,
                                QStringLiteral("edUserS"), QStringLiteral("edPassS")));
    layout->addWidget(makeGroup(QStringLiteral(" Proxy Authentication "), edUserP, edPassP,
                                QStringLiteral("edUserP"), QStringLiteral("edPassP")));
    layout->addStretch();
    return page;
}

QWidget* TStartForm::MakeAboutPage() {
    auto* page = new QWidget;
    auto* icon = new QLabel(page);
    icon->setPixmap(ProgramPixmap(64));
    auto* name = new QLabel(QStringLiteral("Larkspool"), page);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    name->setFont(big);
    auto* version = new QLabel(QStringLiteral("Version 3.6"), page);
    auto* description =
        new QLabel(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(FileDescription),
                                                 QString::fromLatin1(FileVersion)),
                   page);
    description->setEnabled(false); // greyed: a detail, not a control
    Label5 = MakeLinkLabel(QStringLiteral("Larkspool Home Page"), this, [this] { Label5Click(); });
    Label5->setObjectName(QStringLiteral("Label5"));
    Label7 = MakeLinkLabel(QStringLiteral("Larkspool E-mail"), this, [this] { Label7Click(); });
    Label7->setObjectName(QStringLiteral("Label7"));

    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addWidget(name);
    head->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    layout->addLayout(head);
    layout->addWidget(version);
    layout->addWidget(description);
    layout->addSpacing(12);
    layout->addWidget(Label5);
    layout->addWidget(Label7);
    layout->addStretch();
    for (QWidget* w : {static_cast<QWidget*>(version), static_cast<QWidget*>(description),
                       static_cast<QWidget*>(Label5), static_cast<QWidget*>(Label7)})
        layout->setAlignment(w, Qt::AlignHCenter);
    layout->setAlignment(head, Qt::AlignHCenter);
    return page;
}

// ------------------------------------------------------------ first show

void TStartForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FShown)
        return;
    FShown = true;
    RunGuarded(this, [this] { FormShow(); });
}

void TStartForm::FormShow() {
    FPageGuard = true;
    PageControl1->setCurrentIndex(AboutPage);
    FPageGuard = false;
    LoadSettings();
    resize(QSize(Settings.WinW, Settings.WinH).expandedTo(minimumSize()));
    move(Settings.WinL, Settings.WinT);
    // Centred on the screen: of the stored place only the size shows.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    HomeURL = ChooseHomeURL(QLocale::system().language() == QLocale::Russian);
}

// ------------------------------------------------------------ pages

void TStartForm::PageControl1Changing(bool& AllowChange) {
    AllowChange = AppObject != nullptr;
    if (AllowChange)
        return;
    // Back to the page the user left before the message shows.
    FPageGuard = true;
    PageControl1->setCurrentIndex(FPageIndex);
    FPageGuard = false;
    ShowMessage(this, UsageMessage());
}

void TStartForm::PageControl1Change() {
    chbOptDef->setVisible(PageControl1->currentIndex() != AboutPage);
}

// ------------------------------------------------------------ small handlers

void TStartForm::btnFolderClick() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select destination folder"),
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
        QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        edFolder->setText(folder);
}

void TStartForm::chbSubFolderClick() {
    // A disabled box is drawn greyed by the style.
    edSubFolder->setEnabled(chbSubFolder->isChecked());
}

void TStartForm::chbURLClick() {
    edURL->setEnabled(chbURL->isChecked());
}

void TStartForm::Label5Click() {
    QDesktopServices::openUrl(QUrl(ToQ(HomeURL)));
}

void TStartForm::Label7Click() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(MakerMailAddress)));
}

// ------------------------------------------------------------ update notice

void TStartForm::AdvHttpRequestComplete() {
    // The notice itself tells replies of other programs apart.
    if (const std::optional<std::string> reply = ReadVersionReply(AdvHttp.ResponseStream))
        ShowUpdateNotice(*reply);
}

void TStartForm::ShowUpdateNotice(const std::string& ReplyText) {
    const std::string notice = UpdateNoticeText(ReplyText);
    if (!notice.empty())
        ShowMessage(this, ToQ(notice));
}

} // namespace larkspool
