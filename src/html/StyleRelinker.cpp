#include "html/StyleRelinker.h"

#include "html/Replacements.h"
#include "html/StoredItems.h"
#include "platform/AtomicFile.h"
#include "scanner/CssReferences.h"
#include "scanner/PageAddresses.h"
#include "scanner/Srcset.h"
#include "tools/ProcessValues.h"
#include "tools/UrlHelpers.h"

#include <sys/stat.h>

namespace larkspool {

namespace {

// What one reference becomes; nothing when it stays as written.
std::optional<std::string> NewReference(const TLister& List, const std::string& Text,
                                        const std::string& Base) {
    if (Text.empty() || !IsWebLink(Text))
        return std::nullopt;
    const std::string L = ResolveLink(Base, Text);
    if (const TListerItem* item = StoredFile(List, L))
        return item->FileName;
    if (PointsAtServer(Text, L))
        return L;
    return std::nullopt;
}

// Text for a double-quoted attribute value.
std::string QuotedAttribute(std::string_view Text) {
    std::string out = "\"";
    for (const char c : Text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out + '"';
}

} // namespace

std::string RelinkCss(const TLister& List, std::string_view Css, const std::string& Base) {
    return RewriteCss(Css, [&](const CssReference& Reference) {
        return NewReference(List, Reference.Text, Base);
    });
}

std::string RelinkStyleAttribute(const TLister& List, std::string_view Value,
                                 const std::string& Base) {
    const std::string text = AttributeText(Value);
    const std::string relinked = RelinkCss(List, text, Base);
    return relinked == text ? std::string(Value) : QuotedAttribute(relinked);
}

std::string RelinkSrcset(const TLister& List, std::string_view Value, const std::string& Base) {
    const std::string text = AttributeText(Value);
    const std::string relinked = RewriteSrcset(text, [&](const SrcsetCandidate& Candidate) {
        return NewReference(List, Candidate.Url, Base);
    });
    return relinked == text ? std::string(Value) : QuotedAttribute(relinked);
}

void RelinkStyleSheets(
    const TLister& List,
    const std::function<void(const std::string& URL, const std::string& Why)>& Problem) {
    for (const TListerItem& item : List.Stylesheets()) {
        if (item.Role != ItemRole::StyleSheet || item.State != stSavedText)
            continue;
        try {
            const std::string path = OutputFolder + item.FileName;
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            const std::string css = ReadWholeFile(path);
            const std::string relinked = RelinkCss(List, css, item.URL);
            if (relinked != css)
                WriteFileAtomically(path, relinked, info.st_mode & 07777);
        } catch (const std::exception& e) {
            Problem(item.URL, e.what());
        }
    }
}

} // namespace larkspool
