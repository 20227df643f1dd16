#pragma once

// The page side of the late-bound calls: the text of extension/answerer.js,
// compiled in at build time (the extension ships the same file). Run as a
// script in a page's context, it leaves its answerer under
// globalThis[Symbol.for('larkspool.answerer')].

#include <string_view>

namespace larkspool {

extern const std::string_view AnswererScript;

} // namespace larkspool
