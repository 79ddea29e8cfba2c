#include "documents/markup_text.h"

#include <algorithm>
#include <cstring>

namespace {

bool Is(const std::u16string& name, const char* ascii) {
    size_t i = 0;
    for (; ascii[i]; ++i)
        if (i >= name.size() || name[i] != static_cast<char16_t>(ascii[i])) return false;
    return i == name.size();
}

bool IsAny(const std::u16string& name, std::initializer_list<const char*> names) {
    for (const char* one : names)
        if (Is(name, one)) return true;
    return false;
}

bool IsSpace(char16_t c) {
    return c <= ' ' ? c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' : c == 0xA0;
}
// Units that are no text at all: a soft hyphen only marks where a word may break.
bool IsDropped(char16_t c) { return c == 0xAD || c == 0; }
bool IsLetter(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameUnit(char16_t c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':' || c == '.';
}
char16_t LowerAscii(char16_t c) { return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c - 'A' + 'a') : c; }

constexpr size_t MOST_TITLE_UNITS = 1024;

}  // namespace

ElementRole HtmlRole(const std::u16string& name) {
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') return ElementRole::Heading;
    if (IsAny(name, {"p", "div", "li", "ul", "ol", "dl", "dt", "dd", "blockquote", "tr", "table", "section", "article",
                     "aside", "header", "footer", "figure", "figcaption", "pre", "address", "hr", "main", "caption",
                     "center", "body", "hgroup", "details", "summary", "fieldset", "legend"}))
        return ElementRole::Block;
    if (Is(name, "br")) return ElementRole::LineBreak;
    if (IsAny(name, {"td", "th"})) return ElementRole::Tab;
    if (IsAny(name, {"script", "style", "head", "noscript", "template", "nav", "svg", "math", "object", "iframe"}))
        return ElementRole::Skip;
    if (Is(name, "title")) return ElementRole::Title;
    return ElementRole::Inline;
}

ElementRole FictionBookRole(const std::u16string& name) {
    if (IsAny(name, {"title", "stanza"})) return ElementRole::Heading;
    if (IsAny(name, {"p", "v", "subtitle", "text-author", "date", "section", "poem", "epigraph", "cite", "table", "tr"}))
        return ElementRole::Block;
    if (Is(name, "empty-line")) return ElementRole::LineBreak;
    if (IsAny(name, {"td", "th"})) return ElementRole::Tab;
    if (IsAny(name, {"description", "binary", "stylesheet"})) return ElementRole::Skip;
    return ElementRole::Inline;
}

ElementRole WordRole(const std::u16string& name) {
    if (Is(name, "p")) return ElementRole::Block;
    if (Is(name, "t")) return ElementRole::TextHolder;
    if (Is(name, "tab")) return ElementRole::Tab;
    if (IsAny(name, {"br", "cr"})) return ElementRole::LineBreak;
    return ElementRole::Inline;
}

// ---- TextBuilder ----

void TextBuilder::OpenAs(const std::u16string& name, ElementRole role) {
    if (open_.size() >= MARKUP_MOST_DEPTH) return;  // deeper elements are only their text
    open_.push_back({name, role});
    switch (role) {
    case ElementRole::Skip: ++skipping_; break;
    case ElementRole::Title: ++titling_; break;
    case ElementRole::TextHolder: ++holding_; break;
    case ElementRole::Block: breaks_ = std::max(breaks_, 1); break;
    case ElementRole::Heading: breaks_ = std::max(breaks_, 2); break;
    case ElementRole::LineBreak:
        if (!skipping_ && !text_.empty()) breaks_ = std::min(breaks_ + 1, 2);
        break;
    case ElementRole::Tab:
        if (!skipping_ && !text_.empty() && breaks_ == 0) space_ = true;
        break;
    case ElementRole::Inline: break;
    }
}

void TextBuilder::Apply(ElementRole role) {
    switch (role) {
    case ElementRole::Skip: --skipping_; break;
    case ElementRole::Title:
        --titling_;
        titleDone_ = titleDone_ || !title_.empty();
        break;
    case ElementRole::TextHolder: --holding_; break;
    case ElementRole::Block: breaks_ = std::max(breaks_, 1); break;
    case ElementRole::Heading: breaks_ = std::max(breaks_, 2); break;
    default: break;
    }
}

