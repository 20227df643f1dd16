#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
namespace larkspool {
struct CssReference {
    std::size_t Start = 0, End = 0;
    std::string Text;
    bool Import = false;
};
std::vector<CssReference> FindCssReferences(std::string_view Css);
std::string
RewriteCss(std::string_view Css,
           const std::function<std::optional<std::string>(const CssReference&)>& Replace);
} // namespace larkspool
