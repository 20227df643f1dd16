#include "ui/UpdateNotice.h"

#include <algorithm>

namespace larkspool {

namespace {

constexpr std::size_t NoticeLength = 28;
constexpr const char* MainHomeURL = "https://larkspool.vandrell.example/";
constexpr const char* RussianHomeURL = "https://ru.larkspool.vandrell.example/";

} // namespace

std::optional<std::string> ReadVersionReply(const std::string& Body) {
    if (Body.size() != VersionReplySize)
        return std::nullopt;
    const std::size_t length =
        std::min<std::size_t>(static_cast<unsigned char>(Body[0]), VersionReplySize - 1);
    return Body.substr(1, length);
}

int CompareVersionText(const std::string& A, const std::string& B) {
    const std::size_t common = std::min(A.size(), B.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(A[i]);
        const auto b = static_cast<unsigned char>(B[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

std::string UpdateNoticeText(const std::string& ReplyText) {
    if (!ReplyText.starts_with("Larkspool"))
        return {};
    if (CompareVersionText(ReplyText, OwnVersionText) <= 0)
        return {};
    std::string notice = ReplyText + " is available.";
    if (notice.size() > NoticeLength)
        notice.resize(NoticeLength);
    return notice;
}

std::string ChooseHomeURL(bool RussianSystem) {
    return RussianSystem ? RussianHomeURL : MainHomeURL;
}

} // namespace larkspool