void TextBuilder::Close(const std::u16string& name) {
    size_t at = open_.size();
    while (at > 0 && open_[at - 1].name != name) --at;
    if (at == 0) return;
    while (open_.size() >= at) {
        Apply(open_.back().role);
        open_.pop_back();
    }
}

// A run of units with no white space in it, after the line ends or the space owed before it.
void TextBuilder::Put(const char16_t* units, size_t count) {
    if (text_.size() + count + 4 > MARKUP_MOST_UNITS) {
        tooLong_ = true;
        return;
    }
    if (!text_.empty()) {
        for (int i = 0; i < breaks_; ++i) text_ += u"\r\n";
        if (breaks_ == 0 && space_) text_ += u' ';
    }
    breaks_ = 0;
    space_ = false;
    text_.append(units, count);
}

void TextBuilder::Text(const char16_t* text, size_t count) {
    if (titling_ > 0) {
        for (size_t i = 0; i < count && !titleDone_ && title_.size() < MOST_TITLE_UNITS; ++i) {
            if (IsSpace(text[i]) || IsDropped(text[i])) {
                if (!title_.empty() && title_.back() != u' ') title_ += u' ';
            } else {
                title_ += text[i];
            }
        }
        return;
    }
    if (skipping_ > 0 || (holdersOnly_ && holding_ == 0)) return;
    for (size_t i = 0; i < count && !tooLong_;) {
        if (IsSpace(text[i])) space_ = true;
        if (IsSpace(text[i]) || IsDropped(text[i])) {
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < count && !IsSpace(text[end]) && !IsDropped(text[end])) ++end;
        Put(text + i, end - i);
        i = end;
    }
}

void TextBuilder::EndDocument() {
    open_.clear();
    skipping_ = holding_ = titling_ = 0;
    breaks_ = std::max(breaks_, 2);
    space_ = false;
}

// ---- Entities ----

namespace {

struct NamedEntity {
    const char* name;
    char16_t unit;
};

const NamedEntity ENTITIES[] = {
    {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},     {"apos", u'\''},
    {"nbsp", 0xA0},     {"mdash", 0x2014},  {"ndash", 0x2013},  {"hellip", 0x2026}, {"lsquo", 0x2018},
    {"rsquo", 0x2019},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"sbquo", 0x201A},  {"bdquo", 0x201E},
    {"laquo", 0xAB},    {"raquo", 0xBB},    {"copy", 0xA9},     {"reg", 0xAE},      {"trade", 0x2122},
    {"shy", 0xAD},      {"middot", 0xB7},   {"bull", 0x2022},   {"deg", 0xB0},      {"eacute", 0xE9},
    {"egrave", 0xE8},   {"ecirc", 0xEA},    {"euml", 0xEB},     {"aacute", 0xE1},   {"agrave", 0xE0},
    {"acirc", 0xE2},    {"auml", 0xE4},     {"ccedil", 0xE7},   {"iacute", 0xED},   {"iuml", 0xEF},
    {"oacute", 0xF3},   {"ocirc", 0xF4},    {"ouml", 0xF6},     {"uacute", 0xFA},   {"ucirc", 0xFB},
    {"uuml", 0xFC},     {"ntilde", 0xF1},   {"szlig", 0xDF},    {"Auml", 0xC4},     {"Ouml", 0xD6},
    {"Uuml", 0xDC},     {"Eacute", 0xC9},   {"aelig", 0xE6},    {"oslash", 0xF8},   {"aring", 0xE5},
    {"times", 0xD7},    {"divide", 0xF7},   {"frac12", 0xBD},   {"frac14", 0xBC},   {"frac34", 0xBE},
    {"para", 0xB6},     {"sect", 0xA7},     {"prime", 0x2032},  {"Prime", 0x2033},  {"dagger", 0x2020},
    {"Dagger", 0x2021}, {"euro", 0x20AC},   {"pound", 0xA3},    {"yen", 0xA5},      {"cent", 0xA2},
    {"thinsp", 0x2009}, {"ensp", 0x2002},   {"emsp", 0x2003},   {"zwnj", 0x200C},   {"zwj", 0x200D},
    {"iexcl", 0xA1},    {"iquest", 0xBF},   {"ordm", 0xBA},     {"ordf", 0xAA},     {"micro", 0xB5},
};

