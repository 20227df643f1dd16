#include "ui/MainForm.h"

#include "run/CopyCheck.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/AuthForm.h"
#include "ui/BusyAnimation.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace larkspool {

TMainForm* MainForm = nullptr;

namespace {

QPushButton* MakeButton(const QString& Text, const QString& Hint, const char* Name,
                        QWidget* Parent) {
    auto* button = new QPushButton(Text, Parent);
    button->setObjectName(QString::fromLatin1(Name));
    button->setToolTip(Hint);
    // Small like the original's 50 x 21, but never narrower than the caption.
    const QFontMetrics metrics(button->font());
    button->setMinimumSize(std::max(50, metrics.horizontalAdvance(Text) + 16),
                           std::max(21, metrics.height() + 8));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

} // namespace

TMainForm::TMainForm(TLister& List, Variant BrowserWindow, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FList(List),
      FRun(List, std::move(BrowserWindow), *this, this) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Larkspool"));
    FRun.SetCookieSource(BrowserCookies);

    Animate1 = new BusyAnimation(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    lblURL = new QLabel(this);
    lblURL->setObjectName(QStringLiteral("lblURL"));
    lblURL->setFixedWidth(270);
    lblURL->setTextFormat(Qt::PlainText);
    pbGet = new QProgressBar(this);
    pbGet->setObjectName(QStringLiteral("pbGet"));
    pbGet->setRange(0, 1);
    pbGet->setValue(0);
    pbGet->setTextVisible(false);
    pbGet->setMinimumWidth(272);
    pbGet->setFixedHeight(16);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    // Room for a usual status line; a longer one is cut off rather than
    // making the window jump while it runs.
    lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblStatus->setMinimumWidth(lblStatus->fontMetrics().horizontalAdvance(
        QStringLiteral("100% Save stylesheets (99999999 bytes received)")));
    btnSkip =
        MakeButton(QStringLiteral("S&kip"), QStringLiteral("Skip current file"), "btnSkip", this);
    btnStop = MakeButton(QStringLiteral("&Stop"), QStringLiteral("Stop download and relink files"),
                         "btnStop", this);
    btnAbort =
        MakeButton(QStringLiteral("&Abort"), QStringLiteral("Abort download"), "btnAbort", this);
    for (QPushButton* button : {btnSkip, btnStop, btnAbort})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    buttons->addStretch();
    buttons->addWidget(btnSkip);
    buttons->addWidget(btnStop);
    buttons->addWidget(btnAbort);
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(12, 6, 12, 8);
    form->setSpacing(4);
    form->addWidget(Animate1, 0, Qt::AlignHCenter);
    form->addWidget(lblURL);
    form->addWidget(pbGet);
    form->addWidget(lblStatus);
    form->addStretch();
    form->addLayout(buttons);

    connect(btnSkip, &QPushButton::clicked, this, [this] { btnSkipClick(); });
    connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
    connect(btnAbort, &QPushButton::clicked, this, [this] { btnAbortClick(); });

    resize(QSize(300, 146).expandedTo(minimumSizeHint()));
    setFixedSize(size());
}

TMainForm::~TMainForm() {
    FCheckStopped = true;
    if (FCheck.joinable())
        FCheck.join();
}

void TMainForm::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (FShown)
        return;
    FShown = true;
    if (const QScreen* shown = screen())
        move(shown->availableGeometry().center() - rect().center());
    // From the loop, so that the window is on the screen before the start
    // pages are written, which keeps the thread busy for a while.
    QMetaObject::invokeMethod(
        this, [this] { FormShow(); }, Qt::QueuedConnection);
}

void TMainForm::FormShow() {
    repaint();
    RunGuarded(this, [this] { FRun.Start(); });
}

// Only the end of the run or Abort closes the window.
void TMainForm::closeEvent(QCloseEvent* Event) {
    Event->ignore();
}

void TMainForm::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

// A failure inside a button's work is shown, and the window waits for the
// next button.
void TMainForm::btnSkipClick() {
    RunGuarded(this, [this] { FRun.SkipCurrent(); });
}

void TMainForm::btnStopClick() {
    RunGuarded(this, [this] { FRun.Stop(); });
}

void TMainForm::btnAbortClick() {
    if (FCheck.joinable()) {
        // The copy is complete: Abort only ends its check.
        FCheckStopped = true;
        btnAbort->setEnabled(false);
        return;
    }
    FAborted = true;
    RunGuarded(this, [this] { FRun.Abort(); });
}

void TMainForm::StatusChanged(const std::string& Text) {
    lblStatus->setText(ToQ(Text));
    // Relinking runs on this thread without returning to the loop.
    lblStatus->repaint();
}

void TMainForm::ProgressChanged(int Position, int Max) {
    // A range of 0 to 0 would turn the bar into a busy indicator.
    pbGet->setMaximum(std::max(Max, 1));
    pbGet->setValue(std::clamp(Position, 0, pbGet->maximum()));
}

void TMainForm::ItemChanged(const std::string& Caption, const std::string& URL) {
    lblURL->setText(ToQ(Caption));
    lblURL->setToolTip(ToQ(URL));
}

void TMainForm::TitleChanged(const std::string& Title) {
    SetApplicationTitle(ToQ(Title));
}

void TMainForm::ProblemReported(const std::string& URL, const std::string& Reason) {
    FProblems.push_back(URL.empty() ? Reason : URL + ": " + Reason);
    // Also where a developer or a bug report can read all of them; the
    // message at the end lists only the first few.
    std::fprintf(stderr, "larkspool: %s\n", FProblems.back().c_str());
}

QString TMainForm::ProblemsMessage(const std::vector<std::string>& Problems) {
    QString text = QStringLiteral("Some files could not be saved:");
    const std::size_t listed = std::min<std::size_t>(Problems.size(), MaxListedProblems);
    for (std::size_t i = 0; i < listed; ++i)
        text += QLatin1Char('\n') + ToQ(Problems[i]);
    if (Problems.size() > listed)
        text += QStringLiteral("\nand %1 more").arg(Problems.size() - listed);
    return text;
}

QString TMainForm::CloseMessage(const std::vector<std::string>& Problems,
                                const std::vector<std::string>& CheckLines) {
    QString text = Problems.empty() ? QString() : ProblemsMessage(Problems);
    if (CheckLines.empty())
        return text;
    if (!text.isEmpty())
        text += QStringLiteral("\n\n");
    // The summary line comes last and is always shown.
    const std::size_t problems = CheckLines.size() - 1;
    if (problems > 0)
        text += QStringLiteral("Checked offline, these do not load:");
    const std::size_t listed = std::min<std::size_t>(problems, MaxListedProblems);
    for (std::size_t i = 0; i < listed; ++i)
        text += QLatin1Char('\n') + ToQ(CheckLines[i]);
    if (problems > listed)
        text += QStringLiteral("\nand %1 more").arg(problems - listed);
    return text + (problems > 0 ? QStringLiteral("\n") : QString()) + ToQ(CheckLines.back());
}

void TMainForm::RunClosed() {
    if (Settings.VerifyCopy && !FAborted) {
        StartCopyCheck();
        return;
    }
    Finish();
}

void TMainForm::StartCopyCheck() {
    btnSkip->setEnabled(false);
    btnStop->setEnabled(false);
    btnAbort->setToolTip(QStringLiteral("Stop checking the copy"));
    lblURL->setText(QStringLiteral("Checking the copy offline"));
    lblURL->setToolTip(ToQ(OutputFolder));
    pbGet->setRange(0, 1);
    pbGet->setValue(0);
    // Read here: the list and the folder belong to this thread.
    FCheck = std::thread([this, pages = StoredPages(FList, OutputFolder), folder = OutputFolder,
                          check = CheckCopy] {
        OfflineCheckOptions options;
        options.Cancelled = [this] { return FCheckStopped.load(); };
        options.Progress = [this](std::size_t Done, std::size_t Count, const std::string& File) {
            QMetaObject::invokeMethod(
                this, [this, Done, Count, File] { CopyCheckProgress(Done, Count, File); },
                Qt::QueuedConnection);
        };
        std::vector<std::string> lines;
        bool missing = true;
        try {
            const OfflineReport report = check(folder, pages, options);
            lines = ProblemLines(report);
            lines.push_back(report.SummaryLine());
            missing = report.Missing() > 0;
        } catch (const std::exception& e) {
            lines = {std::string("The copy could not be checked offline: ") + e.what()};
        }
        QMetaObject::invokeMethod(
            this, [this, lines = std::move(lines), missing] { CopyCheckDone(lines, missing); },
            Qt::QueuedConnection);
    });
}

void TMainForm::CopyCheckProgress(std::size_t Done, std::size_t Count, const std::string& File) {
    ProgressChanged(static_cast<int>(Done), static_cast<int>(Count));
    lblStatus->setText(QStringLiteral("Checking offline: %1 of %2 pages %3")
                           .arg(ToQ(GroupedNumber(static_cast<long long>(Done))),
                                ToQ(GroupedNumber(static_cast<long long>(Count))), ToQ(File)));
}

void TMainForm::CopyCheckDone(std::vector<std::string> Lines, bool Missing) {
    if (FCheck.joinable())
        FCheck.join();
    FCheckLines = std::move(Lines);
    FCheckMissing = Missing;
    Finish();
}

void TMainForm::Finish() {
    Animate1->Stop();
    if (!FProblems.empty() || !FCheckLines.empty()) {
        const bool warn = !FProblems.empty() || FCheckMissing;
        ShowMessage(this, CloseMessage(FProblems, FCheckLines), QMessageBox::Ok,
                    QMessageBox::NoButton, warn ? QMessageBox::Warning : QMessageBox::Information);
    }
    accept();
}

bool TMainForm::AskCredentials(const std::string& Site, std::string& User, std::string& Password) {
    TAuthForm form(this);
    form.lblSite->setText(ToQ(Site));
    if (form.exec() != QDialog::Accepted)
        return false;
    User = FromQ(form.edUser->text());
    Password = FromQ(form.edPass->text());
    return true;
}

} // namespace larkspool
