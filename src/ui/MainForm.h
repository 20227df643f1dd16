#pragma once

// The progress window of one save: a view over the download run, with the
// Skip, Stop and Abort buttons and the password prompt. The window starts the
// run when it is first shown and closes itself, always with the Accepted
// result, when the run is over; it has no other way to close.

#include "browser/Variant.h"
#include "lister/Lister.h"
#include "run/DownloadRun.h"
#include "run/RunObserver.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace larkspool {

class BusyAnimation;

class TMainForm : public QDialog, public IRunObserver, public ICredentialsPrompt {
    Q_OBJECT
public:
    TMainForm(TLister& List, Variant BrowserWindow, QWidget* Parent = nullptr);
    ~TMainForm() override;

    // Stop, as the button does (when the browser side goes away).
    void StopRun() { btnStopClick(); }

    // IRunObserver
    void StatusChanged(const std::string& Text) override;
    void ProgressChanged(int Position, int Max) override;
    void ItemChanged(const std::string& Caption, const std::string& URL) override;
    void TitleChanged(const std::string& Title) override;
    void ProblemReported(const std::string& URL, const std::string& Reason) override;
    void RunClosed() override;

    // ICredentialsPrompt: a fresh password dialog for every question.
    bool AskCredentials(const std::string& Site, std::string& User, std::string& Password) override;

    // The text of the message shown at the close when something failed.
    static QString ProblemsMessage(const std::vector<std::string>& Problems);
    static constexpr int MaxListedProblems = 20;

    BusyAnimation* Animate1;
    QLabel* lblURL;
    QProgressBar* pbGet;
    QLabel* lblStatus;
    QPushButton* btnSkip;
    QPushButton* btnStop;
    QPushButton* btnAbort;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FormShow();
    void btnSkipClick();
    void btnStopClick();
    void btnAbortClick();

    DownloadRun FRun;
    std::vector<std::string> FProblems;
    bool FShown = false;
};

// The progress window while a save runs; null otherwise.
extern TMainForm* MainForm;

} // namespace larkspool
