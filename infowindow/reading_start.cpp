#include "infowindow/reading_start.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0xA0 || c == 0x3000; }
bool IsLineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }
bool IsTerminator(wchar_t c) { return c == L'.' || c == L'!' || c == L'?' || c == L';'; }
bool IsCloser(wchar_t c) {
    return c == L'"' || c == L'\'' || c == L')' || c == L']' || c == L'}' || c == 0x201D || c == 0x2019 || c == 0xBB;
}

bool StartsWith(const wchar_t* text, size_t at, size_t units, const wchar_t* prefix) {
    for (; *prefix; ++prefix, ++at)
        if (at >= units || text[at] != *prefix) return false;
    return true;
}

// Just past the markup that starts at `at` (its '<'), as the voices skip it: a comment ends only at
// "-->" and a processing instruction at "?>", whatever '>' they hold; any other tag at its '>'. The
// text's end when it is not closed.
size_t PastTag(const wchar_t* text, size_t at, size_t units) {
    const bool comment = StartsWith(text, at, units, L"<!--");
    const bool instruction = !comment && StartsWith(text, at, units, L"<?");
    const wchar_t* close = comment ? L"-->" : instruction ? L"?>" : L">";
    const size_t closeLength = wcslen(close);
    const size_t from = at + (comment ? 4 : instruction ? 2 : 1);
    if (from >= units) return units;
    const wchar_t* found = std::search(text + from, text + units, close, close + closeLength);
    return found == text + units ? units : static_cast<size_t>(found - text) + closeLength;
}

// One unit of what the voice reads: in markup an entity (&amp; &lt; &gt; &quot; &apos;, &#N; and
// &#xN; up to FFFF) is the one character it stands for, so its ';' ends no sentence; anything else,
// and an entity the voice does not know, is read as written.
struct Unit {
    wchar_t c;
    size_t length;
};

bool EntityValue(const std::wstring& name, wchar_t* value) {
    static const struct {
        const wchar_t* name;
        wchar_t value;
    } named[] = {{L"lt", L'<'}, {L"gt", L'>'}, {L"amp", L'&'}, {L"quot", L'"'}, {L"apos", L'\''}};
    for (const auto& entity : named)
        if (name == entity.name) return *value = entity.value, true;
    if (name.size() < 2 || name[0] != L'#') return false;
    const bool hex = name[1] == L'x' || name[1] == L'X';
    const size_t first = hex ? 2 : 1;
    if (first >= name.size()) return false;
    unsigned long number = 0;
    for (size_t at = first; at < name.size(); ++at) {
        const wchar_t d = name[at];
        if (!(hex ? std::iswxdigit(d) : std::iswdigit(d))) return false;
        number = number * (hex ? 16 : 10) + (std::iswdigit(d) ? d - L'0' : std::towlower(d) - L'a' + 10);
        if (number > 0xFFFF) return false;
    }
    *value = static_cast<wchar_t>(number);
    return true;
}

Unit UnitAt(const wchar_t* text, size_t at, size_t units, bool markup) {
    if (!markup || text[at] != L'&') return {text[at], 1};
    // A name of at most 9 units between '&' and ';'.
    for (size_t end = at + 1; end < units && end - at <= 10; ++end) {
        if (text[end] != L';') continue;
        wchar_t value = 0;
        if (EntityValue(std::wstring(text + at + 1, end - at - 1), &value)) return {value, end - at + 1};
        break;
    }
    return {text[at], 1};
}

// The first unit at or after `at` that is neither blank nor, in markup, inside a tag.
size_t SkipBlanks(const wchar_t* text, size_t at, size_t units, bool markup) {
    while (at < units) {
        if (markup && text[at] == L'<') {
            at = PastTag(text, at, units);
            continue;
        }
        const Unit unit = UnitAt(text, at, units, markup);
        if (!IsBlank(unit.c)) break;
        at += unit.length;
    }
    return at;
}

// Past the closing quotes and brackets (and, in markup, tags) after a terminator.
size_t SkipClosers(const wchar_t* text, size_t at, size_t units, bool markup) {
    while (at < units) {
        if (markup && text[at] == L'<') {
            at = PastTag(text, at, units);
            continue;
        }
        const Unit unit = UnitAt(text, at, units, markup);
        if (!IsCloser(unit.c)) break;
        at += unit.length;
    }
    return at;
}

// Just past the line end at `at`: LF, CR LF, CR CR LF (as some programs save a line break) or a lone
// CR. A run of CRs before an LF is one line end, as the voices take it.
size_t PastLineEnd(const wchar_t* text, size_t at, size_t units) {
    size_t next = at;
    while (next < units && text[next] == L'\r') ++next;
    return next < units && text[next] == L'\n' ? next + 1 : at + 1;
}

// Whether the line end at `at` is followed, across blanks only, by another: a blank line.
bool StartsBlankLine(const wchar_t* text, size_t at, size_t units) {
    size_t next = PastLineEnd(text, at, units);
    while (next < units && (text[next] == L' ' || text[next] == L'\t')) ++next;
    return next < units && IsLineEnd(text[next]);
}

// Where the sentence that starts at `start` ends: just past its terminator and closers, at its blank
// line, or at the text's end.
size_t SentenceEnd(const wchar_t* text, size_t start, size_t units, bool markup) {
    for (size_t at = start; at < units;) {
        if (markup && text[at] == L'<') {
            at = PastTag(text, at, units);
            continue;
        }
        const Unit unit = UnitAt(text, at, units, markup);
        if (IsTerminator(unit.c)) {
            const size_t end = SkipClosers(text, at + unit.length, units, markup);
            if (end >= units || IsBlank(UnitAt(text, end, units, markup).c)) return end;
            at = end;
        } else if (IsLineEnd(unit.c) && unit.length == 1 && StartsBlankLine(text, at, units)) {
            return at;
        } else {
            at += unit.length;
        }
    }
    return units;
}

