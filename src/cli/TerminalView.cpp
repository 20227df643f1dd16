#include "cli/TerminalView.h"

#include "cli/PasswordPrompt.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <iostream>
#include <optional>
#include <unistd.h>
#include <utility>

namespace larkspool {

TerminalView::TerminalView(bool Quiet, std::FILE* Out, std::FILE* Err)
    : FQuiet(Quiet), FOut(Out), FErr(Err), FTerminal(::isatty(::fileno(Out))) {}

void TerminalView::StatusChanged(const std::string& Text) {
    FStatus = Text;
    Draw(false);
}

void TerminalView::ProgressChanged(int, int) {}

void TerminalView::ItemChanged(const std::string& Caption, const std::string&) {
    FCaption = Caption;
    Draw(true);
}

void TerminalView::Draw(bool Force) {
    if (FQuiet)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (FTerminal) {
        // At most ten redraws a second: the status changes with every block.
        if (!Force && now - FLastDraw < std::chrono::milliseconds(100))
            return;
        FLastDraw = now;
        std::string line = FStatus + "  " + FCaption;
        if (line.size() > 150)
            line.resize(150);
        std::fprintf(FOut, "\r\033[K%s", line.c_str());
        std::fflush(FOut);
        FLineOpen = true;
        return;
    }
    // Plain output: one line per item (and per relinked page).
    const std::string line = FStatus.substr(0, FStatus.find(" (")) + "  " + FCaption;
    if (Force && line != FLastPrinted) {
        std::fprintf(FOut, "%s\n", line.c_str());
        std::fflush(FOut); // a reader at the other end of a pipe follows along
        FLastPrinted = line;
    }
}

void TerminalView::EndLine() {
    if (FLineOpen) {
        std::fprintf(FOut, "\n");
        std::fflush(FOut);
        FLineOpen = false;
    }
}

void TerminalView::ProblemReported(const std::string& URL, const std::string& Reason) {
    ++FProblems;
    EndLine();
    std::fprintf(FErr, "larkspool-save: %s%s%s\n", URL.c_str(), URL.empty() ? "" : ": ",
                 Reason.c_str());
}

void TerminalView::RunClosed() {
    FClosed = true;
    EndLine();
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

bool TerminalView::AskCredentials(const std::string& Site, std::string& User,
                                  std::string& Password) {
    if (!::isatty(STDIN_FILENO) || !::isatty(::fileno(FErr)))
        return false;
    EndLine();
    std::fprintf(FErr, "%s asks for a user name and password.\nUser name: ", Site.c_str());
    if (!std::getline(std::cin, User))
        return false;
    std::fflush(FErr);
    std::optional<std::string> typed =
        ReadPasswordFromTerminal("Password: ", STDIN_FILENO, ::fileno(FErr));
    if (!typed)
        return false;
    Password = std::move(*typed);
    return !User.empty();
}

} // namespace larkspool
