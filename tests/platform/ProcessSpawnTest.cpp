// Starting programs: exec failures reach the caller, and the child gets the
// descriptors it is given, on the numbers it is given, and no others.
#include "platform/ProcessSpawn.h"

#include "platform/Descriptors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace larkspool;

namespace {

// The exit status of a child, reaped.
int ExitStatus(pid_t Pid) {
    int status = 0;
    while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a shell command writes on its descriptor 3.
std::string OutputOnDescriptor3(const std::string& Command, SpawnRequest Request = {}) {
    Pipe output;
    if (!OpenPipe(output))
        return "(no pipe)";
    Request.Argv = {"/bin/sh", "-c", Command};
    Request.Descriptors.emplace_back(3, output.Write.Get());
    const pid_t pid = SpawnProcess(Request);
    output.Write.Close();
    std::string text;
    ReadToEnd(output.Read.Get(), text);
    EXPECT_EQ(ExitStatus(pid), 0) << Command;
    return text;
}

} // namespace

TEST(ProcessSpawnTest, AMissingProgramIsReportedToTheCaller) {
    SpawnRequest request;
    request.Argv = {"/nonexistent/larkspool-no-such-program", "--flag"};
    try {
        const pid_t pid = SpawnProcess(request);
        ExitStatus(pid);
        FAIL() << "a missing program was started";
    } catch (const SpawnError& e) {
        EXPECT_EQ(e.Error(), ENOENT);
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
}

TEST(ProcessSpawnTest, AProgramThatCannotRunIsReportedToTheCaller) {
    SpawnRequest request;
    request.Argv = {"/dev/null"};
    try {
        ExitStatus(SpawnProcess(request));
        FAIL() << "/dev/null was started";
    } catch (const SpawnError& e) {
        EXPECT_EQ(e.Error(), EACCES);
    }
}

TEST(ProcessSpawnTest, TheChildWritesOnTheDescriptorItWasGiven) {
    EXPECT_EQ(OutputOnDescriptor3("echo hi >&3"), "hi\n");
}

TEST(ProcessSpawnTest, ArgumentsReachTheProgramUnchanged) {
    SpawnRequest request;
    Pipe output;
    ASSERT_TRUE(OpenPipe(output));
    request.Argv = {"/bin/sh", "-c", "printf '%s|' \"$@\" >&3", "name", "two words", "", "a'b\"c"};
    request.Descriptors = {{3, output.Write.Get()}};
    const pid_t pid = SpawnProcess(request);
    output.Write.Close();
    std::string text;
    ASSERT_TRUE(ReadToEnd(output.Read.Get(), text));
    EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_EQ(text, "two words||a'b\"c|");
}

// The browser's pipes: commands in on 3, answers out on 4, wherever the
// parent's ends happen to sit (here each on the other's target number).
TEST(ProcessSpawnTest, DescriptorsThatSitOnEachOthersTargetsAreMappedBoth) {
    Pipe toChild, fromChild;
    ASSERT_TRUE(OpenPipe(toChild));
    ASSERT_TRUE(OpenPipe(fromChild));
    const int a = toChild.Read.Get(), b = fromChild.Write.Get();
    SpawnRequest request;
    // The child copies what it reads on descriptor a to descriptor b, where
    // a is the pipe given for b and the other way round.
    request.Argv = {"/bin/bash", "-c",
                    "head -c 5 <&" + std::to_string(b) + " >&" + std::to_string(a)};
    request.Descriptors = {{b, toChild.Read.Get()}, {a, fromChild.Write.Get()}};
    const pid_t pid = SpawnProcess(request);
    toChild.Read.Close();
    fromChild.Write.Close();
    ASSERT_TRUE(WriteAll(toChild.Write.Get(), "hello"));
    toChild.Write.Close();
    std::string text;
    ASSERT_TRUE(ReadToEnd(fromChild.Read.Get(), text));
    EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_EQ(text, "hello");
}

// A descriptor this process left open for inheritance (a server's socket)
// must not reach the program, above or below the mapped numbers.
TEST(ProcessSpawnTest, DescriptorsNotGivenStayOutOfTheChild) {
    int inheritable[2];
    ASSERT_EQ(::pipe(inheritable), 0); // no close-on-exec on purpose
    const UniqueFd low(inheritable[0]), lowWrite(inheritable[1]);
    const UniqueFd high(::fcntl(low.Get(), F_DUPFD, 200)); // no close-on-exec either
    ASSERT_GE(high.Get(), 200);
    SpawnRequest request;
    Pipe output;
    ASSERT_TRUE(OpenPipe(output));
    // Mapped far up, so that the low descriptors lie below the target.
    request.Argv = {"/bin/bash", "-c",
                    "for fd in " + std::to_string(low.Get()) + " " + std::to_string(high.Get()) +
                        "; do if [ -e /proc/self/fd/$fd ]; then echo open; else echo closed; "
                        "fi; done >&150"};
    request.Descriptors = {{150, output.Write.Get()}};
    const pid_t pid = SpawnProcess(request);
    output.Write.Close();
    std::string text;
    ASSERT_TRUE(ReadToEnd(output.Read.Get(), text));
    EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_EQ(text, "closed\nclosed\n");
}

TEST(ProcessSpawnTest, ExtraEnvironmentReplacesAndAdds) {
    ASSERT_EQ(::setenv("LARKSPOOL_SPAWN_OLD", "old value", 1), 0);
    ASSERT_EQ(::setenv("LARKSPOOL_SPAWN_KEPT", "kept", 1), 0);
    SpawnRequest request;
    request.ExtraEnvironment = {"LARKSPOOL_SPAWN_OLD=new value", "LARKSPOOL_SPAWN_ADDED=added"};
    EXPECT_EQ(OutputOnDescriptor3("env | grep '^LARKSPOOL_SPAWN_' | sort >&3", request),
              "LARKSPOOL_SPAWN_ADDED=added\nLARKSPOOL_SPAWN_KEPT=kept\n"
              "LARKSPOOL_SPAWN_OLD=new value\n");
    ::unsetenv("LARKSPOOL_SPAWN_OLD");
    ::unsetenv("LARKSPOOL_SPAWN_KEPT");
}

TEST(ProcessSpawnTest, ANewProcessGroupIsTheChildsOwn) {
    Pipe hold;
    ASSERT_TRUE(OpenPipe(hold));
    SpawnRequest request;
    // Waits until the parent closes the pipe, so its group can be looked at.
    request.Argv = {"/bin/sh", "-c", "cat <&3 >/dev/null"};
    request.Descriptors = {{3, hold.Read.Get()}};
    request.NewProcessGroup = true;
    const pid_t pid = SpawnProcess(request);
    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_NE(::getpgid(pid), ::getpgrp());
    hold.Write.Close();
    EXPECT_EQ(ExitStatus(pid), 0);
}
