#include "platform/secrets/SecretStore.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace larkspool {

namespace {

constexpr const char* ServiceName = "org.freedesktop.secrets";
constexpr const char* ServicePath = "/org/freedesktop/secrets";
constexpr const char* ServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* NameAttribute = "setting";

const SecretSchema& PasswordSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.vandrell.Larkspool.Password";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = NameAttribute;
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return schema;
}

int PatienceMs() {
    return static_cast<int>(SecretStore::Patience.count());
}

// Cancels whatever runs under it once Patience has passed: libsecret's calls
// wait for answers (and prompts) without a limit of their own.
class Watchdog {
public:
    Watchdog() : FCancel(g_cancellable_new()), FThread([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(FMutex);
            FDone = true;
        }
        FWake.notify_one();
        FThread.join();
        g_object_unref(FCancel);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    GCancellable* Cancellable() const { return FCancel; }

private:
    void Watch() {
        std::unique_lock lock(FMutex);
        if (!FWake.wait_for(lock, SecretStore::Patience, [this] { return FDone; }))
            g_cancellable_cancel(FCancel); // thread-safe by GLib's promise
    }

    GCancellable* FCancel;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FDone = false;
    std::thread FThread; // last: it uses the members above
};

// Owns a GError and gives its message.
struct ErrorBox {
    GError* Error = nullptr;
    ErrorBox() = default;
    ErrorBox(const ErrorBox&) = delete;
    ErrorBox& operator=(const ErrorBox&) = delete;
    ~ErrorBox() { g_clear_error(&Error); }
    GError** Out() { return &Error; }
    std::string Text() const { return Error != nullptr ? Error->message : "unknown error"; }
};

GHashTable* AttributesFor(std::string_view Name) {
    const std::string name(Name);
    return secret_attributes_build(&PasswordSchema(), NameAttribute, name.c_str(), nullptr);
}

// A bus call with its own time limit besides the watchdog's; null on failure.
GVariant* Call(GDBusConnection* Bus, const char* Destination, const char* Path,
               const char* Interface, const char* Method, GVariant* Arguments,
               const char* ReplyType, GCancellable* Cancel, ErrorBox& Error) {
    return g_dbus_connection_call_sync(Bus, Destination, Path, Interface, Method, Arguments,
                                       G_VARIANT_TYPE(ReplyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                       PatienceMs(), Cancel, Error.Out());
}

} // namespace

struct SecretStore::Parts {
    GDBusConnection* Bus = nullptr;
    SecretService* Service = nullptr;
    std::string Collection; // object path of the default collection

    ~Parts() {
        if (Service != nullptr)
            g_object_unref(Service);
        if (Bus != nullptr)
            g_object_unref(Bus);
    }
};

namespace {

// Whether the service runs on the bus, or started there on request.
std::string ReachService(GDBusConnection* Bus, GCancellable* Cancel) {
    ErrorBox error;
    GVariant* owned =
        Call(Bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", g_variant_new("(s)", ServiceName), "(b)", Cancel, error);
    if (owned == nullptr)
        return "the session bus does not answer: " + error.Text();
    gboolean running = FALSE;
    g_variant_get(owned, "(b)", &running);
    g_variant_unref(owned);
    if (running)
        return {};
    // Started by the bus: it must come up within the time limit.
    GVariant* started =
        Call(Bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "StartServiceByName", g_variant_new("(su)", ServiceName, 0U), "(u)", Cancel, error);
    if (started == nullptr)
        return std::string("no secret service (") + ServiceName + ") on the session bus";
    g_variant_unref(started);
    return {};
}

// Unlocks Path when that needs no prompt; a prompt is dismissed unshown.
bool UnlockQuietly(GDBusConnection* Bus, const std::string& Path, GCancellable* Cancel) {
    const char* paths[] = {Path.c_str(), nullptr};
    ErrorBox error;
    GVariant* reply = Call(Bus, ServiceName, ServicePath, ServiceInterface, "Unlock",
                           g_variant_new("(^ao)", paths), "(aoo)", Cancel, error);
    if (reply == nullptr)
        return false;
    GVariant* unlocked = nullptr;
    const char* prompt = nullptr;
    g_variant_get(reply, "(@ao&o)", &unlocked, &prompt);
    bool done = false;
    gsize count = 0;
    const char** list = g_variant_get_objv(unlocked, &count);
    for (gsize i = 0; i < count; ++i)
        done = done || Path == list[i];
    g_free(static_cast<gpointer>(list));
    if (!done && std::string_view(prompt) != "/") {
        ErrorBox ignored;
        if (GVariant* r = Call(Bus, ServiceName, prompt, "org.freedesktop.Secret.Prompt", "Dismiss",
                               nullptr, "()", Cancel, ignored))
            g_variant_unref(r);
    }
    g_variant_unref(unlocked);
    g_variant_unref(reply);
    return done;
}

} // namespace

SecretStore::SecretStore() : F(std::make_unique<Parts>()) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || address[0] == '\0') {
        // Without it GLib would look further, up to starting a bus for an X
        // display: a program that only wants its password must not do that.
        FReason = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return;
    }
    Watchdog watchdog;
    GCancellable* cancel = watchdog.Cancellable();
    ErrorBox error;
    F->Bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancel, error.Out());
    if (F->Bus == nullptr) {
        FReason = "the session bus cannot be reached: " + error.Text();
        return;
    }
    // The shared connection would end the whole program when the bus goes.
    g_dbus_connection_set_exit_on_close(F->Bus, FALSE);
    FReason = ReachService(F->Bus, cancel);
    if (!FReason.empty())
        return;
    F->Service = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, cancel,
                                          error.Out());
    if (F->Service == nullptr) {
        FReason = "the secret service does not answer: " + error.Text();
        return;
    }
    // The default collection by its alias, never created here: creating one
    // asks the user for a keyring password.
    GVariant* alias = Call(F->Bus, ServiceName, ServicePath, ServiceInterface, "ReadAlias",
                           g_variant_new("(s)", "default"), "(o)", cancel, error);
    if (alias == nullptr) {
        FReason = "the secret service does not answer: " + error.Text();
        return;
    }
    const char* path = nullptr;
    g_variant_get(alias, "(&o)", &path);
    std::string collection = path;
    g_variant_unref(alias);
    if (collection == "/") {
        FReason = "the secret service has no default keyring";
        return;
    }
    GVariant* locked = Call(
        F->Bus, ServiceName, collection.c_str(), "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"), "(v)", cancel, error);
    if (locked == nullptr) {
        FReason = "the default keyring does not answer: " + error.Text();
        return;
    }
    GVariant* value = nullptr;
    g_variant_get(locked, "(v)", &value);
    const bool isLocked = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                          g_variant_get_boolean(value) != FALSE;
    g_variant_unref(value);
    g_variant_unref(locked);
    if (isLocked && !UnlockQuietly(F->Bus, collection, cancel)) {
        FReason = "the default keyring is locked";
        return;
    }
    F->Collection = std::move(collection);
}

