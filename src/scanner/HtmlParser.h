#pragma once

// The tag scanner over saved pages.
//
// THTMLParser cuts a page's raw bytes into consecutive chunks, each ending with
// the value of one link attribute, so that a caller can collect the link
// targets or write the page back chunk by chunk with some values replaced. It
// reads these tags and attributes, names compared without regard to ASCII
// case:
//
//   <a href>        tkAnchor    <img src>     tkImage     <frame src>   tkFrame
//   <iframe src>    tkFrame     <base href>   tkBase      <script src>  tkScript
//   <img srcset>, <source srcset>                tkSrcset (a list of pictures)
//   <input type=image src>, <video poster>, <body|table|td|th background>
//                                                tkPicture
//   <link href>     tkLink when its rel names "stylesheet",
//                   tkIcon when it names "icon",
//                   tkPreload when it names "preload" or "modulepreload" (else none)
//   style="..." on any element                   tkStyle (CSS, as written)
//   the content of a <style> element             tkStyleText (raw CSS, no quotes)
//
// A tag is read as a browser reads it: its name ends at whitespace, "/" or
// ">"; its attributes are read one by one up to the ">" that ends it (a ">"
// inside a quoted value does not), and only an attribute of exactly the
// wanted name counts; when a name is written twice the first one counts.
// One tag may give several values, in the order written. A tag that never
// ends gives no value. Comments ("<!--" to "-->"), the text between
// "<script" and "</script", and a style element's content (other than as its
// one value) are not read as markup.
//
// A value starts at the first byte after the "=" that is not HTML whitespace.
// An unquoted value ends before the next whitespace or ">". A quoted value
// runs to the same quote character, which belongs to it.
//
// Invariant: for a scanner over a file, Before and Value of all chunks, written
// one after another, give back the file's bytes exactly, whenever at least one
// value was found. To keep it on every input, the scanner decides:
//  - A quoted value without any closing quote in the rest of the text is no
//    value, and the tag holding it gives none: the scan goes on after that
//    quote.
//  - After a tag, the search for the next one resumes behind its ">": tag
//    forms written inside a value are never returned, and no text repeats.
//  - The scanned text ends at its first zero byte. The closing chunk of a file
//    nevertheless runs to the file's last byte, so bytes after a zero are
//    written back unchanged.
// A text without any value gives no chunk at all: a caller that writes pages
// back must treat that as a page with nothing to change.
//
// Every search is a single forward pass; repeated searches for a quote that
// is not there are remembered, so the scan stays linear in the text size even
// on hostile pages.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

enum TTagKind : std::uint8_t {
    tkText = 0, // closing chunk: the rest of the text after the last value
    tkAnchor = 1,
    tkImage = 2,
    tkLink = 3, // a style sheet
    tkFrame = 4,
    tkBase = 5, // where the page's relative addresses start from
    tkIcon = 6, // the page's icon: a picture
    tkScript = 7,
    tkPicture = 8,    // a picture other than <img src>: button, poster, background
    tkSrcset = 9,     // candidates "url [descriptor]" separated by commas
    tkStyle = 10,     // a style attribute
    tkStyleText = 11, // a style element's content
    tkPreload = 12    // a file the page fetches ahead (a font, a script): not gathered for it
};

class THTMLParser {
public:
    // Reads the whole file as raw bytes. Throws std::system_error naming the
    // file and the system's reason when it cannot be opened or read.
    static THTMLParser CreateFromFile(const std::string& FileName);
    // Scans a copy of Bytes exactly as if they had been read from a file.
    static THTMLParser CreateFromBytes(std::string_view Bytes);
    // Scans a zero-terminated text that the caller keeps alive and unchanged
    // for the scanner's lifetime; it is not copied. Its closing chunk is empty.
    static THTMLParser CreateFromText(const char* Text);

    THTMLParser(THTMLParser&&) noexcept = default;
    THTMLParser& operator=(THTMLParser&&) noexcept = default;
    THTMLParser(const THTMLParser&) = delete;
    THTMLParser& operator=(const THTMLParser&) = delete;
    ~THTMLParser() = default;

    // Moves to the next chunk; false when none is left.
    bool Next();

    // The current chunk. The views point into the scanned text and stay valid
    // as long as the scanner (for a file) or the caller's text lives.
    std::string_view Before() const { return FBefore; }
    std::string_view Value() const { return FValue; } // as written, quotes included
    TTagKind Kind() const { return FKind; }

private:
    explicit THTMLParser(std::string Owned);
    explicit THTMLParser(const char* Text);
    void FindEnd(std::size_t Limit);

    struct TagForm;
    static const TagForm& FormOf(std::string_view Name);
    bool StartsWithAt(std::size_t At, std::string_view Lower) const;
    void SkipComment(std::size_t Lt);
    bool ReadTag(const TagForm& Form, std::size_t NameEnd);
    void ApplyRel(std::string_view Rel);
    void ReadStyleText();
    std::size_t NextByteFrom(char c, std::size_t From) const;

    // A remembered search for one byte: the first occurrence at or after
    // `From` is `At` (or End when there is none), valid for any later start up
    // to `At`.
    struct Search {
        std::size_t From = 0;
        std::size_t At = 0;
        bool Done = false;
    };
    std::size_t CachedNext(Search& S, char c, std::size_t From);

    // A value found in the tag just read, waiting to be returned.
    struct Found {
        std::size_t Start = 0, End = 0;
        TTagKind Kind = tkText;
    };

    std::unique_ptr<std::string> FOwned; // the file's bytes (on the heap: views survive a move)
    const char* FBuffer = nullptr;
    std::size_t FSize = 0;       // byte count of an owned buffer, 0 for a caller's text
    std::size_t FEnd = 0;        // offset of the first zero byte: where scanning stops
    std::size_t FCursor = 0;     // where the search for the next tag goes on
    bool FAtEnd = false;         // the cursor reached the end of the text
    std::size_t FChunkStart = 0; // offset where the next chunk begins
    bool FInScript = false;
    bool FAnyValue = false;
    std::vector<Found> FFound; // values of the tag just read, still to be returned from FFoundAt
    std::size_t FFoundAt = 0;
    std::string_view FBefore;
    std::string_view FValue;
    TTagKind FKind = tkText;
    Search FDoubleQuote, FSingleQuote;
};

} // namespace larkspool
