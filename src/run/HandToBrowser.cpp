#include "run/HandToBrowser.h"

namespace larkspool {

int HandToBrowser(TLister& List, const Variant& Window) {
    int handed = 0;
    for (int i = 0; i < List.Count(); ++i) {
        if (List.StateAt(i) != stToBrowser)
            continue;
        Window.Get("document").Get("location").Put("href", Variant(List.URLAt(i)));
        List.SetStateAt(i, stHandedToBrowser);
        ++handed;
    }
    return handed;
}

} // namespace larkspool
