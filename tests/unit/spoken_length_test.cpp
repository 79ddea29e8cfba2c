// The estimate of a text's spoken length and of where a time falls in it.
#include <gtest/gtest.h>

#include "playback/spoken_length.h"

namespace {

// Before anything is heard: the text's length at the rate; rate 10 about three times as fast as 0,
// -10 about a third as fast.
TEST(SpokenLength, BeforeAnythingIsHeardComesFromTheLengthAndTheRate) {
    struct Case {
        uint64_t units;
        long rate;
        int64_t ms;
    } const cases[] = {
        {1700, 0, 100000}, {1700, 10, 33333}, {1700, -10, 300000}, {0, 0, 0}, {17, 0, 1000}, {1700, 99, 33333},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(static_cast<double>(c.ms), static_cast<double>(EstimatedSpeechMs(c.units, c.rate)), 1.0)
            << c.units << " units at rate " << c.rate;
        EXPECT_NEAR(static_cast<double>(c.ms), static_cast<double>(SpokenLength(c.units, c.rate).LengthMs()), 1.0);
    }
    const uint8_t utf16[] = {0xFF, 0xFE}, bigEndian[] = {0xFE, 0xFF}, plain[] = {'a', 'b'};
    EXPECT_EQ(500u, EstimatedUnits(1000, utf16, 2));
    EXPECT_EQ(500u, EstimatedUnits(1000, bigEndian, 2));
    EXPECT_EQ(1000u, EstimatedUnits(1000, plain, 2));
    EXPECT_EQ(1000u, EstimatedUnits(1000, nullptr, 0));
}

// Heard sentences: exact where heard, in proportion between, at the measured pace beyond; and the
// position of a time is the inverse.
TEST(SpokenLength, HeardSentencesGiveExactTimesAndThePaceBeyond) {
    SpokenLength length(10000, 0);
    // 100 units a second, heard for 4 s, the clock starting at 1000 ms.
    for (uint64_t position = 0; position <= 400; position += 50) length.Heard(position, 1000 + static_cast<int64_t>(position) * 10);
    EXPECT_DOUBLE_EQ(100.0, length.UnitsPerSecond());
    struct Case {
        uint64_t position;
        int64_t ms;
    } const cases[] = {{0, 1000}, {50, 1500}, {75, 1750}, {400, 5000}, {1400, 15000}, {10000, 101000}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.ms, length.TimeOf(c.position)) << c.position;
        EXPECT_EQ(c.position, length.PositionAt(c.ms)) << c.ms;
    }
    EXPECT_EQ(10000u, length.PositionAt(999999)) << "past the end: the end";
    EXPECT_EQ(101000, length.LengthMs());

    SpokenLength early(10000, 0);
    early.Heard(0, 0);
    early.Heard(50, 500);  // less than MIN_MEASURED_MS: the default pace still holds
    EXPECT_DOUBLE_EQ(DEFAULT_UNITS_PER_SECOND, early.UnitsPerSecond());
}

// The length shown: never below what has played; after 10 s at most 5 % a second toward the estimate.
TEST(ShownLength, NeverBelowWhatPlayedAndSmoothAfterTenSeconds) {
    ShownLength shown;
    EXPECT_EQ(60000, shown.Next(60000, 0, 0));
    EXPECT_EQ(30000, shown.Next(30000, 5000, 1000)) << "in the first 10 s it follows the estimate";
    EXPECT_EQ(30000, shown.Next(20000, 30000, 2000)) << "never below what played";
    int last = shown.Next(30000, 12000, 3000);
    for (int second = 1; second <= 20; ++second) {
        const int next = shown.Next(90000, 12000 + second * 1000, 3000 + second * 1000);
        EXPECT_LE(next - last, last * 0.05 + 1) << "second " << second;
        EXPECT_GT(next, last) << "it moves toward the estimate";
        last = next;
    }
}

}  // namespace
