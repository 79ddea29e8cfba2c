// Turning a synthesizer's 16-bit mono samples into the output's PCM format: a linear-interpolation
// resampler that keeps its place across pieces, and the 8/16-bit, mono/stereo packing.
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>

#include <vector>

namespace engine {

// Where a resampled sequence of pieces stands. Pieces converted one after the other with the same
// position come out as long as the whole sequence converted at once, frame for frame the same,
// except that a frame lying between one piece's last sample and the next piece's first (not known
// yet) holds that last sample instead of a value between the two.
struct ResamplePosition {
    ULONGLONG sourceFrames = 0;  // source frames converted so far
};

// The number of output frames that `sourceFrames` source frames make: those whose time falls
// within the source's, ceil(frames * to / from).
ULONGLONG ResampledFrameCount(ULONGLONG sourceFrames, DWORD fromRate, DWORD toRate);

// Resamples one piece of mono samples from `fromRate` to `toRate`, continuing at `position`.
std::vector<short> ResampleLinear(const std::vector<short>& piece, DWORD fromRate, DWORD toRate,
                                  ResamplePosition& position);

// Packs mono samples as PCM of the format: 16-bit little-endian signed or 8-bit unsigned (128 is
// silence), every channel carrying the same sample.
std::vector<unsigned char> PackPcm(const std::vector<short>& samples, const PcmFormat& format);

// Reads 16-bit PCM wave file bytes: the first channel's samples and the sample rate. A data
// chunk that claims more than the file holds is taken as the rest of the file (a writer that was
// stopped may leave its size unset). False when the bytes are no such file.
bool ReadWave16(const std::vector<unsigned char>& bytes, DWORD& sampleRate, std::vector<short>& samples);

}  // namespace engine
