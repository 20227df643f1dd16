#include "html/Replacements.h"

#include "platform/AsciiText.h"

#include <cstdio>

namespace larkspool {

namespace {

constexpr char DQ = '"';

// Bytes that end or change a script string when the browser percent-decodes
// a javascript: address.
bool IsDangerousDecoded(int Byte) {
    return Byte < 0x20 || Byte == '\'' || Byte == '\\';
}

bool NeedsCare(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == '\'' || c == '&' || c == '"' ||
           c == '<' || c == '>' || c == '%';
}

void AppendEscaped(std::string& Out, char c) {
    switch (c) {
    case '\\':
        Out += "\\\\";
        return;
    case '\'':
        Out += "\\'";
        return;
    case '\n':
        Out += "\\n";
        return;
    case '\r':
        Out += "\\r";
        return;
    case '&':
        Out += "&amp;";
        return;
    case '"':
        Out += "&quot;";
        return;
    case '<':
        Out += "&lt;";
        return;
    case '>':
        Out += "&gt;";
        return;
    default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        Out += hex;
        return;
    }
    Out += c;
}

std::string ConfirmScript(std::string_view Address, std::string_view Why) {
    const std::string a = EscapeForScriptInAttribute(Address);
    std::string r;
    r.reserve(2 * a.size() + Why.size() + 96);
    r += DQ;
    r += "javascript:if (confirm('";
    r += a;
    r += Why;
    r += "\\n\\nDo you want to open it from the server?'";
    r += "))window.location='";
    r += a;
    r += "'";
    r += DQ;
    return r;
}

} // namespace

std::string EscapeForScriptInAttribute(std::string_view Text) {
    std::string out;
    out.reserve(Text.size() + 8);
    for (std::size_t i = 0; i < Text.size();) {
        // Runs of bytes that need nothing are copied whole.
        std::size_t plain = i;
        while (plain < Text.size() && !NeedsCare(Text[plain]))
            ++plain;
        out.append(Text.substr(i, plain - i));
        i = plain;
        if (i == Text.size())
            break;
        const char c = Text[i];
        if (c == '%' && i + 2 < Text.size() && HexDigitValue(Text[i + 1]) >= 0 &&
            HexDigitValue(Text[i + 2]) >= 0 &&
            IsDangerousDecoded(HexDigitValue(Text[i + 1]) * 16 + HexDigitValue(Text[i + 2]))) {
            out += "%25";
            ++i;
            continue;
        }
        AppendEscaped(out, c);
        ++i;
    }
    return out;
}

std::string SkippedReplacement(std::string_view U) {
    return ConfirmScript(U,
                         "\\n\\nThis link is not downloaded by Larkspool because it is skipped.");
}

std::string NotToDownloadReplacement(std::string_view U) {
    return ConfirmScript(
        U, "\\n\\nThis link is not downloaded by Larkspool according to Advanced options.");
}

std::string NotSelectedReplacement(std::string_view L) {
    return ConfirmScript(
        L, "\\n\\nThis link is not saved by Larkspool because it was not selected for download.");
}

std::string ToBrowserReplacement(std::string_view U) {
    std::string r;
    r += DQ;
    r += "javascript: alert('";
    r += EscapeForScriptInAttribute(U);
    r += "\\n\\nThis file is not downloaded with Larkspool but your default download manager.'";
    r += ")";
    r += DQ;
    return r;
}

namespace {

// Text for a double-quoted attribute.
void AppendQuotable(std::string& Out, std::string_view Text) {
    for (char c : Text) {
        if (c == '&')
            Out += "&amp;";
        else if (c == '"')
            Out += "&quot;";
        else
            Out += c;
    }
}

} // namespace

std::string LocalReplacement(std::string_view FileName, std::string_view Fragment) {
    std::string r(1, DQ);
    AppendQuotable(r, FileName);
    AppendQuotable(r, Fragment);
    r += DQ;
    return r;
}

std::string QuotedAttributeValue(std::string_view Text) {
    std::string r(1, DQ);
    AppendQuotable(r, Text);
    r += DQ;
    return r;
}

std::string ServerReplacement(std::string_view U) {
    return QuotedAttributeValue(U);
}

} // namespace larkspool
