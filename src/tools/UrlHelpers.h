#pragma once

// Text helpers for web addresses and file names.
//
// These follow fixed textual rules, not an address standard, and the rest of
// the program relies on exactly these rules, quirks included: a name without
// any "/" has an empty file name, and "./" segments stay in a resolved link.
// All functions work on byte strings; positions are
// 1-based and 0 means "none"; comparisons are case-sensitive except in
// IsNotMailto and for schemes.

#include <cstddef>
#include <string>
#include <string_view>

namespace larkspool {

// The text before the first "#", or the whole text.
std::string StripFragment(std::string_view URL);
// From the first "#" (included) to the end, or empty.
std::string FragmentOf(std::string_view URL);

// Splits URL into Root (scheme, host and the first "/" after them), Dir (the
// path up to and including its last "/") and Name (the rest). A text without
// any "/" after its "://" gives an empty Root, the whole text as Dir and an
// empty Name; a text without "://" is split at its first and last "/".
void SplitURL(std::string_view URL, std::string& Root, std::string& Dir, std::string& Name);
std::string HostPartOf(std::string_view URL);  // Root
std::string DirectoryOf(std::string_view URL); // Root + Dir
std::string FileNameOf(std::string_view URL);  // Name
// What follows the last "." of the file name, query included ('zip' for
// 'get.php?f=a.zip'); empty when a "\" or ":" comes after the last ".".
std::string ExtensionOf(std::string_view URL);

std::size_t LastSlashPos(std::string_view S);
std::size_t FirstSlashPos(std::string_view S);

// Link made absolute against Base: "\" counts as "/", a link starting with a
// scheme is already absolute, "//host/path" takes Base's scheme, a leading
// "/" starts from the host part, a bare fragment
// from Base itself, anything else from Base's directory; "../" segments drop
// one directory, all other segments ("./" and empty ones too) are appended.
std::string ResolveURL(std::string_view Base, std::string_view Link);

// S without tabs, carriage returns and line feeds, then without one leading
// and one trailing quote (double or single, independently).
std::string CleanAttributeValue(std::string_view S);

// A page title reduced to what may stand in a folder name: blank, "-", "_",
// ASCII letters and digits, and whole UTF-8 characters from U+00C0 upwards
// (the national letters). Everything else, including malformed or cut UTF-8,
// is dropped, so the result is always valid UTF-8.
std::string MakeFolderName(std::string_view Title);

// False when the text holds "mailto:" anywhere, in any letter case.
bool IsNotMailto(std::string_view URL);

// The scheme an address or link value starts with ("javascript" for
// " JavaScript:go()"), lower-cased, after leading blanks and control
// characters; empty when it names none (a relative link).
std::string SchemeOf(std::string_view Value);
// An address the program can fetch: its scheme is http or https.
bool IsHttpAddress(std::string_view URL);
// A link value that leads to the web: relative, or http or https. Others
// (javascript:, mailto:, data:, tel:, ftp:, ...) are never fetched.
bool IsWebLink(std::string_view Value);

// An absolute address in the form a browser gives it, so that the same
// address written in two ways compares equal: scheme and host in lower case,
// no default port, "." and ".." segments of the path taken away, and blanks,
// controls, bytes beyond ASCII and '"', "<", ">" percent-encoded (in the path
// also "`", "{", "}"); "%XX" already there stays. Any other text comes back
// as it is.
std::string CanonicalURL(std::string_view URL);

} // namespace larkspool
