#include "playback/chunk_arithmetic.h"

int ChunkBytes(int frameSize, bool dspActive) {
    int unit = frameSize > 0 ? frameSize : 1;
    return unit * CHUNK_FRAMES * (dspActive ? 2 : 1);
}

int NextChunkLength(int chunkBytes, uint32_t size, uint32_t offset) {
    int remaining = static_cast<int>(size - offset);
    return chunkBytes < remaining ? chunkBytes : remaining;
}

int DspResultBytes(int returnedFrames, int frameSize) {
    if (returnedFrames <= 0 || frameSize <= 0) return 0;
    int maxFrames = DSP_BUFFER_SIZE / frameSize;
    return (returnedFrames < maxFrames ? returnedFrames : maxFrames) * frameSize;
}
