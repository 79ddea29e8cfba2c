// Recorded sound a voice plays as it is (SpeakStream of a wave stream), in the output's format.
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace engine {

struct RecordedSound {
    std::vector<short> samples;  // 16-bit mono
    DWORD sampleRate = 0;
};

// The first channel of PCM bytes (8 or 16 bit, 1 or 2 channels) as 16-bit samples; false for any
// other format.
bool DecodePcm(const std::vector<unsigned char>& bytes, const WAVEFORMATEX& format, RecordedSound& sound);

// The samples at another rate, by linear interpolation.
std::vector<short> Resampled(const std::vector<short>& samples, DWORD fromRate, DWORD toRate);

// Plays the sound in one piece, covering no text.
std::unique_ptr<Synthesizer> MakeRecordedSynthesizer(std::shared_ptr<const RecordedSound> sound, PcmFormat format);

}  // namespace engine
