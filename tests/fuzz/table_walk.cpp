// Every stream-format index the table knows and many it does not, every combination of stored
// modes, and a grid of chunk and DSP arguments, under the sanitizers. Exits 0 when all checks hold;
// a failed check aborts with its reason.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "settings/settings_values.h"
#include "tests/fuzz/chunk_checks.h"
#include "tests/fuzz/format_checks.h"

namespace {

int WalkFormatIndexes() {
    int walked = 0;
    for (int index = -300; index <= 300; ++index, ++walked) {
        format_checks::CheckIndex(index, false);
        format_checks::CheckIndex(index, true);
        format_checks::CheckNullOutPointers(index);
    }
    for (int index : {INT_MIN, INT_MIN + 1, -65536, 65535, 65536, INT_MAX - 1, INT_MAX}) {
        format_checks::CheckIndex(index, false);
        ++walked;
    }
    return walked;
}

// Whatever the file holds, the checked modes give one of playback's PCM indexes.
int WalkStoredModes() {
    const int values[] = {INT_MIN, -2, -1, 0, 1, 2, 3, 7, 8, 9, 10, INT_MAX};
    int walked = 0;
    for (int rate : values)
        for (int bits : values)
            for (int channels : values) {
                StoredSettings stored;
                stored.sampleRateMode = rate;
                stored.bitsPerSampleMode = bits;
                stored.numChannelsMode = channels;
                const CheckedSettings checked = CheckSettings(stored);
                const int index =
                    StreamFormatIndexOf(checked.sampleRateMode, checked.bitsPerSampleMode, checked.numChannelsMode);
                FUZZ_CHECK(index >= 4 && index <= 39, "modes %d %d %d give index %d", rate, bits, channels, index);
                format_checks::CheckIndex(index, false);
                ++walked;
            }
    return walked;
}

int WalkChunkGrid() {
    const int frameCounts[] = {INT_MIN, -1, 0, 1, 575, 576, 577, 1151, 1152, 1153, 2304, 2305, 4608, 9216, 9217, INT_MAX};
    int walked = 0;
    for (int frameSize = 0; frameSize <= MAX_PCM_FRAME_BYTES; ++frameSize)
        for (bool dsp : {false, true}) {
            chunk_checks::CheckChunkSize(frameSize, dsp);
            const int chunk = ChunkBytes(frameSize, dsp);
            for (uint32_t size = 0; size <= 3u * static_cast<uint32_t>(chunk) + 1; ++size, ++walked)
                chunk_checks::CheckWalk(chunk, size);
            for (uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu})
                for (uint32_t offset : {0u, 1u, size / 2, size - 1, size}) chunk_checks::CheckStep(chunk, size, offset);
            for (int frames : frameCounts) chunk_checks::CheckDspResult(frames, frameSize);
        }
    for (int frameSize : {INT_MIN, -4, 5, 7, 9216, 9217, INT_MAX})
        for (int frames : frameCounts) chunk_checks::CheckDspResult(frames, frameSize);
    return walked;
}

}  // namespace

int main() {
    const int indexes = WalkFormatIndexes();
    const int modes = WalkStoredModes();
    const int blocks = WalkChunkGrid();
    std::printf("table walk: %d format indexes, %d stored mode combinations, %d chunk walks: all checks hold\n",
                indexes, modes, blocks);
    return 0;
}
