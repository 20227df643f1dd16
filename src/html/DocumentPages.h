#pragma once

// Writing the open page and its frames from the browser's own copy of the
// documents, and adding the style sheets they link to.

#include "browser/Variant.h"
#include "lister/Lister.h"

namespace larkspool {

// Writes the root element's markup of the main page as OutputFolder +
// "INDEX.HTML" and of frame i as the file of List.Pages()[i + 1], each replaced
// atomically, and adds the link-tag targets of each document as style sheets
// (resolved against StartPageURL, or against the frame page's own address).
// A document without an "HTML" element gets no file. Browser and file errors
// propagate.
void SaveDocumentPages(TLister& List, const Variant& BrowserWindow);

} // namespace larkspool
