#pragma once

// Local file names of the download list's items.

#include "lister/ListerTypes.h"

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace larkspool {

// Steps of a proposed name that need no list: blanks and control characters
// trimmed from both ends, A-Z lowered, cut at the first "?", and every byte
// other than a-z, 0-9, blank, "-", "." and "_" turned into "_". The result may
// be empty, "." or "..": the caller then generates a name.
std::string CleanLocalName(std::string_view Proposed);

// The longest local name, in bytes: the file systems' NAME_MAX. A longer name
// is refused by the system and its item would be lost.
inline constexpr std::size_t MaxLocalNameBytes = 255;

// Name cut to at most MaxBytes bytes, at a UTF-8 character boundary, keeping
// its extension (from the last ".", when that is short, as every real one
// is), so that a page still opens as a page.
std::string FitLocalName(std::string Name, std::size_t MaxBytes = MaxLocalNameBytes);

// Names the program keeps for its own files in the output folder (the
// previous-downloads log and the folder lock): never an item's file.
bool IsReservedLocalName(std::string_view Name);

// The bare file name in a double-quoted value such as "name" or
// "name#fragment" (what link rewriting writes for a stored item), when it is
// a plain name of the output folder itself; empty otherwise.
std::string QuotedLocalName(std::string_view Value);

// Whether OutputFolder holds a regular file of that plain name, itself and
// not through a symbolic link, and not one of the program's own files.
bool IsFileInOutputFolder(const std::string& Name);

// Which items carry which file name, by their place in the list order (pages,
// then pictures, then style sheets, each in list order). Lets the clash pass
// jump from one item with the name it is testing to the next instead of
// comparing every item, without changing a single result.
class NameIndex {
public:
    using Place = std::pair<int, std::size_t>; // phase, index within the phase's list

    void Add(const std::string& Name, Place At);
    void Remove(const std::string& Name, Place At);
    // The first place at or after From whose item carries Name.
    bool FindFrom(const std::string& Name, Place From, Place& Found) const;
    bool Contains(const std::string& Name) const { return FPlaces.count(Name) != 0; }
    // True when some item other than the one at Except carries Name.
    bool CarriedByOther(const std::string& Name, Place Except) const;

private:
    std::unordered_map<std::string, std::set<Place>> FPlaces;
};

} // namespace larkspool
