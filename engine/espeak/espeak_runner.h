// Running espeak-ng, and sox to convert its sound, on the Linux side of Wine for one piece of
// text, through temporary files: the text goes in as UTF-8, the sound comes back as a wave file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// Runs `espeak-ng --voices` and gives back what it printed (UTF-8); false where espeak-ng and sox
// cannot both be run from here (not under Wine, or not installed).
bool ListEspeakVoices(std::string& utf8Listing);

// Speaks UTF-8 text (SSML when `markup`) at `wordsPerMinute` with the espeak-ng voice `voice` (as
// `espeak-ng -v` takes it) and gives back its 16-bit mono samples at `sampleRate`, converted by
// sox as ConvertWithSox does (at espeak-ng's own 22050 Hz, its samples unchanged). Blocks until
// both are done (at most a minute), so call it from a worker thread.
HRESULT RunEspeak(const std::string& utf8Text, bool markup, const std::string& voice, long wordsPerMinute,
                  DWORD sampleRate, std::vector<short>& samples);

// Converts 16-bit mono samples from one rate to another with sox's band-limited rate converter
// (`rate -h`: flat to 95 % of the lower rate's Nyquist frequency, more than 100 dB down beyond
// it, so nothing aliases and no images remain), without dither: equal rates keep every sample.
HRESULT ConvertWithSox(const std::vector<short>& samples, DWORD fromRate, DWORD toRate, std::vector<short>& converted);

}  // namespace engine
