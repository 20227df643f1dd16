#include "tools/Settings.h"

#include "platform/registry/RegistryStore.h"
#include "platform/secrets/SecretStore.h"

#include <algorithm>
#include <iterator>
#include <variant>

namespace larkspool {

TSettings Settings;

namespace {

using Member = std::variant<std::string TSettings::*, bool TSettings::*, std::int32_t TSettings::*>;

struct Field {
    const char* Name;
    Member Target;
    // Load defaults, applied at the field's turn (so not when the load stopped
    // before it): the text that replaces an empty string field, and whether a
    // missing Boolean field becomes true.
    const char* IfEmpty = nullptr;
    bool TrueWhenMissing = false;
    // Set for passwords: kept in the secret service under this label where
    // one can be used, and in the settings file only where none can.
    const char* SecretLabel = nullptr;
};

// Load and save both go through this table, so the order of the values, the
// point where a load stops and the names are written down once.
const Field Fields[] = {
    {"DestinationFolder", &TSettings::DestinationFolder},
    {"CreateSubFolder", &TSettings::CreateSubFolder},
    {"ShowPictures", &TSettings::ShowPictures},
    {"URLW", &TSettings::URLW},
    {"TextW", &TSettings::TextW},
    {"WinW", &TSettings::WinW},
    {"WinH", &TSettings::WinH},
    {"WinL", &TSettings::WinL},
    {"WinT", &TSettings::WinT},
    {"AutoSkip", &TSettings::AutoSkip},
    {"SkipSec", &TSettings::SkipSec},
    {"NotExtPic", &TSettings::NotExtPic},
    {"NotKeyPic", &TSettings::NotKeyPic},
    {"KeyWords", &TSettings::KeyWords, "banner advertising"},
    {"Extensions", &TSettings::Extensions, "zip exe rar mp3 arj"},
    {"DoWithExtensions", &TSettings::DoWithExtensions},
    {"SaveExistF", &TSettings::SaveExistF, nullptr, true},
    {"UserS", &TSettings::UserS},
    {"PassS", &TSettings::PassS, nullptr, false, "Larkspool site password"},
    {"UserP", &TSettings::UserP},
    {"PassP", &TSettings::PassP, nullptr, false, "Larkspool proxy password"},
    {"SaveScripts", &TSettings::SaveScripts, nullptr, true},
    {"SaveStyleFiles", &TSettings::SaveStyleFiles, nullptr, true},
    {"VerifyCopy", &TSettings::VerifyCopy},
    {"Connections", &TSettings::Connections},
};

// Which fields the last load took from the store, by their place in Fields.
bool Loaded[std::size(Fields)] = {};

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace

void LoadSettings() {
    std::fill(std::begin(Loaded), std::end(Loaded), false);
    const std::optional<RegistryKey> key = RegistryKey::Open(SettingsKey);
    if (!key)
        return;
    std::optional<SecretStore> secrets; // reached at the first password
    for (std::size_t i = 0; i < std::size(Fields); ++i) {
        const Field& field = Fields[i];
        const bool exists = key->ValueExists(field.Name);
        if (exists)
            std::visit(
                Overloaded{
                    [&](std::string TSettings::*m) { Settings.*m = key->ReadString(field.Name); },
                    [&](bool TSettings::*m) { Settings.*m = key->ReadBool(field.Name); },
                    [&](std::int32_t TSettings::*m) { Settings.*m = key->ReadInteger(field.Name); },
                },
                field.Target);
        Loaded[i] = exists;
        // A password the file still holds (from before, or from a time
        // without a secret service) counts until the service has one.
        if (field.SecretLabel != nullptr) {
            if (!secrets)
                secrets.emplace();
            if (std::optional<std::string> kept = secrets->Lookup(field.Name)) {
                Settings.*std::get<std::string TSettings::*>(field.Target) = std::move(*kept);
                Loaded[i] = true;
            }
        }
        if (field.IfEmpty != nullptr) {
            std::string& text = Settings.*std::get<std::string TSettings::*>(field.Target);
            if (text.empty()) {
                text = field.IfEmpty;
                Loaded[i] = false;
            }
        }
        if (field.TrueWhenMissing && !exists)
            Settings.*std::get<bool TSettings::*>(field.Target) = true;
    }
}

bool LoadedFromStore(std::string_view Name) {
    for (std::size_t i = 0; i < std::size(Fields); ++i)
        if (Name == Fields[i].Name)
            return Loaded[i];
    return false;
}

void SaveSettings() {
    std::optional<RegistryKey> key = RegistryKey::Open(SettingsKey);
    if (!key)
        return;
    std::optional<SecretStore> secrets;
    for (const Field& field : Fields) {
        if (field.SecretLabel != nullptr) {
            if (!secrets)
                secrets.emplace();
            // Kept in the service, the password leaves the file (one written
            // there before moves over now); an empty one is no secret to keep.
            // When the service fails it stays in the file, as without one.
            const std::string& value = Settings.*std::get<std::string TSettings::*>(field.Target);
            if (secrets->Available() &&
                (value.empty() ? secrets->Clear(field.Name)
                               : secrets->Store(field.Name, field.SecretLabel, value))) {
                key->DeleteValue(field.Name);
                continue;
            }
        }
        std::visit(
            Overloaded{
                [&](std::string TSettings::*m) { key->WriteString(field.Name, Settings.*m); },
                [&](bool TSettings::*m) { key->WriteBool(field.Name, Settings.*m); },
                [&](std::int32_t TSettings::*m) { key->WriteInteger(field.Name, Settings.*m); },
            },
            field.Target);
    }
}

void CreateSettingsKey() {
    RegistryKey::CreateKey(SettingsKey);
}

} // namespace larkspool
