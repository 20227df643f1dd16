#pragma once

// Link rewriting inside CSS: style sheets, style elements and style
// attributes, and inside the srcset lists of pictures. A reference to a
// stored file becomes its local name; a relative one to something not stored
// becomes its address on the server; absolute ones that were not stored are
// left as they are.

#include "lister/Lister.h"

#include <functional>
#include <string>
#include <string_view>

namespace larkspool {

// Css with its references made local, resolved against Base (the sheet's
// own address, or the page's base for CSS inside a page).
std::string RelinkCss(const TLister& List, std::string_view Css, const std::string& Base);

// The new value of a style or srcset attribute, Value as written (quotes
// included); Value itself when nothing changes.
std::string RelinkStyleAttribute(const TLister& List, std::string_view Value,
                                 const std::string& Base);
std::string RelinkSrcset(const TLister& List, std::string_view Value, const std::string& Base);

// Rewrites every stored style sheet of the list in place. A sheet that
// cannot be read or written is reported through Problem and the others go on.
void RelinkStyleSheets(
    const TLister& List,
    const std::function<void(const std::string& URL, const std::string& Why)>& Problem);

} // namespace larkspool
