#pragma once

// Passwords kept in the desktop's secret service (org.freedesktop.secrets,
// through libsecret) rather than in the settings file.
//
// Each password is one item of the schema "org.vandrell.Larkspool.Password"
// whose attribute "setting" names the settings value it stands for ("PassS",
// "PassP"). Items go into the default collection (the login keyring).
//
// Nothing here may hold the program up or show anything: the service counts
// as available only when the session bus named by DBUS_SESSION_BUS_ADDRESS
// answers, the service is running on it (or starts within the time limit when
// the bus offers to start it), and its default collection exists and is
// unlocked or unlocks without asking the user. Locked items are left alone:
// reading or deleting them would ask for the keyring password. Every call to
// the service is cancelled after Patience, whatever the other end does.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace larkspool {

class SecretStore {
public:
    static constexpr std::chrono::milliseconds Patience{5000};

    // Connects and decides availability once; never throws.
    SecretStore();
    ~SecretStore();
    SecretStore(const SecretStore&) = delete;
    SecretStore& operator=(const SecretStore&) = delete;

    bool Available() const;
    // Why the service is not available (empty when it is), for a log line.
    const std::string& Reason() const { return FReason; }

    // The password stored for Name; nothing when there is none, when the
    // service is not available, or when the call failed.
    std::optional<std::string> Lookup(std::string_view Name);
    // Stores (replacing) the password for Name; false when it is not stored.
    bool Store(std::string_view Name, std::string_view Label, std::string_view Password);
    // Removes every unlocked item for Name; false when one could not be
    // removed or the service is not available.
    bool Clear(std::string_view Name);

private:
    struct Parts;
    std::unique_ptr<Parts> F;
    std::string FReason;
};

} // namespace larkspool
