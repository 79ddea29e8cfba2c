// The output device's buffer model, driven by a clock of the test's own.
#include <gtest/gtest.h>

#include "host/device_buffer.h"

namespace host {
namespace {

constexpr int64_t MS = 1000;  // microseconds

// 8000 Hz, 16-bit mono: 16000 bytes a second, 16 bytes a millisecond.
DeviceBuffer OpenMono16(int bufferMs, DrainMode mode = DrainMode::Clock, double speed = 1.0) {
    DeviceBuffer buffer;
    buffer.mode = mode;
    buffer.speed = speed;
    DeviceOpen(buffer, 16000, 2, bufferMs, 0);
    return buffer;
}

TEST(DeviceBuffer, CapacityIsTheBufferLengthInWholeFrames) {
    DeviceBuffer buffer;
    DeviceOpen(buffer, 44100 * 4, 4, 2000, 0);  // 44.1 kHz 16-bit stereo
    EXPECT_EQ(352800, buffer.capacity);
    DeviceOpen(buffer, 11025, 1, 1000, 0);  // 8-bit mono
    EXPECT_EQ(11025, buffer.capacity);
    DeviceOpen(buffer, 22050 * 2, 2, 333, 0);  // 14685.3 bytes, cut to 7342 frames
    EXPECT_EQ(14684, buffer.capacity);
    EXPECT_EQ(2, OpenMono16(0).capacity);  // never less than one frame
}

TEST(DeviceBuffer, RoomFallsWithWritesAndComesBackAsTheClockPlays) {
    DeviceBuffer buffer = OpenMono16(1000);
    ASSERT_EQ(16000, DeviceFreeRoom(buffer));

    DeviceWrite(buffer, 8000, 0);
    EXPECT_EQ(8000, DeviceFreeRoom(buffer));
    EXPECT_EQ(8000, DeviceBuffered(buffer));

    DeviceAdvance(buffer, 250 * MS);  // a quarter of a second plays 4000 bytes
    EXPECT_EQ(4000, buffer.played);
    EXPECT_EQ(12000, DeviceFreeRoom(buffer));

    DeviceAdvance(buffer, 2000 * MS);  // runs dry: everything played, full room again
    EXPECT_EQ(8000, buffer.played);
    EXPECT_EQ(0, DeviceBuffered(buffer));
    EXPECT_EQ(16000, DeviceFreeRoom(buffer));

    // Time spent empty is not owed to the next write.
    DeviceWrite(buffer, 1600, 2000 * MS);
    DeviceAdvance(buffer, 2050 * MS);
    EXPECT_EQ(8800, buffer.played);
    EXPECT_EQ(800, DeviceBuffered(buffer));
}

TEST(DeviceBuffer, RoomNeverGoesNegativeWhenOverfilled) {
    DeviceBuffer buffer = OpenMono16(100, DrainMode::Stalled);
    DeviceWrite(buffer, 5000, 0);
    EXPECT_EQ(5000, DeviceBuffered(buffer));
    EXPECT_EQ(0, DeviceFreeRoom(buffer));
}

TEST(DeviceBuffer, PauseFreezesThePlayPosition) {
    DeviceBuffer buffer = OpenMono16(2000);
    DeviceWrite(buffer, 16000, 0);
    DeviceSetPaused(buffer, true, 100 * MS);
    EXPECT_EQ(1600, buffer.played);

    DeviceAdvance(buffer, 5000 * MS);
    EXPECT_EQ(1600, buffer.played);
    EXPECT_EQ(32000 - 14400, DeviceFreeRoom(buffer));

    DeviceSetPaused(buffer, false, 5000 * MS);
    DeviceAdvance(buffer, 5100 * MS);  // the pause's five seconds are not played afterwards
    EXPECT_EQ(3200, buffer.played);
}

TEST(DeviceBuffer, PlaysInWholeFrames) {
    DeviceBuffer buffer;
    DeviceOpen(buffer, 44100 * 4, 4, 2000, 0);
    DeviceWrite(buffer, 100000, 0);
    for (int ms = 1; ms <= 7; ++ms) {
        DeviceAdvance(buffer, ms * MS);  // 176.4 bytes a millisecond
        EXPECT_EQ(0, buffer.played % 4) << "after " << ms << " ms";
    }
    DeviceAdvance(buffer, 10 * MS);
    EXPECT_NEAR(1764, buffer.played, 4);
}

TEST(DeviceBuffer, DrainModes) {
    DeviceBuffer fast = OpenMono16(1000, DrainMode::Clock, 4.0);
    DeviceWrite(fast, 16000, 0);
    DeviceAdvance(fast, 100 * MS);  // 100 ms at four times real time
    EXPECT_EQ(6400, fast.played);

    DeviceBuffer instant = OpenMono16(1000, DrainMode::Instant);
    DeviceWrite(instant, 16000, 0);
    EXPECT_EQ(0, DeviceBuffered(instant));
    DeviceSetPaused(instant, true, 0);
    DeviceWrite(instant, 3000, 0);  // a paused device keeps what it gets, even an instant one
    EXPECT_EQ(3000, DeviceBuffered(instant));
    DeviceSetPaused(instant, false, 0);
    DeviceAdvance(instant, 0);
    EXPECT_EQ(0, DeviceBuffered(instant));

    DeviceBuffer stalled = OpenMono16(1000, DrainMode::Stalled);
    DeviceWrite(stalled, 1000, 0);
    DeviceAdvance(stalled, 60000 * MS);
    EXPECT_EQ(1000, DeviceBuffered(stalled));

    // Switching a stalled device to the clock starts it from that moment.
    DeviceSetDrain(stalled, DrainMode::Clock, 1.0, 60000 * MS);
    DeviceAdvance(stalled, 60010 * MS);
    EXPECT_EQ(160, stalled.played);
}

TEST(DeviceBuffer, FlushDropsWhatIsBufferedAndRestartsTheTimes) {
    DeviceBuffer buffer = OpenMono16(1000, DrainMode::Stalled);
    DeviceWrite(buffer, 8000, 0);
    DeviceFlush(buffer, 1500, 0);
    EXPECT_EQ(0, DeviceBuffered(buffer));
    EXPECT_EQ(1500, BytesToMs(buffer.written, buffer.bytesPerSecond));
    EXPECT_EQ(1500, BytesToMs(buffer.played, buffer.bytesPerSecond));
}

TEST(DeviceBuffer, BytesAndMilliseconds) {
    EXPECT_EQ(1000, BytesToMs(176400, 176400));
    EXPECT_EQ(500, BytesToMs(88200, 176400));
    EXPECT_EQ(0, BytesToMs(175, 176400));  // less than a millisecond
    EXPECT_EQ(2000000, BytesToMs(2000000LL * 16, 16000));  // no 32-bit overflow on long runs
    EXPECT_EQ(0, BytesToMs(1000, 0));
    EXPECT_EQ(1764, MsToBytes(10, 176400, 4));
    EXPECT_EQ(220, MsToBytes(10, 22050, 2));
    EXPECT_EQ(616, MsToBytes(7, 88200, 4));  // 617.4 bytes, cut to whole frames
}

// The play-out time is the first moment at which the clock has played every buffered byte.
TEST(DeviceBuffer, PlaysOutWhenTheClockHasPlayedEverythingBuffered) {
    DeviceBuffer buffer = OpenMono16(1000);
    DeviceWrite(buffer, 8000, 0);
    DeviceAdvance(buffer, 100 * MS);  // 1600 bytes played, 6400 to go: 400 ms more
    EXPECT_EQ(500 * MS, DevicePlaysOutAtUs(buffer));

    DeviceBuffer before = buffer, at = buffer;
    DeviceAdvance(before, 500 * MS - 1);
    EXPECT_GT(DeviceBuffered(before), 0);
    DeviceAdvance(at, 500 * MS);
    EXPECT_EQ(0, DeviceBuffered(at));

    DeviceBuffer twice = OpenMono16(1000, DrainMode::Clock, 2.0);
    DeviceWrite(twice, 8000, 0);
    EXPECT_EQ(250 * MS, DevicePlaysOutAtUs(twice));
}

TEST(DeviceBuffer, PlayOutTimeIsNowWhenTheClockDoesNotDecide) {
    DeviceBuffer paused = OpenMono16(1000);
    DeviceWrite(paused, 8000, 0);
    DeviceSetPaused(paused, true, 10 * MS);
    EXPECT_EQ(10 * MS, DevicePlaysOutAtUs(paused));  // it may never play out; nothing to wait for

    DeviceBuffer stalled = OpenMono16(1000, DrainMode::Stalled);
    DeviceWrite(stalled, 8000, 20 * MS);
    EXPECT_EQ(20 * MS, DevicePlaysOutAtUs(stalled));

    DeviceBuffer empty = OpenMono16(1000);
    DeviceAdvance(empty, 30 * MS);
    EXPECT_EQ(30 * MS, DevicePlaysOutAtUs(empty));
}

}  // namespace
}  // namespace host
