#include "lister/LocalNames.h"

#include "lister/PreviousDownloadsLog.h"
#include "platform/AsciiText.h"
#include "platform/SaveFolderLock.h"
#include "tools/ProcessValues.h"
#include "tools/UrlHelpers.h"

#include <sys/stat.h>

namespace larkspool {

std::string CleanLocalName(std::string_view Proposed) {
    const std::string_view trimmed = TrimControls(Proposed);
    std::string name;
    name.reserve(trimmed.size());
    for (char c : trimmed) {
        c = LowerAscii(c);
        if (c == '?')
            break;
        const bool kept = c == ' ' || c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') ||
                          (c >= 'a' && c <= 'z');
        name += kept ? c : '_';
    }
    return name;
}

namespace {

// An extension longer than this is taken for part of the name: keeping it
// could leave no room for the rest.
constexpr std::size_t kMaxKeptExtension = 32;

} // namespace

std::string FitLocalName(std::string Name, std::size_t MaxBytes) {
    if (Name.size() <= MaxBytes)
        return Name;
    const std::size_t dot = Name.rfind('.');
    std::string extension;
    if (dot != std::string::npos && dot > 0 && Name.size() - dot <= kMaxKeptExtension &&
        Name.size() - dot < MaxBytes)
        extension = Name.substr(dot);
    std::size_t cut = MaxBytes - extension.size();
    // Never keep the first bytes of a character without its last ones.
    while (cut > 0 && (static_cast<unsigned char>(Name[cut]) & 0xC0) == 0x80)
        --cut;
    Name.resize(cut);
    return Name + extension;
}

bool IsReservedLocalName(std::string_view Name) {
    return Name == PreviousDownloadsLogName || Name == SaveFolderLockName;
}

std::string QuotedLocalName(std::string_view Value) {
    if (Value.size() < 3 || Value.front() != '"' || Value.back() != '"')
        return {};
    std::string name = StripFragment(Value.substr(1, Value.size() - 2));
    if (!IsPlainLogFileName(name) || name.find(':') != std::string::npos)
        return {};
    return name;
}

bool IsFileInOutputFolder(const std::string& Name) {
    // lstat: a link planted in the folder (sym.html -> ../secret.html) would
    // bring a file from outside into the copy.
    struct stat info {};
    return IsPlainLogFileName(Name) && ::lstat((OutputFolder + Name).c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

void NameIndex::Add(const std::string& Name, Place At) {
    FPlaces[Name].insert(At);
}

void NameIndex::Remove(const std::string& Name, Place At) {
    const auto it = FPlaces.find(Name);
    if (it == FPlaces.end())
        return;
    it->second.erase(At);
    if (it->second.empty())
        FPlaces.erase(it);
}

bool NameIndex::FindFrom(const std::string& Name, Place From, Place& Found) const {
    const auto it = FPlaces.find(Name);
    if (it == FPlaces.end())
        return false;
    const auto place = it->second.lower_bound(From);
    if (place == it->second.end())
        return false;
    Found = *place;
    return true;
}

bool NameIndex::CarriedByOther(const std::string& Name, Place Except) const {
    const auto it = FPlaces.find(Name);
    if (it == FPlaces.end())
        return false;
    return it->second.size() > 1 || *it->second.begin() != Except;
}

} // namespace larkspool
