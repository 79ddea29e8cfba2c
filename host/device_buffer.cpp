#include "host/device_buffer.h"

#include <algorithm>

namespace host {

int BytesToMs(int64_t bytes, int bytesPerSecond) {
    if (bytesPerSecond <= 0) return 0;
    return static_cast<int>(bytes * 1000 / bytesPerSecond);
}

int64_t MsToBytes(int ms, int bytesPerSecond, int blockAlign) {
    const int64_t bytes = static_cast<int64_t>(ms) * bytesPerSecond / 1000;
    return blockAlign > 0 ? bytes / blockAlign * blockAlign : bytes;
}

void DeviceOpen(DeviceBuffer& buffer, int bytesPerSecond, int blockAlign, int bufferMs, int64_t nowUs) {
    const DrainMode mode = buffer.mode;
    const double speed = buffer.speed;
    buffer = DeviceBuffer{};
    buffer.mode = mode;
    buffer.speed = speed;
    buffer.bytesPerSecond = bytesPerSecond;
    buffer.blockAlign = std::max(1, blockAlign);
    buffer.capacity = std::max<int64_t>(buffer.blockAlign, MsToBytes(bufferMs, bytesPerSecond, buffer.blockAlign));
    buffer.lastUpdateUs = nowUs;
}

int64_t DeviceBuffered(const DeviceBuffer& buffer) { return buffer.written - buffer.played; }

int64_t DevicePlaysOutAtUs(const DeviceBuffer& buffer) {
    const int64_t buffered = DeviceBuffered(buffer);
    if (buffer.mode != DrainMode::Clock || buffer.paused || buffered <= 0 || buffer.speed <= 0 ||
        buffer.bytesPerSecond <= 0)
        return buffer.lastUpdateUs;
    // DeviceAdvance plays the rest once the credit covers it; whole microseconds, rounded up.
    const double owed = static_cast<double>(buffered) - buffer.credit;
    const double us = owed * 1e6 / (buffer.speed * buffer.bytesPerSecond);
    const int64_t whole = static_cast<int64_t>(us);
    return buffer.lastUpdateUs + (static_cast<double>(whole) < us ? whole + 1 : whole);
}

int64_t DeviceFreeRoom(const DeviceBuffer& buffer) {
    return std::max<int64_t>(0, buffer.capacity - DeviceBuffered(buffer));
}

void DeviceAdvance(DeviceBuffer& buffer, int64_t nowUs) {
    const int64_t elapsedUs = std::max<int64_t>(0, nowUs - buffer.lastUpdateUs);
    buffer.lastUpdateUs = nowUs;
    if (buffer.paused || buffer.mode == DrainMode::Stalled) return;
    const int64_t buffered = DeviceBuffered(buffer);
    if (buffer.mode == DrainMode::Instant) {
        buffer.played = buffer.written;
        return;
    }
    buffer.credit += elapsedUs * buffer.speed * buffer.bytesPerSecond / 1e6;
    const int64_t frames = static_cast<int64_t>(buffer.credit) / buffer.blockAlign;
    const int64_t granted = frames * buffer.blockAlign;
    if (granted >= buffered) {
        // The device runs dry: it plays what it has and the clock's surplus is lost, as on a sound card.
        buffer.played = buffer.written;
        buffer.credit = 0;
    } else {
        buffer.played += granted;
        buffer.credit -= static_cast<double>(granted);
    }
}

void DeviceWrite(DeviceBuffer& buffer, int64_t bytes, int64_t nowUs) {
    DeviceAdvance(buffer, nowUs);
    buffer.written += std::max<int64_t>(0, bytes);
    if (buffer.mode == DrainMode::Instant && !buffer.paused) buffer.played = buffer.written;
}

void DeviceSetPaused(DeviceBuffer& buffer, bool paused, int64_t nowUs) {
    DeviceAdvance(buffer, nowUs);
    buffer.paused = paused;
}

void DeviceSetDrain(DeviceBuffer& buffer, DrainMode mode, double speed, int64_t nowUs) {
    DeviceAdvance(buffer, nowUs);
    buffer.mode = mode;
    buffer.speed = speed;
    buffer.credit = 0;
}

void DeviceFlush(DeviceBuffer& buffer, int ms, int64_t nowUs) {
    DeviceAdvance(buffer, nowUs);
    buffer.written = buffer.played = MsToBytes(ms, buffer.bytesPerSecond, buffer.blockAlign);
    buffer.credit = 0;
}

}  // namespace host
