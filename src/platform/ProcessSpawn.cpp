#include "platform/ProcessSpawn.h"

#include "platform/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace larkspool {

namespace {

std::string ErrnoText(int Error) {
    return std::generic_category().message(Error);
}

// The child's side between fork and exec: only async-signal-safe calls, on
// memory prepared before the fork. Never returns; a failure is written to
// Report as errno.
[[noreturn]] void StartChild(const SpawnRequest& Request, char* const* Argv, char* const* Envp,
                             int Report, int* High, int Above) {
    if (Request.NewProcessGroup)
        ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Every source is moved above the highest target first: a target may hold
    // another source, and dup2 onto it would close that one.
    const int report = ::fcntl(Report, F_DUPFD_CLOEXEC, Above);
    bool ok = report >= 0;
    const std::size_t count = Request.Descriptors.size();
    for (std::size_t i = 0; ok && i < count; ++i)
        ok = (High[i] = ::fcntl(Request.Descriptors[i].second, F_DUPFD_CLOEXEC, Above)) >= 0;
    for (std::size_t i = 0; ok && i < count; ++i)
        ok = ::dup2(High[i], Request.Descriptors[i].first) >= 0;
    if (!ok) {
        const int error = errno;
        (void)!::write(report < 0 ? Report : report, &error, sizeof error);
        ::_exit(127);
    }
    // Whatever else this process has open (a test server's sockets, say)
    // stays out of the program.
    for (int fd = 3; fd < Above; ++fd) {
        bool mapped = false;
        for (std::size_t i = 0; i < count; ++i)
            mapped = mapped || Request.Descriptors[i].first == fd;
        if (!mapped)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::close_range(static_cast<unsigned>(Above), ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(Argv[0], Argv, Envp);
    const int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
}

} // namespace

pid_t SpawnProcess(const SpawnRequest& Request) {
    if (Request.Argv.empty())
        throw SpawnError("no program given", EINVAL);

    // Everything the child needs is prepared here: after fork only
    // async-signal-safe calls are allowed.
    std::vector<std::string> args = Request.Argv;
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const bool replaced =
            std::any_of(Request.ExtraEnvironment.begin(), Request.ExtraEnvironment.end(),
                        [&](const std::string& Extra) {
                            const std::size_t name = Extra.find('=');
                            return entry.starts_with(std::string_view(Extra).substr(
                                0, name == std::string::npos ? Extra.size() : name + 1));
                        });
        if (!replaced)
            env.emplace_back(entry);
    }
    env.insert(env.end(), Request.ExtraEnvironment.begin(), Request.ExtraEnvironment.end());
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int above = 3;
    for (const auto& [target, source] : Request.Descriptors)
        above = std::max(above, target + 1);
    std::vector<int> high(Request.Descriptors.size(), -1);

    // Closed by a successful exec; otherwise it carries the child's errno.
    Pipe report;
    if (!OpenPipe(report)) {
        const int error = errno;
        throw SpawnError("pipe: " + ErrnoText(error), error);
    }
    const pid_t pid = ::fork();
    if (pid == 0)
        StartChild(Request, argv.data(), envp.data(), report.Write.Get(), high.data(), above);
    const int forkError = errno;
    report.Write.Close();
    if (pid < 0)
        throw SpawnError("fork: " + ErrnoText(forkError), forkError);
    if (Request.NewProcessGroup)
        ::setpgid(pid, pid); // also here, so the group exists whichever runs first

    int childError = 0;
    if (ReadFull(report.Read.Get(), &childError, sizeof childError) ==
        static_cast<ssize_t>(sizeof childError)) {
        // The child ends at once; reaped here, so no zombie is left behind.
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw SpawnError(ErrnoText(childError), childError);
    }
    return pid;
}

} // namespace larkspool
