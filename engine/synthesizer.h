// What a voice kind provides: text in, PCM pieces out. The engine thread asks for one piece
// at a time and reads the rate before each, so a rate change applies to what is still to come.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace engine {

struct PcmFormat {
    DWORD samplesPerSec = 22050;
    WORD channels = 1;
    WORD bitsPerSample = 16;
    WORD BlockAlign() const { return static_cast<WORD>(channels * (bitsPerSample / 8)); }
};

class Synthesizer {
public:
    virtual ~Synthesizer() = default;
    // Appends the PCM of the next piece of the text to `pcm` and says which units of the text
    // it covers. Returns false, appending nothing, once the whole text has been produced.
    virtual bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) = 0;
};

// The deterministic tone voice: one piece per UTF-16 unit.
std::unique_ptr<Synthesizer> MakeToneSynthesizer(std::wstring text, PcmFormat format, std::wstring voiceId);

}  // namespace engine
