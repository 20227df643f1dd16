#include "platform/secrets/SecretStore.h"

#include "platform/Descriptors.h"

#include "support/PrivateSessionBus.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

using namespace larkspool;
using check::PrivateSessionBus;

namespace {

// Every test starts without a session bus; those that want one start their own.
class SecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); }
    void TearDown() override { ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); }
};

void ExpectUnusable(SecretStore& Store) {
    EXPECT_FALSE(Store.Available());
    EXPECT_FALSE(Store.Reason().empty());
    EXPECT_EQ(Store.Lookup("PassS"), std::nullopt);
    EXPECT_FALSE(Store.Store("PassS", "label", "pw"));
    EXPECT_FALSE(Store.Clear("PassS"));
}

} // namespace

TEST_F(SecretStoreTest, WithoutASessionBusItIsNotAvailable) {
    SecretStore store;
    ExpectUnusable(store);
    EXPECT_NE(store.Reason().find("DBUS_SESSION_BUS_ADDRESS"), std::string::npos) << store.Reason();
}

TEST_F(SecretStoreTest, ABusThatIsGoneIsNotAvailable) {
    check::TempFolder folder;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + folder.File("no-bus")).c_str(), 1);
    SecretStore store;
    ExpectUnusable(store);
}

// A socket that takes the connection and never says a word: the time limit
// ends the wait instead of the program hanging on it.
TEST_F(SecretStoreTest, ABusThatNeverAnswersIsNotAvailable) {
    check::TempFolder folder;
    const std::string path = folder.File("silent");
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(listener.IsOpen());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    SecretStore store;
    ExpectUnusable(store);
}

TEST_F(SecretStoreTest, ABusWithoutASecretServiceIsNotAvailable) {
    PrivateSessionBus bus(PrivateSessionBus::Service::None);
    SecretStore store;
    ExpectUnusable(store);
    EXPECT_NE(store.Reason().find("no secret service"), std::string::npos) << store.Reason();
}

TEST_F(SecretStoreTest, StoresReplacesReadsBackAndClearsEachNameOnItsOwn) {
    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    {
        SecretStore store;
        ASSERT_TRUE(store.Available()) << store.Reason();
        EXPECT_EQ(store.Lookup("PassS"), std::nullopt);
        const std::string odd = "p\"w\\d \n\xE6\x97\xA5";
        ASSERT_TRUE(store.Store("PassS", "Larkspool site password", "first"));
        ASSERT_TRUE(store.Store("PassS", "Larkspool site password", odd)); // replaces
        ASSERT_TRUE(store.Store("PassP", "Larkspool proxy password", "proxy-pw"));
        EXPECT_EQ(store.Lookup("PassS"), odd);
        EXPECT_EQ(store.Lookup("PassP"), "proxy-pw");
    }
    // Another connection (as the next start of the program) sees the same.
    SecretStore again;
    ASSERT_TRUE(again.Available()) << again.Reason();
    EXPECT_EQ(again.Lookup("PassS"), "p\"w\\d \n\xE6\x97\xA5");
    EXPECT_TRUE(again.Clear("PassS"));
    EXPECT_EQ(again.Lookup("PassS"), std::nullopt);
    EXPECT_EQ(again.Lookup("PassP"), "proxy-pw");
    EXPECT_TRUE(again.Clear("PassS")); // nothing to clear is no failure
}

// Unlocking the keyring would ask the user for its password in a window: a
// locked keyring counts as no secret service, and nothing waits for a prompt.
TEST_F(SecretStoreTest, ALockedKeyringIsNotAvailable) {
    PrivateSessionBus bus(PrivateSessionBus::Service::Keyring);
    {
        SecretStore store;
        ASSERT_TRUE(store.Available()) << store.Reason();
        ASSERT_TRUE(store.Store("PassS", "Larkspool site password", "pw"));
    }
    const std::string lock =
        "dbus-send --bus='" + bus.Address() +
        "' --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
        "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/aliases/default"
        " >/dev/null";
    ASSERT_EQ(std::system(lock.c_str()), 0);
    SecretStore store;
    ExpectUnusable(store);
    EXPECT_NE(store.Reason().find("locked"), std::string::npos) << store.Reason();
}
