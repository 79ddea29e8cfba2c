#include "infowindow/reading_start.h"

#include <algorithm>
#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0xA0 || c == 0x3000; }
bool IsLineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }
bool IsTerminator(wchar_t c) { return c == L'.' || c == L'!' || c == L'?' || c == L';'; }
bool IsCloser(wchar_t c) {
    return c == L'"' || c == L'\'' || c == L')' || c == L']' || c == L'}' || c == 0x201D || c == 0x2019 || c == 0xBB;
}

// Just past the tag that starts at `at` (its '>'), or the text's end when it is not closed.
size_t PastTag(const wchar_t* text, size_t at, size_t units) {
    while (at < units && text[at] != L'>') ++at;
    return at < units ? at + 1 : units;
}

// The first unit at or after `at` that is neither blank nor, in markup, inside a tag.
size_t SkipBlanks(const wchar_t* text, size_t at, size_t units, bool markup) {
    while (at < units) {
        if (markup && text[at] == L'<')
            at = PastTag(text, at, units);
        else if (IsBlank(text[at]))
            ++at;
        else
            break;
    }
    return at;
}

// Past the closing quotes and brackets (and, in markup, tags) after a terminator.
size_t SkipClosers(const wchar_t* text, size_t at, size_t units, bool markup) {
    while (at < units) {
        if (markup && text[at] == L'<')
            at = PastTag(text, at, units);
        else if (IsCloser(text[at]))
            ++at;
        else
            break;
    }
    return at;
}

// Whether the line end at `at` is followed, across blanks only, by another: a blank line.
bool StartsBlankLine(const wchar_t* text, size_t at, size_t units) {
    size_t next = at + 1;
    if (text[at] == L'\r' && next < units && text[next] == L'\n') ++next;
    while (next < units && (text[next] == L' ' || text[next] == L'\t')) ++next;
    return next < units && IsLineEnd(text[next]);
}

// Where the sentence that starts at `start` ends: just past its terminator and closers, at its blank
// line, or at the text's end.
size_t SentenceEnd(const wchar_t* text, size_t start, size_t units, bool markup) {
    for (size_t at = start; at < units;) {
        const wchar_t c = text[at];
        if (markup && c == L'<') {
            at = PastTag(text, at, units);
        } else if (IsTerminator(c)) {
            const size_t end = SkipClosers(text, at + 1, units, markup);
            if (end >= units || IsBlank(text[end])) return end;
            at = end;
        } else if (IsLineEnd(c) && StartsBlankLine(text, at, units)) {
            return at;
        } else {
            ++at;
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

struct OpenElement {
    std::wstring name;
    size_t tag;
    size_t length;
};

// An end tag closes the latest element of its name and every element opened inside it.
void CloseElement(std::vector<OpenElement>& open, const std::wstring& name) {
    for (size_t at = open.size(); at-- > 0;) {
        if (open[at].name != name) continue;
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

std::wstring OpenElementsAt(const wchar_t* text, size_t position) {
    std::vector<OpenElement> open;
    for (size_t at = 0; at < position;) {
        if (text[at] != L'<') {
            ++at;
            continue;
        }
        if (position - at >= 4 && std::wstring(text + at, 4) == L"<!--") {
            const wchar_t close[] = L"-->";
            at = std::search(text + at + 4, text + position, close, close + 3) - text + 3;
            continue;
        }
        const size_t end = PastTag(text, at, position);
        const size_t length = end - at;
        const bool selfClosing = length >= 2 && text[end - 2] == L'/' && text[end - 1] == L'>';
        if (length >= 2 && text[at + 1] == L'/')
            CloseElement(open, TagName(text + at, length));
        else if (length >= 2 && text[at + 1] != L'?' && text[at + 1] != L'!' && !selfClosing && text[end - 1] == L'>')
            open.push_back({TagName(text + at, length), at, length});
        at = end;
    }
    std::wstring prefix;
    for (const OpenElement& element : open) prefix.append(text + element.tag, element.length);
    return prefix;
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
