#pragma once

// Which stored item a link, picture or style reference stands for, as link
// rewriting finds it.

#include "lister/Lister.h"

#include <string>
#include <vector>

namespace larkspool {

// Whether an item in this state has a file in the output folder.
bool IsStored(TItemState State);

// The last item of the phase's list, in list order, among those with
// exactly one of the addresses, whose state Accepted takes; -1 when none.
long LastMatch(const TLister& List, TListerPhase Phase, const std::vector<const std::string*>& URLs,
               bool (*Accepted)(TItemState));

// The stored item with exactly this address: a style sheet, script or style
// file first, else a picture; null when there is none.
const TListerItem* StoredFile(const TLister& List, const std::string& URL);

// A reference (without quotes, as the page or sheet wrote it) to something
// that was not stored: a relative one would name nothing in the flat folder,
// so it points at the server (L) instead; unless it is a local name an
// earlier relinking wrote (a page or sheet taken over). Nothing to change
// otherwise.
bool PointsAtServer(const std::string& Text, const std::string& L);

} // namespace larkspool
