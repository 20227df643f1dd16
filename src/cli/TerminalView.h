#pragma once

// The download run as the terminal shows it: one updating line on a
// terminal, plain lines otherwise; problems on standard error; a password
// asked on the terminal, never in a pipe.

#include "run/RunObserver.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace larkspool {

class TerminalView : public IRunObserver, public ICredentialsPrompt {
public:
    // Progress goes to Out, problems and the password prompt to Err.
    explicit TerminalView(bool Quiet, std::FILE* Out = stdout, std::FILE* Err = stderr);

    void StatusChanged(const std::string& Text) override;
    void ProgressChanged(int Position, int Max) override;
    void ItemChanged(const std::string& Caption, const std::string& URL) override;
    void TitleChanged(const std::string&) override {}
    void ProblemReported(const std::string& URL, const std::string& Reason) override;
    void RunClosed() override;

    bool AskCredentials(const std::string& Site, std::string& User, std::string& Password) override;

    bool Closed() const { return FClosed; }
    int Problems() const { return FProblems; }
    // Ends an updating line before other output.
    void EndLine();

private:
    void Draw(bool Force);

    const bool FQuiet;
    std::FILE* const FOut;
    std::FILE* const FErr;
    const bool FTerminal;
    bool FClosed = false;
    bool FLineOpen = false;
    int FProblems = 0;
    std::string FStatus, FCaption, FLastPrinted;
    std::chrono::steady_clock::time_point FLastDraw{};
};

} // namespace larkspool
