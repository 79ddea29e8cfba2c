#include "playback/spoken_length.h"

#include <algorithm>
#include <cmath>

double RateSpeedFactor(long rate) {
    if (rate < -10) rate = -10;
    if (rate > 10) rate = 10;
    return std::pow(3.0, static_cast<double>(rate) / 10.0);
}

int64_t EstimatedSpeechMs(uint64_t units, long rate) {
    return static_cast<int64_t>(static_cast<double>(units) * 1000.0 / (DEFAULT_UNITS_PER_SECOND * RateSpeedFactor(rate)));
}

uint64_t EstimatedUnits(uint64_t bytes, const uint8_t* start, size_t startBytes) {
    const bool utf16 = startBytes >= 2 && ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF));
    return utf16 ? bytes / 2 : bytes;
}

void SpokenLength::Heard(uint64_t position, int64_t ms) {
    if (heard_.size() >= MAX_KEPT) heard_.erase(heard_.begin());
    heard_[position] = ms;
}

void SpokenLength::ForgetFrom(uint64_t position) { heard_.erase(heard_.lower_bound(position), heard_.end()); }

double SpokenLength::UnitsPerSecond() const {
    const double fallback = DEFAULT_UNITS_PER_SECOND * RateSpeedFactor(rate_);
    if (heard_.size() < 2) return fallback;
    const auto first = heard_.begin();
    const auto last = std::prev(heard_.end());
    const int64_t ms = last->second - first->second;
    if (ms < MIN_MEASURED_MS || last->first <= first->first) return fallback;
    return static_cast<double>(last->first - first->first) * 1000.0 / static_cast<double>(ms);
}

int64_t SpokenLength::TimeOf(uint64_t position) const {
    const double pace = UnitsPerSecond();
    const auto after = heard_.lower_bound(position);
    if (after != heard_.end() && after->first == position) return after->second;
    if (after == heard_.begin()) {
        // Before the first heard sentence: back from it at the pace, or from the start.
        if (after == heard_.end()) return static_cast<int64_t>(static_cast<double>(position) * 1000.0 / pace);
        const double back = static_cast<double>(after->first - position) * 1000.0 / pace;
        return std::max<int64_t>(0, after->second - static_cast<int64_t>(back));
    }
    const auto before = std::prev(after);
    if (after == heard_.end())
        return before->second + static_cast<int64_t>(static_cast<double>(position - before->first) * 1000.0 / pace);
    const double share = static_cast<double>(position - before->first) / static_cast<double>(after->first - before->first);
    return before->second + static_cast<int64_t>(share * static_cast<double>(after->second - before->second));
}

uint64_t SpokenLength::PositionAt(int64_t ms) const {
    if (ms <= 0) return 0;
    const double pace = UnitsPerSecond();
    // The last heard sentence that starts by `ms`: from it at the pace, or between it and the next.
    const auto* before = static_cast<const std::pair<const uint64_t, int64_t>*>(nullptr);
    const std::pair<const uint64_t, int64_t>* after = nullptr;
    for (const auto& sentence : heard_) {
        if (sentence.second <= ms) {
            before = &sentence;
        } else {
            after = &sentence;
            break;
        }
    }
    uint64_t position;
    if (!before) {
        position = static_cast<uint64_t>(static_cast<double>(ms) * pace / 1000.0);
        if (after && position > after->first) position = after->first;
    } else if (after && after->second > before->second) {
        const double share = static_cast<double>(ms - before->second) / static_cast<double>(after->second - before->second);
        position = before->first + static_cast<uint64_t>(share * static_cast<double>(after->first - before->first));
    } else {
        position = before->first + static_cast<uint64_t>(static_cast<double>(ms - before->second) * pace / 1000.0);
    }
    return std::min(position, units_);
}

int ShownLength::Next(int64_t estimateMs, int64_t playedMs, int64_t nowMs) {
    int64_t target = std::max(estimateMs, playedMs);
    if (nowMs < lastMs_) lastMs_ = nowMs;  // the clock went back (a seek): measure from here
    if (shown_ >= 0 && playedMs > STEADY_AFTER_MS) {
        const double seconds = std::max<double>(0.0, static_cast<double>(nowMs - lastMs_) / 1000.0);
        const int64_t step = static_cast<int64_t>(static_cast<double>(shown_) * MAX_CHANGE * seconds);
        target = std::min(std::max(target, shown_ - step), shown_ + step);
        target = std::max(target, playedMs);
    }
    shown_ = target;
    lastMs_ = nowMs;
    return static_cast<int>(std::min<int64_t>(target, 0x7FFFFFFF));
}
