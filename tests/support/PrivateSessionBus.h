#pragma once

// A session bus of the test's own (dbus-daemon on a socket in a temporary
// folder, starting no services by itself), optionally with a secret service on it:
// gnome-keyring-daemon with only its secrets part, its login keyring made and unlocked with a
// password given on its standard input, and its home, data and runtime folders inside the temporary
// folder, so that the user's own keyring is never touched. DBUS_SESSION_BUS_ADDRESS names the bus
// while the object lives; both programs are ended by their process ids when it goes.

#include "platform/Descriptors.h"
#include "platform/ProcessSpawn.h"

#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace larkspool::check {

class PrivateSessionBus {
public:
    enum class Service { None, Keyring };

    explicit PrivateSessionBus(Service With) : FFolder("larkspool-bus") {
        for (const char* sub : {"home", "data", "run"})
            ::mkdir(FFolder.File(sub).c_str(), 0700);
        StartBus();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", FAddress.c_str(), 1);
        if (With == Service::Keyring)
            StartKeyring();
    }
    ~PrivateSessionBus() {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        End(FKeyring);
        End(FBus);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& Address() const { return FAddress; }
    const std::string& Folder() const { return FFolder.Path(); }

    // Whether Name has an owner on the bus, asked with dbus-send.
    bool HasOwner(const std::string& Name) const {
        const std::string command =
            "dbus-send --bus='" + FAddress +
            "' --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus "
            "org.freedesktop.DBus.NameHasOwner string:" +
            Name + " 2>/dev/null";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr)
            return false;
        std::string reply;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            reply += buffer;
        ::pclose(pipe);
        return reply.find("true") != std::string::npos;
    }

private:
    void StartBus() {
        Pipe ends;
        if (!OpenPipe(ends))
            throw std::runtime_error("no pipe for dbus-daemon");
        UniqueFd& readEnd = ends.Read;
        UniqueFd& writeEnd = ends.Write;
        SpawnRequest request;
        // A configuration of its own: the system's session configuration would
        // let the bus start the desktop's services, a keyring among them, for
        // the real user.
        const std::string config = FFolder.Write(
            "bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:path=" +
                FFolder.File("bus") +
                "</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                "  <policy context=\"default\">\n"
                "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                "    <allow eavesdrop=\"true\"/>\n"
                "    <allow own=\"*\"/>\n"
                "  </policy>\n"
                "</busconfig>\n");
        request.Argv = {"/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork",
                        "--nopidfile", "--print-address=3"};
        request.Descriptors = {{3, writeEnd.Get()}};
        FBus = SpawnProcess(request);
        writeEnd.Close();
        // The daemon prints its address once it listens.
        std::string line;
        while (line.find('\n') == std::string::npos) {
            pollfd p{readEnd.Get(), POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                throw std::runtime_error("dbus-daemon did not print its address");
            char buffer[512];
            const ssize_t n = ReadSome(readEnd.Get(), buffer, sizeof buffer);
            if (n <= 0)
                throw std::runtime_error("dbus-daemon ended before printing its address");
            line.append(buffer, static_cast<std::size_t>(n));
        }
        FAddress = line.substr(0, line.find('\n'));
    }

    void StartKeyring() {
        Pipe ends;
        if (!OpenPipe(ends))
            throw std::runtime_error("no pipe for gnome-keyring-daemon");
        UniqueFd& readEnd = ends.Read;
        UniqueFd& writeEnd = ends.Write;
        SpawnRequest request;
        request.Argv = {"/usr/bin/gnome-keyring-daemon", "--foreground", "--components=secrets",
                        "--unlock"};
        request.ExtraEnvironment = {
            "HOME=" + FFolder.File("home"), "XDG_DATA_HOME=" + FFolder.File("data"),
            "XDG_RUNTIME_DIR=" + FFolder.File("run"), "DBUS_SESSION_BUS_ADDRESS=" + FAddress};
        request.Descriptors = {{0, readEnd.Get()}};
        FKeyring = SpawnProcess(request);
        readEnd.Close();
        // The login keyring's password; the end of the input ends it.
        WriteAll(writeEnd.Get(), "keyring-password");
        writeEnd.Close();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!HasOwner("org.freedesktop.secrets")) {
            if (std::chrono::steady_clock::now() > until)
                throw std::runtime_error("gnome-keyring-daemon did not come up on the bus");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    static void End(pid_t& Pid) {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
        Pid = -1;
    }

    TempFolder FFolder;
    std::string FAddress;
    pid_t FBus = -1;
    pid_t FKeyring = -1;
};

} // namespace larkspool::check
