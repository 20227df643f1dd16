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

} // namespace

std::string RelinkCss(const TLister& List, std::string_view Css, const std::string& Base) {
    return RewriteCss(Css, [&](const CssReference& Reference) {
        return NewReference(List, Reference.Text, Base);
    });
}

namespace {

// A style or srcset value rewritten as text, then quoted again when it
// changed.
template <typename Rewrite>
std::string RelinkAttribute(std::string_view Value, Rewrite RewriteText) {
    const std::string text = AttributeText(Value);
    const std::string relinked = RewriteText(text);
    return relinked == text ? std::string(Value) : QuotedAttributeValue(relinked);
}

} // namespace

std::string RelinkStyleAttribute(const TLister& List, std::string_view Value,
                                 const std::string& Base) {
    return RelinkAttribute(Value,
                           [&](const std::string& Css) { return RelinkCss(List, Css, Base); });
}

std::string RelinkSrcset(const TLister& List, std::string_view Value, const std::string& Base) {
    return RelinkAttribute(Value, [&](const std::string& Srcset) {
        return RewriteSrcset(Srcset, [&](const SrcsetCandidate& Candidate) {
            return NewReference(List, Candidate.Url, Base);
        });
    });
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
