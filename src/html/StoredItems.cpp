#include "html/StoredItems.h"

#include "tools/UrlHelpers.h"

namespace larkspool {

bool IsStored(TItemState State) {
    return State == stFromDocument || State == stSavedText || State == stRelinked ||
           State == stSavedOther;
}

long LastMatch(const TLister& List, TListerPhase Phase, const std::vector<const std::string*>& URLs,
               bool (*Accepted)(TItemState)) {
    const std::vector<TListerItem>& items = Phase == phPages      ? List.Pages()
                                            : Phase == phPictures ? List.Pictures()
                                                                  : List.Stylesheets();
    long best = -1;
    for (const std::string* url : URLs) {
        const std::vector<std::size_t>& found = List.ItemsWithURL(Phase, *url);
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            if (static_cast<long>(*it) <= best)
                break;
            if (Accepted(items[*it].State)) {
                best = static_cast<long>(*it);
                break;
            }
        }
    }
    return best;
}

const TListerItem* StoredFile(const TLister& List, const std::string& URL) {
    // Style sheet items carry no fragment ("font.svg#icons" is font.svg).
    const std::string bare = StripFragment(URL);
    if (const long sheet = LastMatch(List, phStylesheets, {&bare}, IsStored); sheet >= 0)
        return &List.Stylesheets()[static_cast<std::size_t>(sheet)];
    if (const long picture = LastMatch(List, phPictures, {&URL}, IsStored); picture >= 0)
        return &List.Pictures()[static_cast<std::size_t>(picture)];
    return nullptr;
}

bool PointsAtServer(const std::string& Text, const std::string& L) {
    return !L.empty() && SchemeOf(Text).empty() &&
           !IsFileInOutputFolder(QuotedLocalName("\"" + Text + "\""));
}

} // namespace larkspool
