// The output stream's chunk arithmetic for any block size, position, frame size and DSP answer:
// chunks are whole frames and fit the DSP buffer, a walk through a block hands on every byte once
// in positive lengths, and a DSP result never reaches past the buffer.
#include <cstdint>

#include "tests/fuzz/chunk_checks.h"
#include "tests/fuzz/fuzz_input.h"

using namespace chunk_checks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const int frameSize = flags % (MAX_PCM_FRAME_BYTES + 1);
    const bool dspActive = (flags & 0x80) != 0;
    const uint32_t blockSize = input.Dword();
    const uint32_t offset = input.Dword();
    const int returnedFrames = static_cast<int>(input.Dword());
    const int anyFrameSize = static_cast<int>(input.Dword());

    CheckChunkSize(frameSize, dspActive);
    const int chunk = ChunkBytes(frameSize, dspActive);
    CheckStep(chunk, blockSize, offset);
    // Blocks up to 1 MB, the most a voice writes at once by far, walked whole.
    CheckWalk(chunk, blockSize & 0xFFFFF);
    CheckDspResult(returnedFrames, frameSize);
    CheckDspResult(returnedFrames, anyFrameSize);
    return 0;
}
