#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
namespace larkspool {
struct SrcsetCandidate {
    std::size_t Start = 0, End = 0;
    std::string Url;
};
std::vector<SrcsetCandidate> ParseSrcset(std::string_view Text);
std::string
RewriteSrcset(std::string_view Text,
              const std::function<std::optional<std::string>(const SrcsetCandidate&)>& Replace);
} // namespace larkspool