void PutCodePoint(uint32_t code, std::u16string* out) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x10000) {
        *out += static_cast<char16_t>(code);
        return;
    }
    code -= 0x10000;
    *out += static_cast<char16_t>(0xD800 + (code >> 10));
    *out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
}

// A numeric reference after "&#": its length up to and with ';', or 0 when it is none.
size_t NumericReference(const char16_t* text, size_t count, uint32_t* code) {
    size_t i = 0;
    const bool hex = i < count && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    uint32_t value = 0;
    const size_t first = i;
    for (; i < count && i - first < 8; ++i) {
        const char16_t c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : -1;
        if (hex && digit < 0) digit = c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) break;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    }
    if (i == first || i >= count || text[i] != ';') return 0;
    *code = value;
    return i + 1;
}

// A named entity after "&": its length up to and with ';', or 0 when it is not known.
size_t NamedReference(const char16_t* text, size_t count, char16_t* unit) {
    size_t length = 0;
    while (length < count && length < 8 && IsLetter(text[length]) ) ++length;
    if (length == count || text[length] != ';') return 0;
    for (const NamedEntity& entity : ENTITIES) {
        if (std::strlen(entity.name) != length) continue;
        if (std::equal(text, text + length, entity.name)) {
            *unit = entity.unit;
            return length + 1;
        }
    }
    return 0;
}

}  // namespace

std::u16string DecodeEntities(const char16_t* text, size_t count) {
    std::u16string out;
    out.reserve(count);
    for (size_t i = 0; i < count;) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        uint32_t code = 0;
        char16_t unit = 0;
        size_t length = 0;
        if (i + 1 < count && text[i + 1] == '#') {
            length = NumericReference(text + i + 2, count - i - 2, &code);
            if (length) PutCodePoint(code, &out), length += 2;
        } else if ((length = NamedReference(text + i + 1, count - i - 1, &unit)) != 0) {
            out += unit;
            length += 1;
        }
        if (length == 0) out += text[i], length = 1;
        i += length;
    }
    return out;
}

// ---- Lenient HTML ----

namespace {

bool StartsWith(const char16_t* text, size_t count, const char* ascii, bool ignoreCase = false) {
    for (size_t i = 0; ascii[i]; ++i) {
        if (i >= count) return false;
        const char16_t c = ignoreCase ? LowerAscii(text[i]) : text[i];
        if (c != static_cast<char16_t>(ascii[i])) return false;
    }
    return true;
}

size_t Find(const char16_t* text, size_t count, size_t from, const char* ascii, bool ignoreCase = false) {
    for (size_t i = from; i < count; ++i)
        if (StartsWith(text + i, count - i, ascii, ignoreCase)) return i;
    return count;
}

bool IsVoid(const std::u16string& name) {
    return IsAny(name, {"br", "hr", "img", "meta", "link", "input", "area", "base", "col", "wbr", "source", "embed",
                        "param", "track", "keygen"});
}

// The lower-case local name that starts at text[*at]; *at moves past it.
std::u16string TagName(const char16_t* text, size_t count, size_t* at) {
    std::u16string name;
    for (; *at < count && IsNameUnit(text[*at]); ++*at) {
        if (text[*at] == ':') {
            name.clear();
            continue;
        }
        if (name.size() < 64) name += LowerAscii(text[*at]);
    }
    return name;
}

// From inside a tag to just past its '>' (quotes after '=' hide one); *selfClosing when it ends "/>".
size_t TagEnd(const char16_t* text, size_t count, size_t at, bool* selfClosing) {
    char16_t quote = 0, last = 0;
    for (; at < count; ++at) {
        const char16_t c = text[at];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if ((c == '"' || c == '\'') && last == '=') {
            quote = c;
        } else if (c == '>') {
            *selfClosing = last == '/';
            return at + 1;
        }
        if (!IsSpace(c)) last = c;
    }
    return count;
}

void PutText(const char16_t* text, size_t count, TextBuilder* builder) {
    if (count == 0) return;
    if (std::find(text, text + count, u'&') == text + count) return builder->Text(text, count);
    const std::u16string decoded = DecodeEntities(text, count);
    builder->Text(decoded.data(), decoded.size());
}

// Reads one construct that starts with '<' at text[at]; returns where the next one starts.
size_t ReadMarkup(const char16_t* text, size_t count, size_t at, TextBuilder* builder) {
    const char16_t* here = text + at;
    const size_t left = count - at;
    if (StartsWith(here, left, "<!--")) {
        const size_t end = Find(text, count, at + 4, "-->");
        return end == count ? count : end + 3;
    }
    if (StartsWith(here, left, "<![CDATA[")) {
        const size_t end = Find(text, count, at + 9, "]]>");
        builder->Text(text + at + 9, end - at - 9);
        return end == count ? count : end + 3;
    }
    bool selfClosing = false;
    if (left > 1 && (here[1] == '!' || here[1] == '?')) return TagEnd(text, count, at + 2, &selfClosing);
    if (left > 1 && here[1] == '/') {
        size_t after = at + 2;
        const std::u16string name = TagName(text, count, &after);
        if (!name.empty()) builder->Close(name);
        return TagEnd(text, count, after, &selfClosing);
    }
    if (left < 2 || !IsLetter(here[1])) {
        builder->Text(here, 1);  // a '<' that starts no tag is text
        return at + 1;
    }
    size_t after = at + 1;
    const std::u16string name = TagName(text, count, &after);
    const size_t end = TagEnd(text, count, after, &selfClosing);
    if (selfClosing || IsVoid(name)) {
        builder->Empty(name);
        return end;
    }
    builder->Open(name);
    if (IsAny(name, {"script", "style"})) {  // their text is no markup: it runs to their end tag
        std::string endTag = "</";
        for (char16_t c : name) endTag += static_cast<char>(c);
        return Find(text, count, end, endTag.c_str(), true);
    }
    return end;
}

}  // namespace

