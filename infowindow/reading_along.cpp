#include "infowindow/reading_along.h"

#include <algorithm>

void SpeechFollower::Start(uint32_t stream, uint32_t bytesPerSecond) {
    *this = SpeechFollower();
    stream_ = stream;
    bytesPerSecond_ = bytesPerSecond;
}

void SpeechFollower::Add(const SpokenBoundary& boundary) {
    if (boundary.stream != stream_ || stream_ == 0) return;
    std::deque<SpokenBoundary>& kept = boundary.sentence ? sentences_ : words_;
    // Kept for a clock nobody reads (no window): the oldest go first.
    if (kept.size() >= MAX_KEPT_BOUNDARIES) kept.pop_front();
    kept.push_back(boundary);
}

uint64_t SpeechFollower::StartMs(const SpokenBoundary& boundary) const {
    return bytesPerSecond_ ? boundary.audioOffset * 1000 / bytesPerSecond_ : 0;
}

bool SpeechFollower::HeardAt(long outputMs, TextSpan* span) {
    if (!sentences_.empty()) followsSentences_ = true;
    if (followsSentences_) words_.clear();
    std::deque<SpokenBoundary>& followed = followsSentences_ ? sentences_ : words_;
    bool reached = false;
    SpokenBoundary last = {};
    while (outputMs >= 0 && !followed.empty() && StartMs(followed.front()) <= static_cast<uint64_t>(outputMs)) {
        last = followed.front();
        followed.pop_front();
        reached = true;
    }
    if (!reached) return false;
    const TextSpan heard = {last.position, last.length};
    if (heard_ && heard.position == current_.position && heard.length == current_.length) return false;
    heard_ = true;
    current_ = heard;
    *span = heard;
    return true;
}

size_t LineEndUnits(const char16_t* text, size_t at, size_t units) {
    if (text[at] == u'\n') return 1;
    if (text[at] != u'\r') return 0;
    if (at + 2 < units && text[at + 1] == u'\r' && text[at + 2] == u'\n') return 3;
    if (at + 1 < units && text[at + 1] == u'\n') return 2;
    return 1;
}

std::vector<uint32_t> FindFoldedUnits(const char16_t* text, size_t units) {
    std::vector<uint32_t> folded;
    for (size_t i = 0; i < units;) {
        const size_t length = LineEndUnits(text, i, units);
        for (size_t unit = 1; unit < length; ++unit) folded.push_back(static_cast<uint32_t>(i + unit));
        i += length ? length : 1;
    }
    return folded;
}

uint32_t ControlPosition(const std::vector<uint32_t>& folded, uint32_t textPosition) {
    const auto upTo = std::upper_bound(folded.begin(), folded.end(), textPosition);
    return textPosition - static_cast<uint32_t>(upTo - folded.begin());
}

TextSpan ControlSpan(const std::vector<uint32_t>& folded, TextSpan textSpan) {
    const uint32_t start = ControlPosition(folded, textSpan.position);
    const uint32_t end = ControlPosition(folded, textSpan.position + textSpan.length);
    return {start, end - start};
}

// A line end is read from the left, so only one that starts one or two units before `at` can reach
// past it.
bool SplitsCharacter(const char16_t* text, size_t at, size_t units) {
    if (at == 0 || at >= units) return false;
    if (text[at - 1] >= 0xD800 && text[at - 1] <= 0xDBFF) return true;
    if (LineEndUnits(text, at - 1, units) > 1) return true;
    return at >= 2 && LineEndUnits(text, at - 2, units) == 3;
}

size_t NextSliceEnd(const char16_t* text, size_t start, size_t units, size_t sliceUnits) {
    if (units - start <= sliceUnits) return units;
    size_t end = start + sliceUnits;
    for (size_t at = end; at > start + sliceUnits / 2; --at) {
        if (text[at - 1] == u'\n') return at;
    }
    while (end > start + 1 && SplitsCharacter(text, end, units)) --end;
    return end;
}

void DisplayBreaks::Scan(const char16_t* text, size_t units) {
    for (; scanned_ + 1 < units; ++scanned_) {
        const char16_t unit = text[scanned_];
        const char16_t next = text[scanned_ + 1];
        if (unit == u'\r' || unit == u'\n') {
            run_ = 0;
        } else if (run_ >= lineUnits_ && (unit == u' ' || unit == u'\t') && next != u'\r' && next != u'\n') {
            positions_.push_back(static_cast<uint32_t>(scanned_));
            run_ = 0;
        } else {
            ++run_;
        }
    }
}

bool DisplayBreaks::At(size_t position) const {
    return std::binary_search(positions_.begin(), positions_.end(), static_cast<uint32_t>(position));
}

size_t DisplayBreaks::LastBefore(size_t position) const {
    const auto after = std::lower_bound(positions_.begin(), positions_.end(), static_cast<uint32_t>(position));
    return after == positions_.begin() ? NONE : *(after - 1);
}

size_t DisplayBreaks::FirstFrom(size_t position) const {
    const auto at = std::lower_bound(positions_.begin(), positions_.end(), static_cast<uint32_t>(position));
    return at == positions_.end() ? NONE : *at;
}

std::wstring DisplayBreaks::Shown(const wchar_t* piece, size_t start, size_t units) const {
    std::wstring shown(piece, units);
    auto at = std::lower_bound(positions_.begin(), positions_.end(), static_cast<uint32_t>(start));
    for (; at != positions_.end() && *at < start + units; ++at) shown[*at - start] = L'\r';
    return shown;
}
