#pragma once

// Files the user leaves to the browser's own download manager.

#include "browser/Variant.h"
#include "lister/Lister.h"

namespace larkspool {

// Hands every item of the list's current phase that is in state
// stToBrowser to the browser: writing its address into the window's
// document.location.href starts the download and leaves the page in place.
// The item becomes stHandedToBrowser, so it is never handed twice. Returns
// how many were handed.
int HandToBrowser(TLister& List, const Variant& Window);

} // namespace larkspool
