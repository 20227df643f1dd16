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
// A document without an "HTML" element gets no file. A frame whose document
// the browser side cannot read gets no file either: its item becomes
// stSkipped (so the copy's frame keeps the server's address), the other
// frames are written, and a DispatchError naming the unread frames' addresses
// is raised at the end. Other browser and file errors propagate.
void SaveDocumentPages(TLister& List, const Variant& BrowserWindow);

} // namespace larkspool
