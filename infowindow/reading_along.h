// Reading along in the Text info window: which part of the text is being heard, given the boundaries
// the voice reports and the time the output has played; where a text position lies in the control;
// and how a long text is cut into pieces for the control. No platform calls here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// A sentence or word the voice has reached: its position and length in the text it was given (UTF-16
// units), and the byte offset of its first sound in the voice's audio stream.
struct SpokenBoundary {
    uint32_t stream;
    uint64_t audioOffset;
    uint32_t position;
    uint32_t length;
    bool sentence;  // false: a word
};

struct TextSpan {
    uint32_t position;
    uint32_t length;
};

// The boundaries of the file being played, in the order the voice reports them, and the span being
// heard: the last sentence whose sound the output has begun to play, or, from a voice that reports
// no sentences, the last such word. At most MAX_KEPT_BOUNDARIES of a kind wait to be heard.
constexpr size_t MAX_KEPT_BOUNDARIES = 4096;
class SpeechFollower {
public:
    // A new file: the stream Speak handed back for it, and the bytes per second of its audio.
    void Start(uint32_t stream, uint32_t bytesPerSecond);
    // Keeps a boundary of the file's stream; those of other streams (earlier files) are dropped.
    void Add(const SpokenBoundary& boundary);
    // The span heard once outputMs of the file has played, when it is not the one returned last.
    bool HeardAt(long outputMs, TextSpan* span);

private:
    uint64_t StartMs(const SpokenBoundary& boundary) const;

    uint32_t stream_ = 0;
    uint32_t bytesPerSecond_ = 0;
    std::deque<SpokenBoundary> sentences_, words_;
    bool followsSentences_ = false;  // the voice reports sentences: its words are not followed
    bool heard_ = false;
    TextSpan current_ = {0, 0};
};

// A Rich Edit control keeps every line end as one character: CR LF, CR CR LF (a text converted to CR LF
// twice), a lone CR and a lone LF. Read from the left, "\r\r\n" is one line end, "\r\n" another, and
// any other CR or LF one more. The units the control folds away are the LF of a CR LF and the CR LF
// that ends a CR CR LF: their positions in the text, in order. A position in the text lies that many
// folded units earlier in the control, and a position inside a line end lies on its one character.
std::vector<uint32_t> FindFoldedUnits(const char16_t* text, size_t units);
uint32_t ControlPosition(const std::vector<uint32_t>& folded, uint32_t textPosition);
TextSpan ControlSpan(const std::vector<uint32_t>& folded, TextSpan textSpan);

// Units of the line end that starts at `at`: 3, 2, 1, or 0 when none starts there.
size_t LineEndUnits(const char16_t* text, size_t at, size_t units);
// True when text could not be cut before `at` without splitting a line end or a surrogate pair: given
// in two pieces, the control would hold another text than given whole.
bool SplitsCharacter(const char16_t* text, size_t at, size_t units);

// Where the piece of a text that starts at `start` ends when the text is given to the control at most
// `sliceUnits` units at a time: after the last line break in the piece's second half if it has one,
// and never inside a line end or a surrogate pair. Always past `start` while units are
// left.
size_t NextSliceEnd(const char16_t* text, size_t start, size_t units, size_t sliceUnits);

// A paragraph longer than a few thousand characters is shown as several lines: the control lays a
// paragraph out whole on every change to it (about 2 ms a KB under Wine), and commits far more memory
// for one long paragraph than for the same text in lines. The first blank (space or tab) after every
// `lineUnits` units of a paragraph is shown as a lone CR, which the control keeps as one character:
// no position moves, and only what the control is given changes. A blank just before a CR or an LF
// stays one: the control would take the two for one line end.
class DisplayBreaks {
public:
    static constexpr size_t NONE = SIZE_MAX;
    explicit DisplayBreaks(size_t lineUnits) : lineUnits_(lineUnits) {}
    // Finds the breaks among the first `units` units (all known; more may follow). The last unit is
    // decided once the one after it is known.
    void Scan(const char16_t* text, size_t units);
    bool At(size_t position) const;
    // The last break before `position`, or NONE.
    size_t LastBefore(size_t position) const;
    // The first break at or after `position`, or NONE.
    size_t FirstFrom(size_t position) const;
    // The piece of the text that starts at `start`, as the control is given it.
    std::wstring Shown(const wchar_t* piece, size_t start, size_t units) const;
    bool Empty() const { return positions_.empty(); }

private:
    size_t lineUnits_;
    size_t scanned_ = 0;
    size_t run_ = 0;  // units since the last line end or break
    std::vector<uint32_t> positions_;
};
