// Running espeak-ng on the Linux side of Wine for one piece of text, through temporary files:
// the text goes in as UTF-8, the sound comes back as a wave file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// True when espeak-ng can be run from here (under Wine, with espeak-ng installed). Checked once
// per process, by running `espeak-ng --version`.
bool EspeakRunnable();

// Speaks UTF-8 text (SSML when `markup`) at `wordsPerMinute` with espeak-ng's American English
// voice; gives back its 16-bit mono samples and their rate. Blocks until espeak-ng is done (at
// most a minute), so call it from a worker thread.
HRESULT RunEspeak(const std::string& utf8Text, bool markup, long wordsPerMinute, DWORD& sampleRate,
                  std::vector<short>& samples);

}  // namespace engine