void ReadHtml(const char16_t* text, size_t count, TextBuilder* builder) {
    size_t at = 0;
    while (at < count && !builder->TooLong()) {
        if (text[at] == '<') {
            at = ReadMarkup(text, count, at, builder);
            continue;
        }
        const char16_t* next = std::find(text + at, text + count, u'<');
        const size_t end = next - text;
        PutText(text + at, end - at, builder);
        at = end;
    }
}

// ---- Charsets ----

namespace {

// The name that follows a key (charset, encoding) at `at` in lower-case text: after blanks, '=' and quotes.
std::string NameAfter(const std::string& head, size_t at) {
    while (at < head.size() && (head[at] == ' ' || head[at] == '=' || head[at] == '"' || head[at] == '\'')) ++at;
    std::string name;
    while (at < head.size() && name.size() < 40 && IsNameUnit(static_cast<unsigned char>(head[at]))) name += head[at++];
    return name;
}

}  // namespace

namespace {

enum class XmlPart { Text, Markup, Quoted, Comment, Cdata, Instruction };

bool StartsAt(const char16_t* text, size_t count, size_t at, const char* what) {
    for (size_t i = 0; what[i]; ++i)
        if (at + i >= count || text[at + i] != static_cast<char16_t>(what[i])) return false;
    return true;
}

// The part of the document that `text[at]` begins, given the part it is in, and how many characters
// of markup open it.
XmlPart PartAt(const char16_t* text, size_t count, size_t at, XmlPart part, char16_t* quote, size_t* opening) {
    *opening = 1;
    const char16_t c = text[at];
    switch (part) {
    case XmlPart::Text:
        if (StartsAt(text, count, at, "<!--")) return *opening = 4, XmlPart::Comment;
        if (StartsAt(text, count, at, "<![CDATA[")) return *opening = 9, XmlPart::Cdata;
        if (StartsAt(text, count, at, "<?")) return *opening = 2, XmlPart::Instruction;
        return c == u'<' ? XmlPart::Markup : XmlPart::Text;
    case XmlPart::Markup:
        if (c == u'"' || c == u'\'') return *quote = c, XmlPart::Quoted;
        return c == u'>' ? XmlPart::Text : XmlPart::Markup;
    case XmlPart::Quoted:
        return c == *quote ? XmlPart::Markup : XmlPart::Quoted;
    case XmlPart::Comment:
        if (StartsAt(text, count, at, "-->")) return *opening = 3, XmlPart::Text;
        return XmlPart::Comment;
    case XmlPart::Cdata:
        if (StartsAt(text, count, at, "]]>")) return *opening = 3, XmlPart::Text;
        return XmlPart::Cdata;
    case XmlPart::Instruction:
        if (StartsAt(text, count, at, "?>")) return *opening = 2, XmlPart::Text;
        return XmlPart::Instruction;
    }
    return part;
}

void AppendReference(uint32_t code, std::string* out) {
    char digits[8];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + code % 10);
    while ((code /= 10) != 0);
    *out += "&#";
    while (count > 0) *out += digits[--count];
    *out += ';';
}

}  // namespace

