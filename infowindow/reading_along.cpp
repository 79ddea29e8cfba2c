#include "infowindow/reading_along.h"

#include <algorithm>

void SpeechFollower::Start(uint32_t stream, uint32_t bytesPerSecond) {
    *this = SpeechFollower();
    stream_ = stream;
    bytesPerSecond_ = bytesPerSecond;
}

void SpeechFollower::Add(const SpokenBoundary& boundary) {
    if (boundary.stream != stream_ || stream_ == 0) return;
    (boundary.sentence ? sentences_ : words_).push_back(boundary);
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

std::vector<uint32_t> FindCrLfPairs(const char16_t* text, size_t units) {
    std::vector<uint32_t> pairs;
    for (size_t i = 0; i + 1 < units; ++i)
        if (text[i] == u'\r' && text[i + 1] == u'\n') pairs.push_back(static_cast<uint32_t>(i++));
    return pairs;
}

// A position inside a pair (on its LF) lies on the pair's one character.
uint32_t ControlPosition(const std::vector<uint32_t>& crLfPairs, uint32_t textPosition) {
    const auto before = std::lower_bound(crLfPairs.begin(), crLfPairs.end(), textPosition);
    return textPosition - static_cast<uint32_t>(before - crLfPairs.begin());
}

TextSpan ControlSpan(const std::vector<uint32_t>& crLfPairs, TextSpan textSpan) {
    const uint32_t start = ControlPosition(crLfPairs, textSpan.position);
    const uint32_t end = ControlPosition(crLfPairs, textSpan.position + textSpan.length);
    return {start, end - start};
}

size_t NextSliceEnd(const char16_t* text, size_t start, size_t units, size_t sliceUnits) {
    if (units - start <= sliceUnits) return units;
    size_t end = start + sliceUnits;
    for (size_t at = end; at > start + sliceUnits / 2; --at) {
        if (text[at - 1] == u'\n') return at;
    }
    if (text[end - 1] == u'\r' && text[end] == u'\n') --end;
    if (text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    return end > start ? end : start + 1;
}
