#include "html/Replacements.h"

#include <cstdio>

namespace larkspool {

namespace {

constexpr char DQ = '"';

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A character reference at Text[i] ("&amp;", "&#39;", "&#x27;", "&copy;").
// Length receives its length; Ascii the character when it is one of ASCII,
// else -1 (a reference to another character, kept as written).
bool ReadReference(std::string_view Text, std::size_t i, std::size_t& Length, int& Ascii) {
    static constexpr struct {
        std::string_view Name;
        char Char;
    } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::size_t k = i + 1;
    if (k < Text.size() && Text[k] == '#') {
        ++k;
        const bool hex = k < Text.size() && (Text[k] == 'x' || Text[k] == 'X');
        if (hex)
            ++k;
        const std::size_t digits = k;
        long value = 0;
        while (k < Text.size() &&
               (hex ? HexDigit(Text[k]) >= 0 : Text[k] >= '0' && Text[k] <= '9')) {
            if (value < 0x110000)
                value = value * (hex ? 16 : 10) + HexDigit(Text[k]);
            ++k;
        }
        if (k == digits || k >= Text.size() || Text[k] != ';')
            return false;
        Length = k + 1 - i;
        Ascii = value > 0 && value < 0x80 ? static_cast<int>(value) : -1;
        return true;
    }
    const std::size_t name = k;
    while (k < Text.size() && IsAsciiAlnum(Text[k]))
        ++k;
    if (k == name || k >= Text.size() || Text[k] != ';')
        return false;
    Length = k + 1 - i;
    Ascii = -1;
    for (const auto& named : kNamed)
        if (Text.substr(name, k - name) == named.Name)
            Ascii = named.Char;
    return true;
}

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

std::string ConfirmScript(std::string_view Address, bool AttributeText, std::string_view Why) {
    const std::string a = EscapeForScriptInAttribute(Address, AttributeText);
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

std::string EscapeForScriptInAttribute(std::string_view Text, bool AttributeText) {
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
        if (c == '&' && AttributeText) {
            std::size_t length = 0;
            int ascii = -1;
            if (ReadReference(Text, i, length, ascii)) {
                if (ascii >= 0)
                    AppendEscaped(out, static_cast<char>(ascii));
                else
                    out.append(Text.substr(i, length));
                i += length;
                continue;
            }
        }
        if (c == '%' && i + 2 < Text.size() && HexDigit(Text[i + 1]) >= 0 &&
            HexDigit(Text[i + 2]) >= 0 &&
            IsDangerousDecoded(HexDigit(Text[i + 1]) * 16 + HexDigit(Text[i + 2]))) {
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
    return ConfirmScript(U, false,
                         "\\n\\nThis link is not downloaded by Larkspool because it is skipped.");
}

std::string NotToDownloadReplacement(std::string_view U) {
    return ConfirmScript(
        U, false, "\\n\\nThis link is not downloaded by Larkspool according to Advanced options.");
}

std::string NotSelectedReplacement(std::string_view L) {
    return ConfirmScript(
        L, true,
        "\\n\\nThis link is not saved by Larkspool because it was not selected for download.");
}

std::string ToBrowserReplacement(std::string_view U) {
    std::string r;
    r += DQ;
    r += "javascript: alert('";
    r += EscapeForScriptInAttribute(U, false);
    r += "\\n\\nThis file is not downloaded with Larkspool but your default download manager.'";
    r += ")";
    r += DQ;
    return r;
}

namespace {

// Text for a double-quoted attribute: a double quote always escaped, an
// ampersand too when Ampersands is set (a file name is plain text, while an
// address or fragment is kept as the page wrote it).
void AppendQuotable(std::string& Out, std::string_view Text, bool Ampersands) {
    for (char c : Text) {
        if (c == '&' && Ampersands)
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
    AppendQuotable(r, FileName, true);
    AppendQuotable(r, Fragment, false);
    r += DQ;
    return r;
}

std::string ServerReplacement(std::string_view U) {
    std::string r(1, DQ);
    AppendQuotable(r, U, false);
    r += DQ;
    return r;
}

} // namespace larkspool
