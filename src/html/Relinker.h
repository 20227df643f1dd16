#pragma once

// Rewriting the links of saved pages so that the copy browses offline.
//
// Every link value the tag scanner finds in a stored page is read as a
// browser reads it (character references decoded, resolved against the
// page's <base> or else its address) and matched with the download list: a
// stored item gives its bare local file name, a page that was not stored
// gives a script saying why (and an anchor matching nothing the "not
// selected" one); a picture, style sheet or frame that matches nothing points
// at its address on the server. A <base> is emptied, so that the bare names
// are read beside the page. Among several matching items the last in list
// order decides.
//
// Values that are left exactly as they are:
//  - anchors whose value is not a web address (a scheme other than http or
//    https: mailto:, javascript:, data:, tel:, ftp:, about:, ...), which the
//    list never fetches; this also keeps the scripts an earlier save wrote;
//  - values that match no item but, in double quotes, name a file present in
//    the output folder (a bare name, optionally with a fragment): the local
//    links an earlier save wrote into a page this save took over.
// So relinking a relinked page again changes nothing that was local.
//
// A page is rewritten in memory and replaced atomically; a failure leaves the
// old page intact and propagates. A page whose values all stay is not written.

#include "lister/Lister.h"

#include <string_view>

namespace larkspool {

// The address comparison for pages: the link's fragment is cut, and a
// missing trailing "/" is added when the item's address has one.
bool SameURL(std::string_view ItemURL, std::string_view LinkURL);

// From the current page onwards (pages phase, after ResetToPages), relinks
// the next page in stFromDocument or stSavedText, marks it stRelinked and
// leaves the cursor on it; false when no page is left.
bool RelinkNext(TLister& List);

// Rewrites the file of the current page.
void RelinkPage(TLister& List);

} // namespace larkspool
