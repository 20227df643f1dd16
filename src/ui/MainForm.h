#pragma once

// The progress window of one save: a view over the download run, with the
// Skip, Stop and Abort buttons and the password prompt. The window starts the
// run when it is first shown and closes itself, always with the Accepted
// result, when the run is over; it has no other way to close. With the
// VerifyCopy setting, a run that was not aborted is followed by the offline
// check of the copy, on a thread of its own while the window stays
// responsive; Abort ends the check, and its lines join the message at the
// close.

#include "browser/OfflineCheck.h"
#include "browser/Variant.h"
#include "lister/Lister.h"
#include "run/DownloadRun.h"
#include "run/RunObserver.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
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
    // The same with the offline check's lines (problems, then the summary
    // line) after the save's problems.
    static QString CloseMessage(const std::vector<std::string>& Problems,
                                const std::vector<std::string>& CheckLines);

    // The offline check (tests put another in its place); it runs on the
    // check's thread.
    std::function<OfflineReport(const std::string& Folder, const std::vector<std::string>& Pages,
                                const OfflineCheckOptions& Options)>
        CheckCopy = CheckCopyOffline;
    // The check's lines once it has ended (problems, then the summary line).
    const std::vector<std::string>& CheckLines() const { return FCheckLines; }

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
    void StartCopyCheck();
    void CopyCheckProgress(std::size_t Done, std::size_t Count, const std::string& File);
    void CopyCheckDone(std::vector<std::string> Lines, bool Missing);
    void Finish();

    TLister& FList;
    DownloadRun FRun;
    std::vector<std::string> FProblems;
    bool FShown = false;
    bool FAborted = false;
    bool FCheckMissing = false; // the check found something that does not load
    std::thread FCheck;
    std::atomic<bool> FCheckStopped{false};
    std::vector<std::string> FCheckLines;
};

// The progress window while a save runs; null otherwise.
extern TMainForm* MainForm;

} // namespace larkspool
