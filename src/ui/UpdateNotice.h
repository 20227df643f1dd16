#pragma once

// The update notice: the maker's server answers "verinfo" with 24 bytes, a
// length byte and the text of the newest version ("Larkspool 3.7"); a newer
// version than ours is announced in a message box. No widgets here.

#include <optional>
#include <string>

namespace larkspool {

// Our own version text, as the server's reply is compared with it.
inline constexpr const char* OwnVersionText = "Larkspool 3.6";
inline constexpr std::size_t VersionReplySize = 24;

// The reply's text; nothing when the body is not exactly 24 bytes. A length
// byte that claims more than the 23 bytes behind it is cut to 23: the reply
// is never read past its end.
std::optional<std::string> ReadVersionReply(const std::string& Body);

// Byte-wise unsigned comparison over the common length, the longer text
// greater when that part is equal: versions compare as text ("3.10" < "3.6").
int CompareVersionText(const std::string& A, const std::string& B);

// The notice for a reply text ("Larkspool 3.7 is available."), cut to 28
// characters; empty when nothing is to be shown (a text not beginning with
// "Larkspool", or a version not newer than ours).
std::string UpdateNoticeText(const std::string& ReplyText);

// The maker's server: the alternative address when the system's language is
// Russian, else the main one. Both end with "/".
std::string ChooseHomeURL(bool RussianSystem);

} // namespace larkspool
