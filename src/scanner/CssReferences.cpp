// Temporary stand-in until the full tokenizer lands.
#include "scanner/CssReferences.h"

#include "platform/AsciiText.h"

namespace larkspool {

std::vector<CssReference> FindCssReferences(std::string_view Css) {
    std::vector<CssReference> out;
    std::size_t i = 0;
    bool afterImport = false;
    while (i < Css.size()) {
        if (Css.substr(i, 2) == "/*") {
            const std::size_t e = Css.find("*/", i + 2);
            i = e == std::string_view::npos ? Css.size() : e + 2;
            continue;
        }
        const char c = Css[i];
        if (c == '"' || c == '\'') {
            std::size_t e = i + 1;
            while (e < Css.size() && Css[e] != c && Css[e] != '\n')
                e += Css[e] == '\\' ? 2 : 1;
            e = std::min(e, Css.size());
            if (afterImport && e < Css.size())
                out.push_back({i, e + 1, std::string(Css.substr(i + 1, e - i - 1)), true});
            afterImport = false;
            i = e + 1;
            continue;
        }
        if (StartsWithNoCase(Css.substr(i), "@import")) {
            afterImport = true;
            i += 7;
            continue;
        }
        if (StartsWithNoCase(Css.substr(i), "url(") &&
            (i == 0 || !(std::isalnum(static_cast<unsigned char>(Css[i - 1])) || Css[i - 1] == '-'))) {
            std::size_t e = Css.find(')', i + 4);
            if (e == std::string_view::npos)
                break;
            std::string text(TrimBlanks(Css.substr(i + 4, e - i - 4)));
            if (!text.empty() && (text.front() == '"' || text.front() == '\''))
                text = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
            if (!text.empty())
                out.push_back({i, e + 1, text, afterImport});
            afterImport = false;
            i = e + 1;
            continue;
        }
        if (c == ';')
            afterImport = false;
        ++i;
    }
    return out;
}

std::string RewriteCss(std::string_view Css,
                       const std::function<std::optional<std::string>(const CssReference&)>& Replace) {
    std::string out;
    std::size_t copied = 0;
    for (const CssReference& r : FindCssReferences(Css)) {
        const std::optional<std::string> v = Replace(r);
        if (!v)
            continue;
        out.append(Css, copied, r.Start - copied);
        out += "url(\"" + *v + "\")";
        copied = r.End;
    }
    out.append(Css, copied);
    return out;
}

} // namespace larkspool
