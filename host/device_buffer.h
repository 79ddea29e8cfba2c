// The output device's buffer as a pure model: bytes written go in, the device plays them out with
// the clock, and only what has not been played yet takes room. Times are microseconds of a clock
// the caller supplies, so the model can be driven by a real clock or by a test.
#pragma once

#include <cstdint>

namespace host {

enum class DrainMode {
    Clock,    // plays speed × real time
    Instant,  // everything written is played at once
    Stalled,  // plays nothing (a device that hangs)
};

struct DeviceBuffer {
    int bytesPerSecond = 0;
    int blockAlign = 1;
    int64_t capacity = 0;  // bytes
    int64_t written = 0;   // bytes since the device was opened (or flushed)
    int64_t played = 0;
    bool paused = false;
    DrainMode mode = DrainMode::Clock;
    double speed = 1.0;
    int64_t lastUpdateUs = 0;
    double credit = 0;  // bytes the clock has granted but a whole frame has not used yet
};

// Opens the buffer empty at time nowUs, holding bufferMs of audio (whole frames, at least one).
void DeviceOpen(DeviceBuffer& buffer, int bytesPerSecond, int blockAlign, int bufferMs, int64_t nowUs);
// Moves the play position to time nowUs.
void DeviceAdvance(DeviceBuffer& buffer, int64_t nowUs);
void DeviceWrite(DeviceBuffer& buffer, int64_t bytes, int64_t nowUs);
void DeviceSetPaused(DeviceBuffer& buffer, bool paused, int64_t nowUs);
void DeviceSetDrain(DeviceBuffer& buffer, DrainMode mode, double speed, int64_t nowUs);
// Drops what is buffered and restarts both positions at ms.
void DeviceFlush(DeviceBuffer& buffer, int ms, int64_t nowUs);

int64_t DeviceBuffered(const DeviceBuffer& buffer);
// The time at which what is buffered now will have been played, if nothing more is written: with the
// Clock drain and not paused, the last update plus the time the clock needs for it; otherwise (the
// device plays everything at once, or nothing) the last update.
int64_t DevicePlaysOutAtUs(const DeviceBuffer& buffer);
int64_t DeviceFreeRoom(const DeviceBuffer& buffer);  // never negative
int BytesToMs(int64_t bytes, int bytesPerSecond);
int64_t MsToBytes(int ms, int bytesPerSecond, int blockAlign);  // whole frames

}  // namespace host
