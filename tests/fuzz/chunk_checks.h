// Checks of the output stream's chunk arithmetic, shared by its fuzz target and the table walk.
#pragma once

#include <cstdint>

#include "playback/chunk_arithmetic.h"
#include "tests/fuzz/fuzz_check.h"

namespace chunk_checks {


// The frame sizes playback configures run from 0 (compressed) to MAX_PCM_FRAME_BYTES.
inline void CheckChunkSize(int frameSize, bool dspActive) {
    const int chunk = ChunkBytes(frameSize, dspActive);
    const int unit = frameSize > 0 ? frameSize : 1;
    FUZZ_CHECK(chunk == unit * CHUNK_FRAMES * (dspActive ? 2 : 1), "frames of %d bytes, DSP %d: chunk %d", frameSize,
               dspActive, chunk);
    if (dspActive) FUZZ_CHECK(chunk <= DSP_BUFFER_SIZE, "a DSP chunk of %d bytes", chunk);
}

// One step anywhere in a block of any 32-bit size.
inline void CheckStep(int chunk, uint32_t size, uint32_t offset) {
    if (offset > size) offset = size;
    const int length = NextChunkLength(chunk, size, offset);
    const uint32_t left = size - offset;
    if (left == 0) {
        FUZZ_CHECK(length == 0, "%d bytes after the end", length);
        return;
    }
    FUZZ_CHECK(length > 0, "chunk of %d at %u of %u", length, offset, size);
    FUZZ_CHECK(static_cast<uint32_t>(length) == (left < static_cast<uint32_t>(chunk) ? left : chunk),
               "chunk of %d at %u of %u with chunks of %d", length, offset, size, chunk);
}

// A whole block the way Write walks it: full chunks, then what is left; one empty chunk for nothing.
inline void CheckWalk(int chunk, uint32_t size) {
    uint32_t offset = 0;
    int chunks = 0;
    do {
        const int length = NextChunkLength(chunk, size, offset);
        FUZZ_CHECK(length == chunk || (offset + length == size), "chunk %d of %d bytes is neither whole nor the last",
                   chunks, length);
        FUZZ_CHECK(size == 0 || length > 0, "chunk %d of %d bytes", chunks, length);
        offset += length;
        ++chunks;
    } while (offset < size);
    FUZZ_CHECK(offset == size, "walked %u of %u bytes", offset, size);
    const uint32_t wholeChunks = (size + chunk - 1) / chunk;
    FUZZ_CHECK(static_cast<uint32_t>(chunks) == (size == 0 ? 1 : wholeChunks), "%d chunks for %u bytes", chunks, size);
}

inline void CheckDspResult(int returnedFrames, int frameSize) {
    const int bytes = DspResultBytes(returnedFrames, frameSize);
    FUZZ_CHECK(bytes >= 0 && bytes <= DSP_BUFFER_SIZE, "%d frames of %d bytes give %d", returnedFrames, frameSize, bytes);
    if (returnedFrames <= 0 || frameSize <= 0) {
        FUZZ_CHECK(bytes == 0, "%d frames of %d bytes give %d", returnedFrames, frameSize, bytes);
        return;
    }
    FUZZ_CHECK(bytes % frameSize == 0, "%d bytes are not whole frames of %d", bytes, frameSize);
    const int64_t asked = static_cast<int64_t>(returnedFrames) * frameSize;
    const int64_t room = DSP_BUFFER_SIZE / frameSize * frameSize;
    FUZZ_CHECK(bytes == (asked < room ? asked : room), "%d frames of %d bytes give %d", returnedFrames, frameSize, bytes);
}

}  // namespace chunk_checks
