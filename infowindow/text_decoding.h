// How much of a text the Text info window shows. No platform calls here.
#pragma once

#include <cstddef>
#include <cstdint>

// The most code units the Text info window shows of a text: a whole book (the longest novels are
// about 3.5 million characters), well below the tens of megabytes that exhaust the control.
constexpr size_t MAX_SHOWN_TEXT_UNITS = size_t{1} << 23;

// Ends a NUL-terminated text after at most limit code units, never between the two halves of a
// surrogate pair. Returns the units kept. Reads no further than the unit at limit.
size_t LimitShownText(char16_t* text, size_t limit);

// The units shown of a text of `units` units: at most `limit`, never ending between the halves of a
// surrogate pair.
size_t ShownUnitsOf(const char16_t* text, size_t units, size_t limit);

// Where the text known so far (`units` of it, more to come) can be shown up to: after its last line
// end that nothing still to come can change (a CR may be followed by the LF of its CR LF), so a
// paragraph goes into the control whole. `from` when there is no such line end after it.
size_t KnownLinesEnd(const char16_t* text, size_t from, size_t units);
