#pragma once

// The open page and its frames are written from the browser's live document,
// where their scripts have already run: what the scripts built (a table of
// contents, buttons, a theme) is in the markup. Run once more from the copy,
// many scripts would build it a second time (two tables of contents, twice
// the buttons), so these pages keep their script elements but inert: each
// gets a type the browser does not run. Downloaded pages keep their scripts
// as they are, since their markup is what the scripts start from.

#include <string>
#include <string_view>

namespace larkspool {

inline constexpr std::string_view InertScriptType = "text/x-larkspool-inert";

// Markup with ` type="text/x-larkspool-inert"` inserted as the first
// attribute of every script element (the first of two attributes of a name
// counts, so a type it had is overruled). Comments and script content are
// passed over, so that "<script" written inside them is left alone.
std::string MakeScriptsInert(std::string_view Markup);

} // namespace larkspool
