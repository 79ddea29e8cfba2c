// Turning marked-up text (XHTML, HTML, FictionBook, WordprocessingML) into the plain text the plug-in
// speaks and shows: one line per block element, headings set apart by an empty line, runs of white
// space made one space, lines ended with CR LF. Pure code: the native fuzzer runs it as it is.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// What an element does to the text around it.
enum class ElementRole {
    Inline,      // nothing: its text runs on
    Block,       // its start and end end a line
    Heading,     // set apart by an empty line before and after
    LineBreak,   // ends a line where it stands (br)
    Tab,         // a space between its neighbours (table cells, tab stops)
    Skip,        // neither it nor anything inside it is text (script, style, notes)
    TextHolder,  // with holders in a vocabulary, only their text counts (w:t in WordprocessingML)
    Title,       // not spoken; its text is the document's title
};

// An element's role from its local name in lower case (no prefix).
using Vocabulary = ElementRole (*)(const std::u16string& name);

ElementRole HtmlRole(const std::u16string& name);
ElementRole FictionBookRole(const std::u16string& name);
ElementRole WordRole(const std::u16string& name);

// Limits that keep a hostile document from filling memory or the stack.
constexpr size_t MARKUP_MOST_DEPTH = 256;
constexpr size_t MARKUP_MOST_UNITS = 128u << 20;  // 256 MB of UTF-16 text

class TextBuilder {
public:
    explicit TextBuilder(Vocabulary vocabulary, bool textOnlyInHolders = false)
        : vocabulary_(vocabulary), holdersOnly_(textOnlyInHolders) {}
    void Open(const std::u16string& name) { OpenAs(name, vocabulary_(name)); }
    // An element whose role its attributes decide (a FictionBook body of notes is skipped).
    void OpenAs(const std::u16string& name, ElementRole role);
    // Closes the innermost open element of that name and every one opened inside it (HTML leaves
    // elements unclosed); a name not open is ignored.
    void Close(const std::u16string& name);
    void Empty(const std::u16string& name) {
        Open(name);
        Close(name);
    }
    void Text(const char16_t* text, size_t count);
    // Room for a text of about this many units, so a long one is not copied as it grows.
    void Reserve(size_t units) { text_.reserve(std::min(units, MARKUP_MOST_UNITS)); }
    // Between two documents of one book: an empty line, as after a heading.
    void EndDocument();
    // The text so far (without a line end after its last line).
    const std::u16string& Result() const { return text_; }
    std::u16string TakeResult() { return std::move(text_); }
    const std::u16string& DocumentTitle() const { return title_; }
    bool TooLong() const { return tooLong_; }

private:
    void Apply(ElementRole role);
    void Put(const char16_t* units, size_t count);

    struct Open_ {
        std::u16string name;
        ElementRole role;
    };
    Vocabulary vocabulary_;
    bool holdersOnly_;
    std::vector<Open_> open_;
    size_t skipping_ = 0, holding_ = 0, titling_ = 0;
    bool titleDone_ = false;
    int breaks_ = 0;  // line ends owed before the next text
    bool space_ = false;
    bool tooLong_ = false;
    std::u16string text_, title_;
};

// Lenient reading of HTML (and XHTML that is not well-formed XML): tags, end tags, comments,
// doctypes, CDATA, character references and the common named entities; script and style text skipped
// whole; unclosed elements closed by their parents' end tags.
void ReadHtml(const char16_t* text, size_t count, TextBuilder* builder);

// Decodes character references and named entities in place of the text; unknown ones stay as written.
std::u16string DecodeEntities(const char16_t* text, size_t count);

// An XML document in ASCII alone, meaning the same to an XML reader: characters past ASCII become
// character references in text and attribute values (a CDATA section is closed around them), and
// '_' in names; in comments and processing instructions, which carry no text, '?'. With
// surrogateReferences, a character past U+FFFF is referred to by its two UTF-16 units, as Wine's XML
// reader keeps only the low 16 bits of a reference.
std::string XmlAsAscii(const char16_t* text, size_t count, bool surrogateReferences = false);

// What the bytes of an HTML file say about their encoding: a byte-order mark, else a charset in a
// meta element or an XML declaration near the start (lower case), else empty.
std::string FindDeclaredCharset(const uint8_t* bytes, size_t size);
// The encoding an XML declaration at the very start names (lower case), else empty; and where the
// declaration ends (0 without one).
std::string FindXmlEncoding(const uint8_t* bytes, size_t size, size_t* declarationEnd);
// The Windows code page of a charset name; 0 when it is not known. 65001 for UTF-8, 1200 and 1201
// for UTF-16 little- and big-endian.
unsigned CodePageOfCharset(const std::string& charset);
