// How long a text takes to speak, estimated from its length and the voice's rate before anything is
// heard, and from the pace measured in this file as its sentences are heard; and where in the text a
// time on the player's clock falls. No platform calls here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

// Text units a voice speaks in a second at rate 0, before any is heard: prose at about 180 words a
// minute (espeak-ng's English voice speaks 18.6 a second, the usual SAPI voices 15 to 18). A SAPI
// rate of 10 speaks about three times as fast, -10 about a third as fast.
constexpr double DEFAULT_UNITS_PER_SECOND = 17.0;
double RateSpeedFactor(long rate);

// Milliseconds of speech for a text of `units` units at `rate`, before any of it is heard.
int64_t EstimatedSpeechMs(uint64_t units, long rate);

// The units a file of `bytes` bytes holds, judged from its size and encoding mark alone: UTF-16
// (either order) two bytes a unit, anything else about one.
uint64_t EstimatedUnits(uint64_t bytes, const uint8_t* start, size_t startBytes);

class SpokenLength {
public:
    SpokenLength() = default;
    SpokenLength(uint64_t units, long rate) : units_(units), rate_(rate) {}

    // The text's units, once more of it is known.
    void SetUnits(uint64_t units) { units_ = units; }
    // A sentence that starts at `position` began to sound at `ms` on the player's clock.
    void Heard(uint64_t position, int64_t ms);
    // Forgets what was heard from `position` on (a new speech from there, whose times come anew).
    void ForgetFrom(uint64_t position);

    // Units a second: measured once at least MIN_MEASURED_MS of speech was heard, else the default at
    // the rate.
    double UnitsPerSecond() const;
    // The time of a position: exact at a heard sentence, between two heard ones in proportion, past
    // the last heard one at the pace.
    int64_t TimeOf(uint64_t position) const;
    // The position whose time holds `ms`.
    uint64_t PositionAt(int64_t ms) const;
    // The whole text's length.
    int64_t LengthMs() const { return TimeOf(units_); }

    static constexpr int64_t MIN_MEASURED_MS = 3000;
    static constexpr size_t MAX_KEPT = 1u << 18;  // sentences; a long book has about a hundred thousand

private:
    uint64_t units_ = 0;
    long rate_ = 0;
    std::map<uint64_t, int64_t> heard_;  // sentence start -> its time
};

// What the player is shown of a length: never below what has played, and, once more than
// STEADY_AFTER_MS has played, moving at most MAX_CHANGE of itself per second (of nowMs, the player's
// clock) toward the estimate, so the display converges without jumps.
class ShownLength {
public:
    int Next(int64_t estimateMs, int64_t playedMs, int64_t nowMs);
    void Reset() { shown_ = -1; }

    static constexpr int64_t STEADY_AFTER_MS = 10000;
    static constexpr double MAX_CHANGE = 0.05;

private:
    int64_t shown_ = -1;
    int64_t lastMs_ = 0;
};
