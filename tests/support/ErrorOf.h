#pragma once

// What a call that should fail says.

#include <exception>
#include <string>
#include <type_traits>

namespace larkspool::check {

// The message of the E that Action throws; "(no error)" when it throws
// nothing, and the message marked as such when it throws another exception.
template <typename E, typename F> std::string ErrorOf(F&& Action) {
    static_assert(!std::is_same_v<E, std::exception>, "name the error expected");
    try {
        Action();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("not the error expected: ") + e.what();
    }
    return "(no error)";
}

} // namespace larkspool::check
