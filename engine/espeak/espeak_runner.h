// Running espeak-ng on the Linux side of Wine for one piece of text, through temporary files:
// the text goes in as UTF-8, the sound comes back as a wave file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// Runs `espeak-ng --voices` and gives back what it printed (UTF-8); false where espeak-ng cannot
// be run from here (not under Wine, or not installed).
bool ListEspeakVoices(std::string& utf8Listing);

// Speaks UTF-8 text (SSML when `markup`) at `wordsPerMinute` with the espeak-ng voice `voice` (as
// `espeak-ng -v` takes it); gives back its 16-bit mono samples and their rate. Blocks until
// espeak-ng is done (at most a minute), so call it from a worker thread.
HRESULT RunEspeak(const std::string& utf8Text, bool markup, const std::string& voice, long wordsPerMinute,
                  DWORD& sampleRate, std::vector<short>& samples);

}  // namespace engine
