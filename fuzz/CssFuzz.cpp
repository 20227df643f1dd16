// Style sheet and srcset addresses on arbitrary bytes: no read outside the
// text, ranges in order, and rewriting keeps every byte it does not replace.
#include "scanner/CssReferences.h"
#include "scanner/Srcset.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace larkspool;

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsSrcsetSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

void CheckCss(const std::string& Css) {
    const std::vector<CssReference> refs = FindCssReferences(Css);
    std::size_t last = 0;
    for (const CssReference& ref : refs) {
        if (ref.Start < last || ref.Start >= ref.End || ref.End > Css.size())
            std::abort();
        if (ref.Text.empty() || IsBlank(ref.Text.front()) || IsBlank(ref.Text.back()))
            std::abort();
        last = ref.End;
    }

    if (RewriteCss(Css, [](const CssReference&) { return std::nullopt; }) != Css)
        std::abort();

    // Each address written back as a quoted url() is read again as the same
    // address, and nothing else in the text changes meaning.
    const std::string same = RewriteCss(Css, [](const CssReference& Ref) { return Ref.Text; });
    const std::vector<CssReference> again = FindCssReferences(same);
    if (again.size() != refs.size())
        std::abort();
    for (std::size_t i = 0; i < refs.size(); ++i)
        if (again[i].Text != refs[i].Text || again[i].Import != refs[i].Import)
            std::abort();

    // A value full of what a CSS string has to escape.
    const std::string odd = "a\"b'c\\d\ne\rf\fg)h 1";
    const std::string rewritten = RewriteCss(Css, [&](const CssReference&) { return odd; });
    const std::vector<CssReference> read = FindCssReferences(rewritten);
    if (read.size() != refs.size())
        std::abort();
    for (const CssReference& ref : read)
        if (ref.Text != odd)
            std::abort();
}

void CheckSrcset(const std::string& Text) {
    const std::vector<SrcsetCandidate> candidates = ParseSrcset(Text);
    std::size_t last = 0;
    for (const SrcsetCandidate& c : candidates) {
        if (c.Start < last || c.Start >= c.End || c.End > Text.size())
            std::abort();
        if (std::string_view(Text).substr(c.Start, c.End - c.Start) != c.Url)
            std::abort();
        if (c.Url.front() == ',' || c.Url.back() == ',')
            std::abort();
        for (const char ch : c.Url)
            if (IsSrcsetSpace(ch))
                std::abort();
        last = c.End;
    }

    if (RewriteSrcset(Text, [](const SrcsetCandidate&) { return std::nullopt; }) != Text)
        std::abort();

    // A replacement with a comma in front and a tab behind comes back
    // percent-encoded, one candidate for one.
    const std::string rewritten = RewriteSrcset(Text, [](const SrcsetCandidate& C) {
        return std::optional<std::string>("," + C.Url + "\t");
    });
    const std::vector<SrcsetCandidate> read = ParseSrcset(rewritten);
    if (read.size() != candidates.size())
        std::abort();
    for (std::size_t i = 0; i < read.size(); ++i)
        if (read[i].Url != "%2C" + candidates[i].Url + "%09")
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckCss(bytes);
    CheckSrcset(bytes);
    return 0;
}
