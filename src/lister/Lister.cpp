// The download list: its lists, cursor and accessors.
#include "lister/Lister.h"
#include "tools/Settings.h"

#include <stdexcept>

namespace larkspool {

std::vector<TListerItem>& TLister::ListOf(TListerPhase Phase) {
    return Phase == phPages ? FPages : Phase == phPictures ? FPictures : FStylesheets;
}

const std::vector<TListerItem>& TLister::ListOf(TListerPhase Phase) const {
    return Phase == phPages ? FPages : Phase == phPictures ? FPictures : FStylesheets;
}

int& TLister::IndexOf(TListerPhase Phase) {
    return Phase == phPages ? FPageIndex : Phase == phPictures ? FPictureIndex : FStylesheetIndex;
}

int TLister::IndexOf(TListerPhase Phase) const {
    return Phase == phPages ? FPageIndex : Phase == phPictures ? FPictureIndex : FStylesheetIndex;
}

void TLister::Append(TListerPhase Phase, TListerItem Item) {
    std::vector<TListerItem>& list = ListOf(Phase);
    FNames.Add(Item.FileName, {Phase, list.size()});
    FURLs[Phase][Item.URL].push_back(list.size());
    list.push_back(std::move(Item));
}

void TLister::Rename(TListerPhase Phase, std::size_t Index, std::string Name) {
    TListerItem& item = ListOf(Phase).at(Index);
    FNames.Remove(item.FileName, {Phase, Index});
    item.FileName = std::move(Name);
    FNames.Add(item.FileName, {Phase, Index});
}

// Moves the phase's cursor to the first item in stToDownload from where it
// stands; when there is none it rests on the last item. Never steps past the
// item it starts on.
bool TLister::Search() {
    const std::vector<TListerItem>& list = ListOf(FPhase);
    int& index = IndexOf(FPhase);
    const int last = static_cast<int>(list.size()) - 1;
    while (list[index].State != stToDownload && index < last)
        ++index;
    return list[index].State == stToDownload;
}

bool TLister::FindFirst() {
    FPhase = phPages;
    FPageIndex = 0;
    if (Search())
        return true;
    if (!FPictures.empty() && Settings.ShowPictures) {
        FPhase = phPictures;
        FPictureIndex = 0;
        if (Search())
            return true;
    }
    if (!FStylesheets.empty()) {
        FPhase = phStylesheets;
        FStylesheetIndex = 0;
        return Search();
    }
    return false;
}

bool TLister::FindNext() {
    if (FPhase == phPages) {
        if (Search())
            return true;
        if (Settings.ShowPictures) {
            FPhase = phPictures;
            FPictureIndex = 0;
        } else {
            FPhase = phStylesheets;
            FStylesheetIndex = 0;
        }
    }
    if (FPhase == phPictures) {
        if (!FPictures.empty() && Search())
            return true;
        FPhase = phStylesheets;
        FStylesheetIndex = 0;
    }
    if (FPhase == phStylesheets && !FStylesheets.empty())
        return Search();
    return false;
}

void TLister::ResetToPages() {
    FPhase = phPages;
    FPageIndex = 0;
}

int TLister::Count() const {
    return static_cast<int>(ListOf(FPhase).size());
}

int TLister::CurrentIndex() const {
    return IndexOf(FPhase);
}

std::string TLister::PhaseCaption() const {
    switch (FPhase) {
    case phPages:
        return "Save Web Pages";
    case phPictures:
        return "Save pictures";
    case phStylesheets:
        return "Save stylesheets";
    }
    return {};
}

// After a search that answered false the cursor may stand on index 0 of an
// empty list; reading the current item then is a caller's fault, reported
// rather than read out of bounds.
TListerItem& TLister::Current() {
    std::vector<TListerItem>& list = ListOf(FPhase);
    const int index = IndexOf(FPhase);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        throw std::logic_error("The download list has no current item");
    return list[static_cast<std::size_t>(index)];
}

const TListerItem& TLister::Current() const {
    return const_cast<TLister*>(this)->Current();
}

std::string TLister::CurrentURL() const {
    return Current().URL;
}
std::string TLister::CurrentTitle() const {
    return Current().Title;
}
std::string TLister::CurrentFileName() const {
    return Current().FileName;
}
TItemState TLister::CurrentState() const {
    return Current().State;
}
void TLister::SetCurrentState(TItemState State) {
    Current().State = State;
}

void TLister::SetCurrentFileName(const std::string& Name) {
    Current(); // checks that there is one
    Rename(FPhase, static_cast<std::size_t>(IndexOf(FPhase)), Name);
}

TItemState TLister::StateAt(int Index) const {
    return ListOf(FPhase).at(static_cast<std::size_t>(Index)).State;
}

void TLister::SetStateAt(int Index, TItemState State) {
    ListOf(FPhase).at(static_cast<std::size_t>(Index)).State = State;
}

std::string TLister::URLAt(int Index) const {
    return ListOf(FPhase).at(static_cast<std::size_t>(Index)).URL;
}

const std::vector<std::size_t>& TLister::ItemsWithURL(TListerPhase Phase,
                                                      const std::string& URL) const {
    static const std::vector<std::size_t> none;
    const auto it = FURLs[Phase].find(URL);
    return it == FURLs[Phase].end() ? none : it->second;
}

void TLister::SetStateOf(TListerPhase Phase, std::size_t Index, TItemState State) {
    ListOf(Phase).at(Index).State = State;
}

bool TLister::StepCurrentIndex() {
    int& index = IndexOf(FPhase);
    if (index >= Count())
        return false;
    ++index;
    return index < Count();
}

} // namespace larkspool