SecretStore::~SecretStore() = default;

bool SecretStore::Available() const {
    return !F->Collection.empty();
}

std::optional<std::string> SecretStore::Lookup(std::string_view Name) {
    if (!Available())
        return std::nullopt;
    Watchdog watchdog;
    ErrorBox error;
    GHashTable* attributes = AttributesFor(Name);
    // No SECRET_SEARCH_UNLOCK: a locked item would need a prompt.
    GList* items = secret_service_search_sync(
        F->Service, &PasswordSchema(), attributes,
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        watchdog.Cancellable(), error.Out());
    g_hash_table_unref(attributes);
    std::optional<std::string> found;
    for (GList* it = items; it != nullptr && !found; it = it->next) {
        SecretItem* item = static_cast<SecretItem*>(it->data);
        if (secret_item_get_locked(item))
            continue;
        if (SecretValue* secret = secret_item_get_secret(item)) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(secret, &length);
            found.emplace(bytes, length);
            secret_value_unref(secret);
        }
    }
    g_list_free_full(items, g_object_unref);
    return found;
}

bool SecretStore::Store(std::string_view Name, std::string_view Label, std::string_view Password) {
    if (!Available())
        return false;
    Watchdog watchdog;
    ErrorBox error;
    GHashTable* attributes = AttributesFor(Name);
    SecretValue* secret =
        secret_value_new(Password.data(), static_cast<gssize>(Password.size()), "text/plain");
    const std::string label(Label);
    const gboolean stored =
        secret_service_store_sync(F->Service, &PasswordSchema(), attributes, F->Collection.c_str(),
                                  label.c_str(), secret, watchdog.Cancellable(), error.Out());
    secret_value_unref(secret);
    g_hash_table_unref(attributes);
    return stored != FALSE;
}

bool SecretStore::Clear(std::string_view Name) {
    if (!Available())
        return false;
    Watchdog watchdog;
    ErrorBox error;
    GHashTable* attributes = AttributesFor(Name);
    GList* items =
        secret_service_search_sync(F->Service, &PasswordSchema(), attributes, SECRET_SEARCH_ALL,
                                   watchdog.Cancellable(), error.Out());
    g_hash_table_unref(attributes);
    bool cleared = error.Error == nullptr;
    for (GList* it = items; it != nullptr; it = it->next) {
        SecretItem* item = static_cast<SecretItem*>(it->data);
        if (secret_item_get_locked(item))
            continue; // deleting it would ask for the keyring password
        ErrorBox failed;
        cleared = secret_item_delete_sync(item, watchdog.Cancellable(), failed.Out()) && cleared;
    }
    g_list_free_full(items, g_object_unref);
    return cleared;
}

} // namespace larkspool
