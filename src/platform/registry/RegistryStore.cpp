#include "platform/registry/RegistryStore.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/Descriptors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace larkspool {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view OldHeader = "REGEDIT4";
constexpr std::string_view RootName = "HKEY_CURRENT_USER";
constexpr mode_t FileMode = 0600;
constexpr mode_t FolderMode = 0700;

using StoredValue = std::variant<std::string, std::uint32_t>;

// One line of the store file. Text is kept as read so that rewriting the file
// changes nothing but the line of the value written.
struct Line {
    enum Kind { Other, Section, ValueLine };
    std::string Text;
    Kind Type = Other;
    std::string Key;  // normalized key of the section (the line's own, or the one it is in)
    std::string Name; // value name as stored
    StoredValue Data;
};

// Key names compare without the empty parts that stray backslashes make and
// without regard to ASCII case, as the registry's do.
std::string JoinParts(std::string_view Path) {
    std::string out;
    std::size_t start = 0;
    while (start <= Path.size()) {
        std::size_t end = Path.find('\\', start);
        if (end == std::string_view::npos)
            end = Path.size();
        if (end > start) {
            if (!out.empty())
                out += '\\';
            out.append(Path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

std::string KeyId(std::string_view FullName) {
    return LowerAscii(JoinParts(FullName));
}

std::string SectionFor(std::string_view KeyPath) {
    const std::string parts = JoinParts(KeyPath);
    return parts.empty() ? std::string(RootName) : std::string(RootName) + '\\' + parts;
}

std::string Quote(std::string_view S) {
    std::string out = "\"";
    for (char c : S) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out + '"';
}

std::string FormatValue(std::string_view Name, const StoredValue& Data) {
    std::string out = Quote(Name) + '=';
    if (const auto* text = std::get_if<std::string>(&Data))
        return out + Quote(*text);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x",
                  static_cast<unsigned>(std::get<std::uint32_t>(Data)));
    return out + "dword:" + digits;
}

// Reads a quoted text at the start of S and removes it from S; the reason
// for refusing it otherwise.
std::string TakeQuoted(std::string_view& S, std::string& Out) {
    S.remove_prefix(1); // the opening quote
    Out.clear();
    while (!S.empty()) {
        const char c = S.front();
        S.remove_prefix(1);
        if (c == '"')
            return {};
        if (c != '\\') {
            Out += c;
            continue;
        }
        if (S.empty())
            break;
        const char e = S.front();
        S.remove_prefix(1);
        switch (e) {
        case '\\':
            Out += '\\';
            break;
        case '"':
            Out += '"';
            break;
        case 'n':
            Out += '\n';
            break;
        case 'r':
            Out += '\r';
            break;
        default:
            return std::string("unknown escape \\") + e;
        }
    }
    return "unterminated string";
}

std::string ParseValue(std::string_view S, Line& Into) {
    if (std::string reason = TakeQuoted(S, Into.Name); !reason.empty())
        return reason;
    if (S.empty() || S.front() != '=')
        return "'=' expected after the value name";
    S.remove_prefix(1);
    if (!S.empty() && S.front() == '"') {
        std::string text;
        if (std::string reason = TakeQuoted(S, text); !reason.empty())
            return reason;
        Into.Data = std::move(text);
    } else if (StartsWithNoCase(S, "dword:")) {
        S.remove_prefix(6);
        std::uint32_t number = 0;
        std::size_t digits = 0;
        for (; digits < S.size(); ++digits) {
            const int d = HexDigitValue(S[digits]);
            if (d < 0)
                break;
            number = number << 4 | static_cast<std::uint32_t>(d);
        }
        if (digits == 0 || digits > 8)
            return "bad dword (1 to 8 hex digits expected)";
        S.remove_prefix(digits);
        Into.Data = number;
    } else {
        return "string or dword value expected";
    }
    if (!TrimBlanks(S).empty())
        return "unexpected text after the value";
    return {};
}

std::vector<Line> Parse(const std::string& Path, std::string_view Content) {
    std::vector<Line> lines;
    std::string key;
    bool inSection = false;
    std::size_t start = 0;
    while (start < Content.size()) {
        std::size_t end = Content.find('\n', start);
        if (end == std::string_view::npos)
            end = Content.size();
        Line line;
        line.Text = Content.substr(start, end - start);
        start = end + 1;

        std::string_view text = TrimBlanks(line.Text);
        if (lines.empty() && text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        std::string reason;
        if (text.empty() || text.front() == ';' ||
            (lines.empty() && (text == Header || text == OldHeader))) {
            line.Type = Line::Other;
        } else if (text.front() == '[' && text.back() == ']' && text.size() > 2) {
            line.Type = Line::Section;
            key = KeyId(text.substr(1, text.size() - 2));
            inSection = true;
            line.Key = key;
        } else if (text.front() == '"') {
            line.Type = Line::ValueLine;
            line.Key = key;
            reason = inSection ? ParseValue(text, line) : "value outside any key";
        } else {
            reason = "not a key, a value or a comment";
        }
        if (!reason.empty())
            throw RegistryError("Damaged registry file \"" + Path + "\", line " +
                                std::to_string(lines.size() + 1) + ": " + reason);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string Serialize(const std::vector<Line>& Lines) {
    std::string out;
    for (const Line& line : Lines)
        out.append(line.Text).append(1, '\n');
    return out;
}

std::string FolderOf(const std::string& Path) {
    return Path.substr(0, Path.rfind('/'));
}

// The file's bytes, or nothing when it (or its folder) does not exist.
std::optional<std::string> ReadStore(const std::string& Path) {
    try {
        return ReadWholeFile(Path);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory ||
            e.code() == std::errc::not_a_directory)
            return std::nullopt;
        throw;
    }
}

void MakeFolders(const std::string& Folder) {
    for (std::size_t slash = Folder.find('/', 1);; slash = Folder.find('/', slash + 1)) {
        const std::string part = Folder.substr(0, slash);
        if (::mkdir(part.c_str(), FolderMode) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(),
                                    "Cannot create folder \"" + part + "\"");
        if (slash == std::string::npos)
            break;
    }
}

// Read-change-replace of the file by two processes at once would lose one
// change; an exclusive lock on the folder makes them take turns.
class FolderLock {
public:
    explicit FolderLock(const std::string& Folder)
        : FFd(::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (!FFd.IsOpen() || !LockExclusive(FFd.Get(), true))
            throw std::system_error(errno, std::generic_category(),
                                    "Cannot lock folder \"" + Folder + "\"");
    }

private:
    UniqueFd FFd;
};

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0')
        return found->pw_dir;
    throw RegistryError("No home folder for the registry file (HOME is not set)");
}

} // namespace

std::string RegistryFilePath() {
    std::string base;
    // A relative XDG_CONFIG_HOME is to be ignored, as for every other program.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        base = config;
    else
        base = HomeFolder() + "/.config";
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/larkspool/registry.reg";
}

std::optional<RegistryKey> RegistryKey::Open(std::string_view KeyPath) {
    const std::string path = RegistryFilePath();
    std::optional<std::string> content;
    try {
        content = ReadStore(path);
    } catch (const std::system_error& e) {
        throw RegistryError(e.what());
    }
    if (!content)
        return std::nullopt;
    const std::string section = SectionFor(KeyPath);
    const std::string key = KeyId(section);
    bool found = false;
    std::map<std::string, StoredValue> values;
    for (Line& line : Parse(path, *content)) {
        if (line.Key != key)
            continue;
        if (line.Type == Line::Section)
            found = true;
        else if (line.Type == Line::ValueLine)
            values[LowerAscii(line.Name)] = std::move(line.Data); // a later duplicate wins
    }
    if (!found)
        return std::nullopt;
    return RegistryKey(section, std::move(values));
}

void RegistryKey::CreateKey(std::string_view KeyPath) {
    const std::string path = RegistryFilePath();
    const std::string section = SectionFor(KeyPath);
    try {
        MakeFolders(FolderOf(path));
        FolderLock lock(FolderOf(path));
        std::string content = ReadStore(path).value_or(std::string());
        const std::string key = KeyId(section);
        for (const Line& line : Parse(path, content))
            if (line.Type == Line::Section && line.Key == key)
                return;
        if (content.empty())
            content.append(Header).append(1, '\n');
        else if (content.back() != '\n')
            content += '\n';
        content += "\n[" + section + "]\n";
        WriteFileAtomically(path, content, FileMode);
    } catch (const std::system_error& e) {
        throw RegistryError("Failed to create key '" + section + "': " + e.what());
    }
}

const RegistryKey::StoredValue* RegistryKey::Find(std::string_view Name) const {
    const auto it = FValues.find(LowerAscii(Name));
    return it == FValues.end() ? nullptr : &it->second;
}

bool RegistryKey::ValueExists(std::string_view Name) const {
    return Find(Name) != nullptr;
}

std::string RegistryKey::ReadString(std::string_view Name) const {
    const StoredValue* value = Find(Name);
    if (value == nullptr)
        return {};
    if (const auto* text = std::get_if<std::string>(value))
        return *text;
    throw RegistryError("Invalid data type for '" + std::string(Name) + "'");
}

std::int32_t RegistryKey::ReadInteger(std::string_view Name) const {
    const StoredValue* value = Find(Name);
    if (value == nullptr)
        throw RegistryError("Failed to get data for '" + std::string(Name) + "'");
    if (const auto* number = std::get_if<std::uint32_t>(value))
        return static_cast<std::int32_t>(*number);
    throw RegistryError("Invalid data type for '" + std::string(Name) + "'");
}

bool RegistryKey::ReadBool(std::string_view Name) const {
    return ReadInteger(Name) != 0;
}

void RegistryKey::WriteString(std::string_view Name, std::string_view Value) {
    Write(Name, std::string(Value));
}

void RegistryKey::WriteInteger(std::string_view Name, std::int32_t Value) {
    Write(Name, static_cast<std::uint32_t>(Value));
}

void RegistryKey::WriteBool(std::string_view Name, bool Value) {
    WriteInteger(Name, Value ? 1 : 0);
}

namespace {

// One change to the store file: re-read under the folder's lock, Change edits
// its lines (and says whether anything changed), and the file is replaced
// atomically. Any failure raises Failed.
template <class F> void EditStoreFile(const std::string& Failed, F Change) {
    const std::string path = RegistryFilePath();
    try {
        FolderLock lock(FolderOf(path));
        const std::optional<std::string> content = ReadStore(path);
        if (!content)
            throw RegistryError(Failed);
        std::vector<Line> lines = Parse(path, *content);
        if (Change(lines))
            WriteFileAtomically(path, Serialize(lines), FileMode);
    } catch (const std::system_error&) {
        throw RegistryError(Failed);
    }
}

} // namespace

void RegistryKey::Write(std::string_view Name, StoredValue NewValue) {
    const std::string failed = "Failed to set data for '" + std::string(Name) + "'";
    const std::string key = KeyId(FSection);
    const std::string name = LowerAscii(Name);
    EditStoreFile(failed, [&](std::vector<Line>& lines) {
        std::optional<std::size_t> insertAt;
        std::optional<std::size_t> replaceAt;
        std::vector<std::size_t> duplicates;
        bool inFirstSection = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Line& line = lines[i];
            if (line.Type == Line::Section) {
                inFirstSection = line.Key == key && !insertAt;
                if (inFirstSection)
                    insertAt = i + 1;
            } else if (line.Type == Line::ValueLine && line.Key == key) {
                if (inFirstSection)
                    insertAt = i + 1;
                if (LowerAscii(line.Name) != name)
                    continue;
                if (replaceAt)
                    duplicates.push_back(i);
                else
                    replaceAt = i;
            }
        }
        if (!insertAt)
            throw RegistryError(failed); // the key was removed since Open

        if (replaceAt) {
            lines[*replaceAt].Text = FormatValue(lines[*replaceAt].Name, NewValue);
            for (auto it = duplicates.rbegin(); it != duplicates.rend(); ++it)
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*it));
        } else {
            Line line;
            line.Text = FormatValue(Name, NewValue);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(line));
        }
        return true;
    });
    FValues[name] = std::move(NewValue);
}

void RegistryKey::DeleteValue(std::string_view Name) {
    const std::string key = KeyId(FSection);
    const std::string name = LowerAscii(Name);
    EditStoreFile("Failed to delete data for '" + std::string(Name) + "'",
                  [&](std::vector<Line>& lines) {
                      return std::erase_if(lines, [&](const Line& line) {
                                 return line.Type == Line::ValueLine && line.Key == key &&
                                        LowerAscii(line.Name) == name;
                             }) > 0;
                  });
    FValues.erase(name);
}

} // namespace larkspool
