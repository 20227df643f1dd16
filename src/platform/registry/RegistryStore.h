#pragma once

// The current user's registry, kept as one plain-text file per user:
// $XDG_CONFIG_HOME/larkspool/registry.reg (default ~/.config/larkspool/).
//
// The file is in the .reg style:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Vandrell\Larkspool]
//   "DestinationFolder"="/home/ann/Saved pages"
//   "ShowPictures"=dword:00000001
//
// A key exists only when its own section is in the file. Values are strings
// or 32-bit integers (dword, exactly as stored: 8 hex digits are written, 1 to
// 8 are read). Inside the quotes of names and strings, \\ is a backslash, \"
// a double quote, \n a line feed and \r a carriage return; every other byte,
// UTF-8 included, stands for itself, and no other escape is accepted. Lines
// starting with ';' are comments. Value names are matched without regard to
// ASCII case and keep the spelling they were first stored with.
//
// Every write re-reads the file, changes just the line of that value (or adds
// one at the end of the key's values, or removes it), and replaces the file atomically with
// mode 0600, since it holds passwords. Comments, other keys and other values
// stay as they were. Writers of different processes take turns through a lock
// on the folder.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace larkspool {

// Wrong-typed reads, failed writes, a damaged store file (its message names
// the file and the line), or a store that cannot be reached at all.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the store file lives for the current user.
std::string RegistryFilePath();

class RegistryKey {
public:
    // KeyPath is below HKEY_CURRENT_USER, e.g. "\SOFTWARE\Vandrell\Larkspool\";
    // leading and trailing backslashes are ignored, key names are matched
    // without regard to ASCII case. Never creates anything: no file, or no
    // section for the key, answers std::nullopt. A damaged file throws.
    static std::optional<RegistryKey> Open(std::string_view KeyPath);

    // What installation does: creates the folder (0700), the file (0600) and
    // the key's section as far as they are missing, keeping existing content.
    static void CreateKey(std::string_view KeyPath);

    bool ValueExists(std::string_view Name) const;

    // A missing string reads as empty; a missing integer throws "Failed to get
    // data for 'NAME'". A value of the other type throws "Invalid data type
    // for 'NAME'".
    std::string ReadString(std::string_view Name) const;
    std::int32_t ReadInteger(std::string_view Name) const;
    // Stored as an integer; any non-zero value is true.
    bool ReadBool(std::string_view Name) const;

    // Throw "Failed to set data for 'NAME'" when the file cannot be written
    // or the key has disappeared from it since Open.
    void WriteString(std::string_view Name, std::string_view Value);
    void WriteInteger(std::string_view Name, std::int32_t Value);
    void WriteBool(std::string_view Name, bool Value);
    // Removes the value's lines (all other lines stay as they are); nothing
    // is written when it is not there. Throws "Failed to delete data for
    // 'NAME'" as the writes do.
    void DeleteValue(std::string_view Name);

private:
    using StoredValue = std::variant<std::string, std::uint32_t>;

    RegistryKey(std::string Section, std::map<std::string, StoredValue> Values)
        : FSection(std::move(Section)), FValues(std::move(Values)) {}

    const StoredValue* Find(std::string_view Name) const;
    void Write(std::string_view Name, StoredValue NewValue);

    std::string FSection;                       // full key name as in the section line
    std::map<std::string, StoredValue> FValues; // by ASCII-lowercased name
};

} // namespace larkspool
