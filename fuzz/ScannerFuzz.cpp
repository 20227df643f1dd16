// The scanner on arbitrary bytes: no read outside the text, and the chunks of
// a file-like scan give back every byte.
#include "scanner/CssReferences.h"
#include "scanner/HtmlParser.h"
#include "scanner/PageAddresses.h"
#include "scanner/Srcset.h"
#include "tools/UrlHelpers.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace larkspool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    THTMLParser file = THTMLParser::CreateFromBytes(bytes);
    std::string joined;
    std::vector<std::string> values;
    bool any = false;
    while (file.Next()) {
        any = true;
        joined += file.Before();
        joined += file.Value();
        if (file.Kind() > tkPreload)
            std::abort();
        if (file.Kind() != tkText) {
            values.emplace_back(file.Value());
            // a value read as a browser reads it has no line break or tab left
            const std::string text = LinkText(file.Value());
            if (text.find_first_of("\t\r\n") != std::string::npos)
                std::abort();
            (void)ResolveLink("http://h.test/a/b.html", text);
            // Lists and style sheets inside a value are read on their own.
            if (file.Kind() == tkSrcset)
                for (const SrcsetCandidate& c : ParseSrcset(AttributeText(file.Value())))
                    (void)ResolveLink("http://h.test/a/b.html", c.Url);
            if (file.Kind() == tkStyle || file.Kind() == tkStyleText)
                for (const CssReference& r :
                     FindCssReferences(file.Kind() == tkStyle ? AttributeText(file.Value())
                                                              : std::string(file.Value())))
                    (void)ResolveLink("http://h.test/a/b.html", r.Text);
        }
    }
    if (any && joined != bytes)
        std::abort();

    // A caller's text (the same bytes, zero-terminated) gives the same values,
    // and its chunks are a prefix of the text.
    THTMLParser text = THTMLParser::CreateFromText(bytes.c_str());
    std::string head;
    std::size_t n = 0;
    while (text.Next()) {
        head += text.Before();
        head += text.Value();
        if (text.Kind() != tkText && (n >= values.size() || values[n++] != text.Value()))
            std::abort();
    }
    if (n != values.size() || bytes.compare(0, head.size(), head) != 0)
        std::abort();

    // One pass gives the same chunks, and the base is always a web address.
    THTMLParser again = THTMLParser::CreateFromBytes(bytes);
    const ScannedPage page = ScanPage(again, "http://h.test/a/b.html");
    if (!IsHttpAddress(page.Base) || page.Chunks.size() != values.size() + (any ? 1 : 0))
        std::abort();
    return 0;
}
