#include "html/InertScripts.h"

#include "platform/AsciiText.h"

namespace larkspool {

namespace {

bool IsTagNameEnd(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '/' || c == '>';
}

// Where the text from At on starts with Lower, compared without ASCII case.
bool StartsAt(std::string_view Text, std::size_t At, std::string_view Lower) {
    return Text.size() - At >= Lower.size() && StartsWithNoCase(Text.substr(At), Lower);
}

// The offset of the next "</script" at or after From, or the end.
std::size_t ScriptEnd(std::string_view Text, std::size_t From) {
    for (std::size_t at = Text.find('<', From); at != std::string_view::npos;
         at = Text.find('<', at + 1))
        if (StartsAt(Text, at, "</script"))
            return at;
    return Text.size();
}

} // namespace

std::string MakeScriptsInert(std::string_view Markup) {
    std::string out;
    out.reserve(Markup.size() + 256);
    std::size_t copied = 0;
    std::size_t at = Markup.find('<');
    while (at != std::string_view::npos) {
        if (StartsAt(Markup, at, "<!--")) {
            const std::size_t end = Markup.find("-->", at + 4);
            if (end == std::string_view::npos)
                break;
            at = Markup.find('<', end + 3);
            continue;
        }
        if (StartsAt(Markup, at, "<script") && at + 7 < Markup.size() &&
            IsTagNameEnd(Markup[at + 7])) {
            out.append(Markup, copied, at + 7 - copied);
            out += " type=\"";
            out += InertScriptType;
            out += '"';
            copied = at + 7;
            at = Markup.find('<', ScriptEnd(Markup, at + 7) + 1);
            continue;
        }
        at = Markup.find('<', at + 1);
    }
    out.append(Markup, copied);
    return out;
}

} // namespace larkspool
