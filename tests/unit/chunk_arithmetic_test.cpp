// The chunk step for blocks whose remainder does not fit an int: the 32-bit build is where it matters.
#include "playback/chunk_arithmetic.h"

#include <gtest/gtest.h>

TEST(ChunkStep, BlocksOver2GiBAreWalkedInPositiveChunks) {
    const int chunk = ChunkBytes(4, true);
    for (uint32_t size : {0x80000000u, 0x80000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(chunk, NextChunkLength(chunk, size, 0)) << size;
        EXPECT_EQ(chunk, NextChunkLength(chunk, size, size / 2)) << size;
        EXPECT_EQ(1, NextChunkLength(chunk, size, size - 1)) << size;
        EXPECT_EQ(0, NextChunkLength(chunk, size, size)) << size;
    }
}
