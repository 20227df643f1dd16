#include "html/PageEncoding.h"

#include "platform/AsciiText.h"

#include <cerrno>
#include <iconv.h>
#include <string>

namespace larkspool {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kPrescanBytes = 1024;

std::size_t FindNoCase(std::string_view Text, std::string_view Word, std::size_t From) {
    for (std::size_t i = From; i + Word.size() <= Text.size(); ++i) {
        std::size_t k = 0;
        while (k < Word.size() && LowerAscii(Text[i + k]) == Word[k])
            ++k;
        if (k == Word.size())
            return i;
    }
    return std::string_view::npos;
}

bool IsUtf8Label(std::string_view Label) {
    const std::string l = LowerAscii(Label);
    return l == "utf-8" || l == "utf8";
}

// Character sets whose bytes are not a superset of ASCII: references could
// not be written into them, and the scanner could not read them.
bool IsWideCharset(std::string_view Label) {
    const std::string l = LowerAscii(Label);
    return l.rfind("utf-16", 0) == 0 || l.rfind("utf-32", 0) == 0 || l.rfind("ucs-", 0) == 0 ||
           l == "utf-7" || l == "replacement" || l == "x-user-defined";
}

// Length of the UTF-8 character at S[i] and its code point; 0 when malformed.
std::size_t DecodeUtf8(std::string_view S, std::size_t i, char32_t& Code) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(S[k]); };
    const unsigned char lead = b(i);
    std::size_t n = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || i + n > S.size())
        return 0;
    Code = n == 1 ? lead : n == 2 ? lead & 0x1F : n == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (b(i + k) & 0x3F);
    }
    return n;
}

// Converts with iconv; false when the character set is unknown here.
bool Convert(std::string_view Utf8, const std::string& Charset, std::string& Out) {
    iconv_t cd = ::iconv_open(Charset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    struct Closer {
        iconv_t cd;
        ~Closer() { ::iconv_close(cd); }
    } closer{cd};
    Out.clear();
    Out.resize(Utf8.size() + Utf8.size() / 2 + 16);
    std::size_t used = 0;
    char* in = const_cast<char*>(Utf8.data());
    std::size_t inLeft = Utf8.size();
    const auto reserve = [&](std::size_t more) {
        if (Out.size() - used < more)
            Out.resize(Out.size() * 2 + more);
    };
    const auto flushShiftState = [&] {
        for (;;) {
            reserve(16);
            char* out = Out.data() + used;
            std::size_t outLeft = Out.size() - used;
            const std::size_t r = ::iconv(cd, nullptr, nullptr, &out, &outLeft);
            used = Out.size() - outLeft;
            if (r != static_cast<std::size_t>(-1) || errno != E2BIG)
                return;
        }
    };
    while (inLeft > 0) {
        reserve(16);
        char* out = Out.data() + used;
        std::size_t outLeft = Out.size() - used;
        const std::size_t r = ::iconv(cd, &in, &inLeft, &out, &outLeft);
        used = Out.size() - outLeft;
        if (r != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // A character the set cannot hold, or a malformed sequence: write a
        // numeric reference (from the initial shift state) and go on.
        char32_t code = 0xFFFD;
        const std::size_t offset = static_cast<std::size_t>(in - Utf8.data());
        std::size_t length = DecodeUtf8(Utf8, offset, code);
        if (length == 0) {
            length = 1;
            code = 0xFFFD;
        }
        flushShiftState();
        const std::string reference = "&#" + std::to_string(static_cast<unsigned long>(code)) + ";";
        reserve(reference.size());
        Out.replace(used, reference.size(), reference);
        used += reference.size();
        in += length;
        inLeft -= length;
    }
    flushShiftState();
    Out.resize(used);
    return true;
}

} // namespace

std::string DeclaredCharset(std::string_view Markup) {
    const std::string_view head = Markup.substr(0, kPrescanBytes);
    for (std::size_t meta = FindNoCase(head, "<meta", 0); meta != std::string_view::npos;
         meta = FindNoCase(head, "<meta", meta + 5)) {
        const std::size_t end = head.find('>', meta);
        const std::string_view tag =
            head.substr(meta, end == std::string_view::npos ? head.npos : end - meta);
        std::size_t at = FindNoCase(tag, "charset", 0);
        if (at == std::string_view::npos)
            continue;
        at += 7;
        while (at < tag.size() &&
               (tag[at] == ' ' || tag[at] == '\t' || tag[at] == '\n' || tag[at] == '\r'))
            ++at;
        if (at >= tag.size() || tag[at] != '=')
            continue;
        ++at;
        while (at < tag.size() && (tag[at] == ' ' || tag[at] == '"' || tag[at] == '\''))
            ++at;
        std::size_t stop = at;
        while (stop < tag.size() && tag[stop] != '"' && tag[stop] != '\'' && tag[stop] != ';' &&
               tag[stop] != ' ' && tag[stop] != '/' && tag[stop] != '\t' && tag[stop] != '\n' &&
               tag[stop] != '\r')
            ++stop;
        if (stop > at)
            return std::string(tag.substr(at, stop - at));
    }
    return {};
}

std::string EncodeDocumentMarkup(std::string_view Utf8Markup, std::string_view CharacterSet) {
    const std::string declared = DeclaredCharset(Utf8Markup);
    if (!declared.empty() && LowerAscii(declared) == LowerAscii(CharacterSet)) {
        if (IsUtf8Label(CharacterSet))
            return std::string(Utf8Markup);
        std::string converted;
        if (!IsWideCharset(CharacterSet) &&
            Convert(Utf8Markup, std::string(CharacterSet), converted))
            return converted;
    }
    std::string out(kUtf8Bom);
    out += Utf8Markup;
    return out;
}

} // namespace larkspool
