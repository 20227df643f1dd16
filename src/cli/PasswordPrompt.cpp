#include "cli/PasswordPrompt.h"

#include "platform/Descriptors.h"

#include <csignal>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace larkspool {

namespace {

// What a signal handler needs to give the terminal its echo back before the
// signal takes its course.
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t GTerminal = -1;
termios GSaved{};
struct sigaction GPrevious[std::size(EndingSignals)]{};

void RestoreAndResend(int Signal) {
    if (GTerminal >= 0)
        ::tcsetattr(GTerminal, TCSAFLUSH, &GSaved);
    for (std::size_t i = 0; i < std::size(EndingSignals); ++i)
        if (EndingSignals[i] == Signal)
            ::sigaction(Signal, &GPrevious[i], nullptr);
    ::raise(Signal);
}

// Echo off while it lives.
class QuietTerminal {
public:
    QuietTerminal(int Fd, const termios& Saved) : FFd(Fd) {
        GSaved = Saved;
        GTerminal = Fd;
        struct sigaction action {};
        action.sa_handler = RestoreAndResend;
        ::sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(EndingSignals); ++i)
            ::sigaction(EndingSignals[i], &action, &GPrevious[i]);
        termios quiet = Saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        ::tcsetattr(Fd, TCSAFLUSH, &quiet);
    }
    ~QuietTerminal() {
        ::tcsetattr(FFd, TCSAFLUSH, &GSaved);
        GTerminal = -1;
        for (std::size_t i = 0; i < std::size(EndingSignals); ++i)
            ::sigaction(EndingSignals[i], &GPrevious[i], nullptr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    int FFd;
};

} // namespace

std::optional<std::string> ReadPasswordFromTerminal(const std::string& Prompt, int In, int Out) {
    termios saved{};
    if (!::isatty(In) || ::tcgetattr(In, &saved) != 0)
        return std::nullopt;
    std::optional<std::string> line;
    {
        QuietTerminal quiet(In, saved);
        // After echo is off: what is typed once the prompt shows is not shown.
        WriteAll(Out, Prompt);
        std::string typed;
        for (;;) {
            char c = 0;
            if (ReadSome(In, &c, 1) != 1)
                break;
            if (c == '\n' || c == '\r') {
                line = std::move(typed);
                break;
            }
            typed += c;
        }
    }
    WriteAll(Out, "\n"); // the Enter the terminal did not show
    return line;
}

} // namespace larkspool