std::string XmlAsAscii(const char16_t* text, size_t count, bool surrogateReferences) {
    std::string out;
    out.reserve(count + count / 8);
    XmlPart part = XmlPart::Text;
    char16_t quote = u'"';
    for (size_t at = 0; at < count;) {
        size_t opening = 1;
        const XmlPart next = PartAt(text, count, at, part, &quote, &opening);
        if (next != part) {
            for (size_t i = 0; i < opening; ++i) out += static_cast<char>(text[at + i]);
            part = next;
            at += opening;
            continue;
        }
        uint32_t code = text[at++];
        if (code < 0x80) {
            out += static_cast<char>(code);
            continue;
        }
        uint32_t low = 0;  // the second unit of a pair
        if (code >= 0xD800 && code < 0xDC00 && at < count && text[at] >= 0xDC00 && text[at] < 0xE000) low = text[at++];
        if (low && !surrogateReferences) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00), low = 0;
        if (!low && code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone surrogate is no character
        switch (part) {
        case XmlPart::Text:
        case XmlPart::Quoted:
            AppendReference(code, &out);
            if (low) AppendReference(low, &out);
            break;
        case XmlPart::Cdata:
            out += "]]>";
            AppendReference(code, &out);
            if (low) AppendReference(low, &out);
            out += "<![CDATA[";
            break;
        case XmlPart::Markup: out += '_'; break;
        default: out += '?'; break;
        }
    }
    return out;
}

std::string FindXmlEncoding(const uint8_t* bytes, size_t size, size_t* declarationEnd) {
    *declarationEnd = 0;
    std::string head(reinterpret_cast<const char*>(bytes), std::min<size_t>(size, 512));
    if (head.compare(0, 5, "<?xml") != 0) return std::string();
    const size_t end = head.find("?>");
    if (end == std::string::npos) return std::string();
    *declarationEnd = end + 2;
    head.resize(end);
    for (char& c : head) c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
    const size_t at = head.find("encoding");
    return at == std::string::npos ? std::string() : NameAfter(head, at + 8);
}

std::string FindDeclaredCharset(const uint8_t* bytes, size_t size) {
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return "utf-8";
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return "utf-16le";
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return "utf-16be";
    std::string head(reinterpret_cast<const char*>(bytes), std::min<size_t>(size, 4096));
    for (char& c : head) c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
    const size_t at = head.find("charset");
    if (at != std::string::npos) return NameAfter(head, at + 7);
    size_t declarationEnd = 0;
    return FindXmlEncoding(bytes, size, &declarationEnd);
}

unsigned CodePageOfCharset(const std::string& charset) {
    static const struct {
        const char* name;
        unsigned codePage;
    } KNOWN[] = {
        {"utf-8", 65001},        {"utf8", 65001},          {"utf-16le", 1200},       {"utf-16", 1200},
        {"utf-16be", 1201},      {"windows-1250", 1250},   {"windows-1251", 1251},   {"windows-1252", 1252},
        {"windows-1253", 1253},  {"windows-1254", 1254},   {"windows-1255", 1255},   {"windows-1256", 1256},
        {"windows-1257", 1257},  {"windows-1258", 1258},   {"cp1251", 1251},         {"cp1252", 1252},
        {"iso-8859-1", 1252},    {"latin1", 1252},         {"us-ascii", 1252},       {"ascii", 1252},
        {"iso-8859-2", 28592},   {"iso-8859-5", 28595},    {"iso-8859-7", 28597},    {"iso-8859-15", 28605},
        {"koi8-r", 20866},       {"koi8-u", 21866},        {"ibm866", 866},          {"cp866", 866},
        {"shift_jis", 932},      {"gb2312", 936},          {"gbk", 936},             {"big5", 950},
        {"euc-kr", 949},         {"euc-jp", 20932},
    };
    for (const auto& known : KNOWN)
        if (charset == known.name) return known.codePage;
    return 0;
}
