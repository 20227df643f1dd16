#include "cli/PasswordPrompt.h"

#include "platform/Descriptors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>

using namespace larkspool;

namespace {

// A pseudo-terminal: the test types at the master side, the prompt reads the
// other side as it would a user's terminal.
class PasswordPromptTest : public ::testing::Test {
protected:
    void SetUp() override {
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Master.Reset(master);
        Terminal.Reset(slave);
    }

    // What the terminal showed, until Wanted is in it or nothing more comes.
    std::string Shown(const std::string& Wanted = {}) {
        std::string text;
        for (;;) {
            if (!Wanted.empty() && text.find(Wanted) != std::string::npos)
                return text;
            pollfd p{Master.Get(), POLLIN, 0};
            if (::poll(&p, 1, Wanted.empty() ? 200 : 10000) <= 0)
                return text;
            char buffer[256];
            const ssize_t n = ReadSome(Master.Get(), buffer, sizeof buffer);
            if (n <= 0)
                return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }

    bool EchoOn() const {
        termios now{};
        ::tcgetattr(Terminal.Get(), &now);
        return (now.c_lflag & ECHO) != 0;
    }

    UniqueFd Master;
    UniqueFd Terminal;
};

} // namespace

TEST_F(PasswordPromptTest, ReadsTheLineWithoutShowingItAndPutsTheEchoBack) {
    ASSERT_TRUE(EchoOn());
    std::optional<std::string> answer;
    std::thread asking([&] {
        answer = ReadPasswordFromTerminal("Password for ann: ", Terminal.Get(), Terminal.Get());
    });
    const std::string prompt = Shown("Password for ann: ");
    EXPECT_EQ(prompt, "Password for ann: ");
    WriteAll(Master.Get(), "s3cret pw\n");
    asking.join();
    EXPECT_EQ(answer, "s3cret pw");
    const std::string after = Shown();
    EXPECT_EQ(after.find("s3cret"), std::string::npos) << after;
    EXPECT_NE(after.find('\n'), std::string::npos); // the line ends as if Enter showed
    EXPECT_TRUE(EchoOn());
}

TEST_F(PasswordPromptTest, TheEndOfTheInputGivesNothing) {
    std::optional<std::string> answer = "unset";
    std::thread asking(
        [&] { answer = ReadPasswordFromTerminal("P: ", Terminal.Get(), Terminal.Get()); });
    Shown("P: ");
    WriteAll(Master.Get(), "par\x04"); // Ctrl-D mid-line hands over "par", a second ends the input
    WriteAll(Master.Get(), "\x04");
    asking.join();
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_TRUE(EchoOn());
}

TEST_F(PasswordPromptTest, WhatIsNoTerminalIsNotAsked) {
    Pipe ends;
    ASSERT_TRUE(OpenPipe(ends));
    WriteAll(ends.Write.Get(), "pw\n");
    EXPECT_EQ(ReadPasswordFromTerminal("P: ", ends.Read.Get(), Terminal.Get()), std::nullopt);
    EXPECT_EQ(Shown(), ""); // no prompt either
    char left[8];
    EXPECT_EQ(ReadSome(ends.Read.Get(), left, sizeof left), 3); // and nothing read
}
