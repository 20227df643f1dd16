#pragma once

// Message texts of the windows that more than one place shows.

#include <QString>

namespace larkspool {

// Shown when the program was started by hand and the user tries another page.
inline QString UsageMessage() {
    return QStringLiteral(
        "You don't need to start larkspool\n\nFor use Larkspool\n1) use the Chromium to "
        "display a Web page you want to save\n2) select the text area with links you want to "
        "save\n3) right-click in the page, and then click Larkspool\n   OR\n   click Larkspool "
        "toolbar button");
}

// The two lines of the file that warns a user looking into the folder while
// a save runs, and its name.
inline constexpr const char* WarningLine1 = "DO NOT OPEN ANY FILE WHILE LARKSPOOL IS RUNNING";
inline constexpr const char* WarningLine2 = "YOU MUST IMMEDIATELY CLOSE THIS FILE";

} // namespace larkspool
