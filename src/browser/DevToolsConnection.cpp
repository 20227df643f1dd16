#include "browser/DevToolsConnection.h"

#include "platform/Leftovers.h"
#include "platform/ProcessSpawn.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace larkspool {

namespace {

using namespace std::chrono_literals;

// Flags that keep a headless browser from reaching anything on its own
// (updates, sync, field trials) and from needing a display or a sandbox.
const char* const BrowserFlags[] = {
    "--headless=new",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--remote-debugging-pipe",
};

// How long Close lets the browser quit on its own before killing it.
constexpr auto CloseAnswerTime = 2s;
constexpr auto CloseExitTime = 3s;

std::string ErrnoText(int Error) {
    return std::generic_category().message(Error);
}

std::string DurationText(std::chrono::milliseconds Duration) {
    if (Duration.count() % 1000 == 0)
        return std::to_string(Duration.count() / 1000) + " s";
    return std::to_string(Duration.count()) + " ms";
}

// Writes all of Data; false when the reader is gone. SIGPIPE is held back for
// this thread only, so a browser that died does not kill the program.
bool WriteToBrowser(int Fd, const std::string& Data) {
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const bool ok = WriteAll(Fd, Data);
    if (!ok && errno == EPIPE && !wasPending) {
        const timespec noWait{};
        sigtimedwait(&pipeOnly, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

std::string TempBase() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

} // namespace

DevToolsConnection::DevToolsConnection(std::string ChromiumPath, Milliseconds CommandTimeout,
                                       std::vector<std::string> ExtraFlags,
                                       std::function<void(const std::string&)> Prepare)
    : FChromiumPath(std::move(ChromiumPath)), FCommandTimeout(CommandTimeout),
      FExtraFlags(std::move(ExtraFlags)), FPrepare(std::move(Prepare)) {
    try {
        Launch();
    } catch (...) {
        Close();
        throw;
    }
    // The first answer shows that the browser came up and speaks the protocol.
    try {
        Command("Browser.getVersion");
    } catch (const DevToolsError&) {
        std::string reason;
        if (WaitForExit(Clock::now() + 1s)) {
            reason = ExitDescription();
            const std::string tail = LogTail();
            if (!tail.empty())
                reason += " (" + tail + ")";
        } else {
            reason = "it did not answer within " + DurationText(FCommandTimeout);
        }
        Close();
        throw DevToolsError("Cannot start the browser " + FChromiumPath + ": " + reason);
    }
}

DevToolsConnection::~DevToolsConnection() {
    Close();
}

void DevToolsConnection::Launch() {
    const auto fail = [this](const std::string& Reason) {
        throw DevToolsError("Cannot start the browser " + FChromiumPath + ": " + Reason);
    };
    if (FChromiumPath.empty())
        fail("no program given");

    // What browsers of killed runs left behind goes first.
    RemoveLeftovers(TempBase(), Leftover::BrowserFolder);
    std::string dir = TempBase() + "/" + LeftoverTemplate(Leftover::BrowserFolder);
    if (::mkdtemp(dir.data()) == nullptr)
        fail("cannot create a temporary folder in " + TempBase() + ": " + ErrnoText(errno));
    FTempDir = dir;
    // Held while the folder is in use, so that no other run takes it for a
    // leftover.
    FOwnerLock.Reset(LockOwnedFolder(dir));
    for (const char* sub : {"/profile", "/config", "/cache"})
        if (::mkdir((dir + sub).c_str(), 0700) != 0)
            fail("cannot create " + dir + sub + ": " + ErrnoText(errno));
    const std::string logPath = dir + "/chromium.log";
    if (FPrepare)
        FPrepare(dir);

    SpawnRequest browser;
    browser.Argv.push_back(FChromiumPath);
    for (const char* flag : BrowserFlags)
        browser.Argv.emplace_back(flag);
    browser.Argv.insert(browser.Argv.end(), FExtraFlags.begin(), FExtraFlags.end());
    browser.Argv.push_back("--user-data-dir=" + dir + "/profile");
    // Chromium writes its crash report folder under the configuration
    // folder even with a profile folder given.
    browser.ExtraEnvironment = {"XDG_CONFIG_HOME=" + dir + "/config",
                                "XDG_CACHE_HOME=" + dir + "/cache"};
    // A process group of its own, so that Close can end the browser with
    // every helper process it started.
    browser.NewProcessGroup = true;

    Pipe toChild, fromChild;
    if (!OpenPipe(toChild) || !OpenPipe(fromChild) || !FWake.Open())
        fail(std::string("pipe: ") + ErrnoText(errno));
    const UniqueFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!null.IsOpen())
        fail(ErrnoText(errno));
    const UniqueFd log(::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!log.IsOpen())
        fail(ErrnoText(errno));
    browser.Descriptors = {{0, null.Get()},
                           {1, log.Get()},
                           {2, log.Get()},
                           {3, toChild.Read.Get()},
                           {4, fromChild.Write.Get()}};
    try {
        FPid = SpawnProcess(browser);
    } catch (const SpawnError& e) {
        fail(e.what());
    }
    FWrite = std::move(toChild.Write);
    FRead = std::move(fromChild.Read);

    FReader = std::thread([this] { ReadLoop(); });
}

void DevToolsConnection::ReadLoop() {
    std::string buffer;
    std::size_t scanned = 0; // no NUL before this offset: long messages are scanned once
    char chunk[65536];
    while (FWake.Wait(FRead.Get()) == WakePipe::WaitResult::Ready) {
        const ssize_t n = ReadSome(FRead.Get(), chunk, sizeof chunk);
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = buffer.find('\0', std::max(start, scanned));
            if (end == std::string::npos)
                break;
            Dispatch(buffer.substr(start, end - start));
            start = end + 1;
        }
        buffer.erase(0, start);
        scanned = buffer.size();
    }
    bool closing;
    {
        std::lock_guard lock(FLock);
        closing = FClosing;
    }
    MarkClosed(closing ? "the browser was closed" : "the browser has exited");
}

void DevToolsConnection::Dispatch(const std::string& Message) {
    nlohmann::json message = nlohmann::json::parse(Message, nullptr, false);
    if (message.is_discarded() || !message.is_object())
        return;
    std::unique_lock lock(FLock);
    if (const auto id = message.find("id"); id != message.end() && id->is_number_integer()) {
        // Answers nobody waits for any more (posted commands, timeouts) are dropped.
        const auto pending = FPending.find(id->get<std::int64_t>());
        if (pending != FPending.end()) {
            pending->second = std::move(message);
            FChanged.notify_all();
        }
        return;
    }
    const auto method = message.find("method");
    if (method == message.end() || !method->is_string())
        return;
    const std::string name = method->get<std::string>();
    const nlohmann::json& params = message.contains("params") && message["params"].is_object()
                                       ? message["params"]
                                       : nlohmann::json::object();
    if (name == "Target.detachedFromTarget") {
        const auto session = FSessions.find(params.value("sessionId", std::string()));
        if (session != FSessions.end() && session->second.Ended.empty())
            session->second.Ended = "its page was closed";
    }
    const auto session = FSessions.find(message.value("sessionId", std::string()));
    if (session != FSessions.end()) {
        ++session->second.Counts[name];
        // Downloads report progress many times; only their ends are waited for.
        if (name == "Browser.downloadProgress" && params.contains("state") &&
            params["state"].is_string())
            ++session->second.Counts[name + "." + params["state"].get<std::string>()];
        if (name == "Browser.downloadWillBegin")
            FDownloads[params.value("guid", std::string())] = {params.value("url", std::string()),
                                                               "inProgress"};
        else if (name == "Browser.downloadProgress")
            FDownloads[params.value("guid", std::string())].second =
                params.value("state", std::string());
        // Only documents: a page's pictures and scripts would pile up.
        if (name == "Target.attachedToTarget" ||
            (name == "Network.responseReceived" && params.value("type", "") == "Document"))
            session->second.Kept[name].push_back(params);
        if (name == "Inspector.targetCrashed")
            session->second.Ended = "its page crashed";
    }
    FChanged.notify_all();
    const std::shared_ptr<const EventHandler> handler = FEventHandler;
    lock.unlock();
    if (handler)
        (*handler)(message.value("sessionId", std::string()), name, params);
}

void DevToolsConnection::MarkClosed(const std::string& Reason) {
    std::lock_guard lock(FLock);
    if (!FClosed) {
        FClosed = true;
        FClosedReason = Reason;
    }
    FChanged.notify_all();
}

std::string DevToolsConnection::ClosedError() const {
    return FClosedReason.empty() ? "the browser is closed" : FClosedReason;
}

bool DevToolsConnection::Send(const nlohmann::json& Message) {
    std::string text = Message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.push_back('\0');
    std::lock_guard lock(FWriteLock);
    return FWrite.IsOpen() && WriteToBrowser(FWrite.Get(), text);
}

std::uint64_t DevToolsConnection::CommandsSent() const {
    std::lock_guard lock(FLock);
    return FCommandsSent;
}

nlohmann::json DevToolsConnection::Command(const std::string& Method, const nlohmann::json& Params,
                                           const std::string& SessionId,
                                           std::optional<Milliseconds> Timeout) {
    std::unique_lock lock(FLock);
    if (FClosed)
        throw DevToolsError(Method + ": " + ClosedError());
    const std::int64_t id = ++FNextId;
    ++FCommandsSent;
    FPending.emplace(id, std::nullopt);
    lock.unlock();

    nlohmann::json message{{"id", id}, {"method", Method}, {"params", Params}};
    if (!SessionId.empty())
        message["sessionId"] = SessionId;
    const bool sent = Send(message);

    lock.lock();
    const Milliseconds limit = Timeout.value_or(FCommandTimeout);
    if (sent)
        FChanged.wait_until(lock, Clock::now() + limit,
                            [&] { return FPending[id].has_value() || FClosed; });
    std::optional<nlohmann::json> reply = std::move(FPending[id]);
    FPending.erase(id);
    if (!reply) {
        if (FClosed)
            throw DevToolsError(Method + ": " + ClosedError());
        if (!sent)
            throw DevToolsError(Method + ": the browser has exited");
        throw DevToolsError(Method + ": the browser did not answer within " + DurationText(limit));
    }
    lock.unlock();
    if (const auto error = reply->find("error"); error != reply->end()) {
        std::string text = error->is_object() ? error->value("message", std::string("error"))
                                              : std::string("error");
        if (error->is_object() && error->contains("data") && (*error)["data"].is_string())
            text += " (" + (*error)["data"].get<std::string>() + ")";
        throw DevToolsError(Method + ": " + text);
    }
    const auto result = reply->find("result");
    return result != reply->end() ? std::move(*result) : nlohmann::json::object();
}

void DevToolsConnection::Post(const std::string& Method, const nlohmann::json& Params,
                              const std::string& SessionId) {
    std::int64_t id;
    {
        std::lock_guard lock(FLock);
        if (FClosed)
            return;
        id = ++FNextId;
    }
    nlohmann::json message{{"id", id}, {"method", Method}, {"params", Params}};
    if (!SessionId.empty())
        message["sessionId"] = SessionId;
    Send(message);
}

void DevToolsConnection::SetEventHandler(EventHandler Handler) {
    std::lock_guard lock(FLock);
    FEventHandler = Handler ? std::make_shared<const EventHandler>(std::move(Handler)) : nullptr;
}

void DevToolsConnection::WatchSession(const std::string& SessionId) {
    std::lock_guard lock(FLock);
    FSessions[SessionId];
}

void DevToolsConnection::ForgetSession(const std::string& SessionId) {
    std::lock_guard lock(FLock);
    FSessions.erase(SessionId);
}

std::uint64_t DevToolsConnection::EventCount(const std::string& SessionId,
                                             const std::string& Method) const {
    std::lock_guard lock(FLock);
    const auto session = FSessions.find(SessionId);
    if (session == FSessions.end())
        return 0;
    const auto count = session->second.Counts.find(Method);
    return count == session->second.Counts.end() ? 0 : count->second;
}

bool DevToolsConnection::WaitForEvent(const std::string& SessionId, const std::string& Method,
                                      std::uint64_t After, Clock::time_point Deadline) {
    std::unique_lock lock(FLock);
    for (;;) {
        if (FClosed)
            throw DevToolsError(ClosedError());
        const auto session = FSessions.find(SessionId);
        if (session == FSessions.end())
            throw DevToolsError("the page is no longer watched");
        if (session->second.Counts[Method] > After)
            return true;
        if (!session->second.Ended.empty())
            throw DevToolsError(session->second.Ended);
        if (FChanged.wait_until(lock, Deadline) == std::cv_status::timeout &&
            Clock::now() >= Deadline) {
            // One last look: the event may have come with the timeout.
            const auto last = FSessions.find(SessionId);
            return last != FSessions.end() && last->second.Counts[Method] > After;
        }
    }
}

std::vector<nlohmann::json> DevToolsConnection::Events(const std::string& SessionId,
                                                       const std::string& Method) const {
    std::lock_guard lock(FLock);
    const auto session = FSessions.find(SessionId);
    if (session == FSessions.end())
        return {};
    const auto kept = session->second.Kept.find(Method);
    return kept == session->second.Kept.end() ? std::vector<nlohmann::json>{} : kept->second;
}

std::vector<std::pair<std::string, std::string>> DevToolsConnection::Downloads() const {
    std::lock_guard lock(FLock);
    std::vector<std::pair<std::string, std::string>> downloads;
    for (const auto& [guid, download] : FDownloads)
        downloads.push_back(download);
    return downloads;
}

bool DevToolsConnection::IsOpen() const {
    std::lock_guard lock(FLock);
    return !FClosed;
}

bool DevToolsConnection::WaitForExit(Clock::time_point Deadline) {
    if (FPid <= 0 || FExited)
        return true;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r == FPid) {
            FExited = true;
            FExitStatus = status;
            return true;
        }
        if (r < 0 && errno != EINTR) {
            FExited = true; // reaped elsewhere; nothing left to wait for
            return true;
        }
        if (Clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
}

std::string DevToolsConnection::ExitDescription() const {
    if (WIFEXITED(FExitStatus))
        return "it exited with status " + std::to_string(WEXITSTATUS(FExitStatus));
    if (WIFSIGNALED(FExitStatus))
        return "it was ended by signal " + std::to_string(WTERMSIG(FExitStatus));
    return "it exited";
}

// The last lines the browser wrote, for start failures.
std::string DevToolsConnection::LogTail() const {
    if (FTempDir.empty())
        return {};
    std::ifstream in(FTempDir + "/chromium.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.find("Failed to connect to the bus") == std::string::npos)
            lines.push_back(line);
    std::string tail;
    for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i)
        tail += (tail.empty() ? "" : " / ") + lines[i];
    if (tail.size() > 600)
        tail = "..." + tail.substr(tail.size() - 600);
    return tail;
}

void DevToolsConnection::Close() {
    std::lock_guard closeLock(FCloseLock);
    bool running;
    {
        std::lock_guard lock(FLock);
        running = !FClosed;
        FClosing = true;
    }
    if (FPid > 0 && !FExited) {
        if (running) {
            try {
                Command("Browser.close", nlohmann::json::object(), {}, CloseAnswerTime);
            } catch (const DevToolsError&) {
                // It may have quit before answering; the wait below decides.
            }
        }
        if (!WaitForExit(Clock::now() + CloseExitTime)) {
            ::kill(-FPid, SIGKILL);
            WaitForExit(Clock::time_point::max());
        }
        // Helpers that outlived the browser itself. The group id cannot have
        // been reused while any member remains, so this hits only our own.
        ::kill(-FPid, SIGKILL);
    }
    MarkClosed("the browser was closed");
    {
        std::lock_guard lock(FWriteLock);
        FWrite.Reset();
    }
    FWake.Wake();
    if (FReader.joinable())
        FReader.join();
    FRead.Reset();
    FWake.Close();
    if (!FTempDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FTempDir, ignored);
        FTempDir.clear();
    }
    FOwnerLock.Reset();
}

} // namespace larkspool
