#include "playback/chunk_arithmetic.h"

int ChunkBytes(int frameSize, bool dspActive) {
    int unit = frameSize > 0 ? frameSize : 1;
    return unit * CHUNK_FRAMES * (dspActive ? 2 : 1);
}

// Compared unsigned: what is left of a block over 2 GiB does not fit an int, and a negative length
// would reach the DSP copy as a huge byte count.
int NextChunkLength(int chunkBytes, uint32_t size, uint32_t offset) {
    const uint32_t remaining = size - offset;
    return remaining > static_cast<uint32_t>(chunkBytes) ? chunkBytes : static_cast<int>(remaining);
}

int DspResultBytes(int returnedFrames, int frameSize) {
    if (returnedFrames <= 0 || frameSize <= 0) return 0;
    int maxFrames = DSP_BUFFER_SIZE / frameSize;
    return (returnedFrames < maxFrames ? returnedFrames : maxFrames) * frameSize;
}
