// Where speech starts again inside a text ("Read from here", a remembered place), and what the voice
// is given from there. No platform calls here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The start of the sentence that holds `position`: sentences end after . ! ? or ; (and the closing
// quotes or brackets after it) before a blank, or at a blank line (CR CR LF is one line end, as CR LF
// is), and start at their first non-blank unit, as the voices report them. In markup, tags are
// neither blanks nor text (a comment ends at "-->", a processing instruction at "?>"), and an entity
// is the character it stands for: the ';' of "&amp;" ends nothing. A sentence starts at its first
// character of text, after the tags before it. Before the first sentence: 0.
size_t SentenceStartAt(const wchar_t* text, size_t units, size_t position, bool markup);

// The start tags of the elements open at `position` of speech markup, in the order they were opened
// and as they were written: given first, they make the markup from `position` on sound as it would
// there. An empty element that changes the voice (<rate/>, <volume/>, <pitch/>, <emph/>, <spell/>,
// <voice/>, <lang/>) holds until its enclosing element ends, and is given again in its place; other
// empty elements, end tags, comments, processing instructions and declarations open nothing. An end
// tag closes the latest element of its name (letter case ignored), and all opened inside it.
std::wstring OpenElementsAt(const wchar_t* text, size_t position);

// The same found going forward, for a text given to the voice in pieces: each move goes on from the
// place the last one reached, so the text is read once.
class OpenElementTracker {
public:
    // Moves to `position`, at or after the last one, taking the tags on the way.
    void Advance(const wchar_t* text, size_t position);
    // The start tags of the elements open there.
    std::wstring Prefix(const wchar_t* text) const;

    struct Element {
        std::wstring name;
        size_t tag;
        size_t length;
        bool empty;  // an empty element that changes the voice, in force until its enclosing element ends
    };

private:
    std::vector<Element> open_;
    size_t at_ = 0;
};

// What the voice is given to read a text from a place: the text from `from` on, after `prefix`.
struct ReadingStart {
    size_t from = 0;
    std::wstring prefix;
    // A position in what the voice is given lies this far further in the text.
    int64_t Shift() const { return static_cast<int64_t>(from) - static_cast<int64_t>(prefix.size()); }
};
ReadingStart ReadingStartAt(const wchar_t* text, size_t units, size_t position, bool markup);
// prefix + text[from, units).
std::wstring SpeechFrom(const wchar_t* text, size_t units, const ReadingStart& start);

// The position in the text of a position in a control that folds the units `folded` (FindFoldedUnits)
// into the line ends before them: the inverse of ControlPosition.
uint32_t TextPositionOf(const std::vector<uint32_t>& folded, uint32_t controlPosition);

// Where a piece of speech that starts at `from` ends, when a text is given to the voice in pieces:
// at the start of a sentence, once the piece holds at least `atLeast` units, at most `atMost` when a
// sentence allows it (else at the last blank outside a tag before that, else there). Only the first
// `available` units are known yet; unless `whole`, a sentence is known to end only when the unit
// after its end is known, so a piece never ends at `available`. Returns `from` when no piece can be
// cut yet.
size_t SpeechPieceEnd(const wchar_t* text, size_t from, size_t available, bool whole, size_t atLeast,
                      size_t atMost, bool markup);
