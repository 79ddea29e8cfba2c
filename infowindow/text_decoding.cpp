#include "infowindow/text_decoding.h"

namespace {
bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
}  // namespace

size_t LimitShownText(char16_t* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != u'\0') ++length;
    if (length < limit || text[length] == u'\0') return length;
    if (length > 0 && IsHighSurrogate(text[length - 1])) --length;
    text[length] = u'\0';
    return length;
}

size_t ShownUnitsOf(const char16_t* text, size_t units, size_t limit) {
    if (units <= limit) return units;
    return limit > 0 && IsHighSurrogate(text[limit - 1]) ? limit - 1 : limit;
}

// An LF ends its line end for good; a CR does once the unit after it is known to be neither CR nor LF.
size_t KnownLinesEnd(const char16_t* text, size_t from, size_t units) {
    for (size_t at = units; at > from; --at) {
        const char16_t unit = text[at - 1];
        if (unit == u'\n') return at;
        if (unit == u'\r' && at < units && text[at] != u'\r' && text[at] != u'\n') return at;
    }
    return from;
}
