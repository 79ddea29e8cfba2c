// What a voice kind provides: text in, PCM pieces out. The engine thread asks for one piece
// at a time and reads the rate before each, so a rate change applies to what is still to come.
#pragma once

#include "engine/speech_text.h"

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
    // Why the text ended early, when NextPiece returned false because synthesis failed.
    virtual HRESULT Failure() const { return S_OK; }
};

// Synthesizers read the text they are made for while they live: the caller keeps it until then.

// The deterministic tone voice: one piece per UTF-16 unit.
std::unique_ptr<Synthesizer> MakeToneSynthesizer(const std::wstring& text, PcmFormat format, std::wstring voiceId);

// An espeak-ng voice (as `espeak-ng -v` takes it): one piece per sentence, synthesized by espeak-ng
// and converted to the format. Only for processes where EspeakAvailable() holds.
std::unique_ptr<Synthesizer> MakeEspeakSynthesizer(const SpeechText& speech, PcmFormat format,
                                                   const std::wstring& espeakVoice);

// Whether espeak-ng listed this voice on this machine.
bool EspeakHasVoice(const std::wstring& espeakVoice);

// The synthesizer of the voice with this token id: espeak-ng for an installed voice that has an
// espeak-ng voice, the tone voice else.
std::unique_ptr<Synthesizer> MakeSynthesizer(const SpeechText& speech, PcmFormat format, const std::wstring& voiceId);

// S_OK when the voice with this token id can speak; SPERR_NOT_FOUND for a voice whose espeak-ng
// voice espeak-ng does not have here (which would otherwise end its speech in silence).
HRESULT CheckVoiceCanSpeak(const std::wstring& voiceId);

}  // namespace engine
