#include "browser/PageFailure.h"

namespace larkspool {

namespace {

std::string Quoted(std::string_view S) {
    return "'" + std::string(S) + "'";
}

} // namespace

std::string MemberOf(std::string_view ClassName, std::string_view Name) {
    return "Member " + Quoted(Name) + " of object " + Quoted(ClassName);
}

DispatchError PageFailure(std::string_view Kind, const std::string& Text,
                          std::string_view ClassName, std::string_view Name) {
    if (Kind == "missing")
        return DispatchError("Object " + Quoted(ClassName) + " has no member " + Quoted(Name));
    if (Kind == "denied")
        return DispatchError(MemberOf(ClassName, Name) +
                             ": Access is denied (the frame's page comes from another origin)");
    if (Kind == "readonly")
        return DispatchError(MemberOf(ClassName, Name) + " cannot be written");
    return DispatchError(MemberOf(ClassName, Name) + (Kind == "args" ? " " : ": ") + Text);
}

} // namespace larkspool
