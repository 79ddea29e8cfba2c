// 16-bit mono samples in and out of wave files, and packed into the output's PCM format: 8 or 16
// bit, mono or stereo. (sox converts their rate: see espeak_runner.h.)
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>

#include <vector>

namespace engine {

// Packs mono samples as PCM of the format: 16-bit little-endian signed or 8-bit unsigned (128 is
// silence), every channel carrying the same sample.
std::vector<unsigned char> PackPcm(const std::vector<short>& samples, const PcmFormat& format);

// Reads 16-bit PCM wave file bytes: the first channel's samples and the sample rate. A data
// chunk that claims more than the file holds is taken as the rest of the file (a writer that was
// stopped may leave its size unset). False when the bytes are no such file.
bool ReadWave16(const std::vector<unsigned char>& bytes, DWORD& sampleRate, std::vector<short>& samples);

// A wave file of 16-bit mono samples at `sampleRate`.
std::vector<unsigned char> Wave16Bytes(const std::vector<short>& samples, DWORD sampleRate);

}  // namespace engine
