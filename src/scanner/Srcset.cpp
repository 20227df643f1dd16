// Temporary stand-in until the full parser lands.
#include "scanner/Srcset.h"

namespace larkspool {

namespace {
bool Space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
} // namespace

std::vector<SrcsetCandidate> ParseSrcset(std::string_view Text) {
    std::vector<SrcsetCandidate> out;
    std::size_t i = 0;
    while (i < Text.size()) {
        while (i < Text.size() && (Space(Text[i]) || Text[i] == ','))
            ++i;
        if (i >= Text.size())
            break;
        std::size_t e = i;
        while (e < Text.size() && !Space(Text[e]))
            ++e;
        std::size_t u = e;
        bool ended = false;
        while (u > i && Text[u - 1] == ',') {
            --u;
            ended = true;
        }
        if (u > i)
            out.push_back({i, u, std::string(Text.substr(i, u - i))});
        i = e;
        if (!ended) {
            int depth = 0;
            while (i < Text.size() && !(Text[i] == ',' && depth == 0)) {
                depth += Text[i] == '(' ? 1 : Text[i] == ')' ? -1 : 0;
                ++i;
            }
        }
    }
    return out;
}

std::string RewriteSrcset(std::string_view Text,
                          const std::function<std::optional<std::string>(const SrcsetCandidate&)>& Replace) {
    std::string out;
    std::size_t copied = 0;
    for (const SrcsetCandidate& c : ParseSrcset(Text)) {
        const std::optional<std::string> v = Replace(c);
        if (!v)
            continue;
        out.append(Text, copied, c.Start - copied);
        out += *v;
        copied = c.End;
    }
    out.append(Text, copied);
    return out;
}

} // namespace larkspool
