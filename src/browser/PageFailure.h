#pragma once

// Failures a live page reports for a late-bound call, as the caller sees
// them. Both bridges to a real browser (the extension and headless Chromium)
// get the same kinds from the page: "missing", "denied", "readonly", "args",
// or anything else with the exception's text.

#include "browser/Variant.h"

#include <string>
#include <string_view>

namespace larkspool {

// "Member 'Name' of object 'Class'".
std::string MemberOf(std::string_view ClassName, std::string_view Name);

DispatchError PageFailure(std::string_view Kind, const std::string& Text,
                          std::string_view ClassName, std::string_view Name);

} // namespace larkspool
