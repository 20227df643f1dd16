#pragma once

// Reading the page's address, title, the user's selection and its links, as
// the link picker lists them: mail links left out, rows numbered over the
// listed links, and a link checked when its text occurs in the selection.

#include "browser/Variant.h"

#include <functional>
#include <string>
#include <vector>

namespace larkspool {

struct LinkRow {
    std::string Number;  // " 1" .. "99", then "100" and up
    std::string Address; // as the browser reports it
    std::string Text;    // trimmed
    bool Checked = false;
};

struct PageLinks {
    std::string URL;       // trimmed
    std::string Title;     // trimmed
    std::string Selection; // untrimmed
    std::vector<LinkRow> Rows;
};

// Reads everything from the window W handed over by the browser. A member
// the document does not offer raises DispatchError; rows read before stay in
// Partial when it is given.
PageLinks CollectPageLinks(const Variant& W, PageLinks* Partial = nullptr);

// The two halves of it, for a caller that acts between them: the address
// and title of the page (of W's parent, the top of a frameset), then the
// selection and the links, each row handed to AddRow as soon as it is read.
void ReadPageAddressAndTitle(const Variant& W, PageLinks& Page);
void ReadPageLinks(const Variant& W, PageLinks& Page,
                   const std::function<void(const LinkRow&)>& AddRow = {});

// The row number as the list shows it: right-aligned in two characters.
std::string RowNumberCaption(int Number);

// Trimmed of blanks and control characters at both ends.
std::string TrimText(const std::string& Text);

} // namespace larkspool