bool IsNameEnd(wchar_t c) { return IsBlank(c) || c == L'/' || c == L'>'; }

std::wstring TagName(const wchar_t* tag, size_t length) {
    std::wstring name;
    for (size_t at = tag[1] == L'/' ? 2 : 1; at < length && !IsNameEnd(tag[at]); ++at)
        name += static_cast<wchar_t>(std::towlower(tag[at]));
    return name;
}

// Elements that change how the voice speaks: written empty, they hold until their enclosing element
// ends.
bool ChangesTheVoice(const std::wstring& name) {
    static const wchar_t* const names[] = {L"rate", L"volume", L"pitch", L"emph", L"spell", L"voice", L"lang"};
    for (const wchar_t* changing : names)
        if (name == changing) return true;
    return false;
}

using OpenElement = OpenElementTracker::Element;

// An end tag closes the latest element of its name and everything opened inside it, empty elements
// included.
void CloseElement(std::vector<OpenElement>& open, const std::wstring& name) {
    for (size_t at = open.size(); at-- > 0;) {
        if (open[at].empty || open[at].name != name) continue;
        open.resize(at);
        return;
    }
}

}  // namespace

size_t SentenceStartAt(const wchar_t* text, size_t units, size_t position, bool markup) {
    size_t found = 0;
    for (size_t start = SkipBlanks(text, 0, units, markup); start < units && start <= position;) {
        found = start;
        start = SkipBlanks(text, SentenceEnd(text, start, units, markup), units, markup);
    }
    return found;
}

// A tag not closed before `position` is left for the next move, which may see its end.
void OpenElementTracker::Advance(const wchar_t* text, size_t position) {
    while (at_ < position) {
        if (text[at_] != L'<') {
            ++at_;
            continue;
        }
        const size_t end = PastTag(text, at_, position);
        const size_t length = end - at_;
        const bool whole = length >= 2 && text[end - 1] == L'>';
        if (!whole && end >= position) return;
        const bool special = length >= 2 && (text[at_ + 1] == L'?' || text[at_ + 1] == L'!');
        const bool empty = whole && text[end - 2] == L'/';
        const std::wstring name = length >= 2 ? TagName(text + at_, length) : std::wstring();
        if (length >= 2 && text[at_ + 1] == L'/')
            CloseElement(open_, name);
        else if (whole && !special && (!empty || ChangesTheVoice(name)))
            open_.push_back({name, at_, length, empty});
        at_ = end;
    }
}

std::wstring OpenElementTracker::Prefix(const wchar_t* text) const {
    std::wstring prefix;
    for (const Element& element : open_) prefix.append(text + element.tag, element.length);
    return prefix;
}

std::wstring OpenElementsAt(const wchar_t* text, size_t position) {
    OpenElementTracker tracker;
    tracker.Advance(text, position);
    return tracker.Prefix(text);
}

ReadingStart ReadingStartAt(const wchar_t* text, size_t units, size_t position, bool markup) {
    ReadingStart start;
    start.from = SentenceStartAt(text, units, position < units ? position : units, markup);
    if (markup) start.prefix = OpenElementsAt(text, start.from);
    return start;
}

std::wstring SpeechFrom(const wchar_t* text, size_t units, const ReadingStart& start) {
    std::wstring speech;
    speech.reserve(start.prefix.size() + units - start.from);
    speech += start.prefix;
    speech.append(text + start.from, units - start.from);
    return speech;
}

// The control position p holds text position p + k, where k is the number of folded units among the
// first p + k text positions: the smallest k for which that count is k.
uint32_t TextPositionOf(const std::vector<uint32_t>& folded, uint32_t controlPosition) {
    size_t k = 0;
    while (k < folded.size() && folded[k] <= controlPosition + k) ++k;
    return controlPosition + static_cast<uint32_t>(k);
}

namespace {

// The last blank at or before `limit` outside a tag, past `from`; `from` when there is none.
size_t LastBlankBefore(const wchar_t* text, size_t from, size_t limit, bool markup) {
    size_t found = from;
    bool inTag = false;
    for (size_t at = from; at < limit; ++at) {
        if (markup && text[at] == L'<') inTag = true;
        if (!inTag && IsBlank(text[at])) found = at + 1;
        if (markup && text[at] == L'>') inTag = false;
    }
    return found;
}

// Never between the halves of a surrogate pair or inside a line end.
size_t WholeCharacterEnd(const wchar_t* text, size_t end, size_t from) {
    while (end > from + 1 && ((text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) || text[end - 1] == L'\r'))
        --end;
    return end;
}

}  // namespace

size_t SpeechPieceEnd(const wchar_t* text, size_t from, size_t available, bool whole, size_t atLeast,
                      size_t atMost, bool markup) {
    if (from >= available) return from;
    if (whole && available - from <= atMost) return available;
    size_t end = from;
    for (size_t start = SkipBlanks(text, from, available, markup); start < available;) {
        const size_t sentenceEnd = SentenceEnd(text, start, available, markup);
        const size_t next = SkipBlanks(text, sentenceEnd, available, markup);
        if (next >= available && !whole) break;  // not known to end yet
        if (next - from > atMost) break;
        end = next;
        if (end - from >= atLeast || end >= available) return end;
        start = next;
    }
    if (end > from) return end;
    const size_t limit = from + atMost;
    if (available <= limit) return from;  // a sentence not known to end, within the limit: wait
    // No sentence ends within atMost units: a blank, or else any unit, ends the piece.
    const size_t blank = LastBlankBefore(text, from, limit, markup);
    return blank > from ? blank : WholeCharacterEnd(text, limit, from);
}
