#include "scanner/Srcset.h"

namespace larkspool {

namespace {

bool IsAsciiWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

void AppendPercentEncoded(std::string& Out, char c) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    const auto b = static_cast<unsigned char>(c);
    Out += '%';
    Out += Hex[b >> 4];
    Out += Hex[b & 0x0F];
}

// Leading commas would be skipped as separators and trailing ones cut off;
// whitespace would end the URL.
std::string SafeForSrcset(std::string_view Url) {
    std::size_t lead = 0;
    while (lead < Url.size() && Url[lead] == ',')
        ++lead;
    std::size_t trail = Url.size();
    while (trail > lead && Url[trail - 1] == ',')
        --trail;
    std::string out;
    out.reserve(Url.size() + 8);
    for (std::size_t i = 0; i < Url.size(); ++i) {
        const char c = Url[i];
        if (IsAsciiWhitespace(c) || (c == ',' && (i < lead || i >= trail)))
            AppendPercentEncoded(out, c);
        else
            out += c;
    }
    return out;
}

} // namespace

std::vector<SrcsetCandidate> ParseSrcset(std::string_view Text) {
    std::vector<SrcsetCandidate> candidates;
    const std::size_t n = Text.size();
    std::size_t p = 0;
    for (;;) {
        while (p < n && (IsAsciiWhitespace(Text[p]) || Text[p] == ','))
            ++p;
        if (p >= n)
            break;
        const std::size_t start = p;
        while (p < n && !IsAsciiWhitespace(Text[p]))
            ++p;
        std::size_t end = p;
        while (end > start && Text[end - 1] == ',')
            --end;
        SrcsetCandidate candidate;
        candidate.Start = start;
        candidate.End = end;
        candidate.Url.assign(Text.substr(start, end - start));
        candidates.push_back(std::move(candidate));
        if (end != p)
            continue; // "a.png," has no descriptors
        // The descriptors: up to a comma that is not inside parentheses. A
        // ")" closes whatever "(" came before; they do not nest.
        bool inParens = false;
        while (p < n) {
            const char c = Text[p++];
            if (inParens) {
                if (c == ')')
                    inParens = false;
            } else if (c == '(') {
                inParens = true;
            } else if (c == ',') {
                break;
            }
        }
    }
    return candidates;
}

std::string
RewriteSrcset(std::string_view Text,
              const std::function<std::optional<std::string>(const SrcsetCandidate&)>& Replace) {
    std::string out;
    out.reserve(Text.size());
    std::size_t copied = 0;
    for (const SrcsetCandidate& candidate : ParseSrcset(Text)) {
        const std::optional<std::string> url = Replace(candidate);
        if (!url || url->empty())
            continue;
        out.append(Text, copied, candidate.Start - copied);
        out += SafeForSrcset(*url);
        copied = candidate.End;
    }
    out.append(Text, copied);
    return out;
}

} // namespace larkspool
