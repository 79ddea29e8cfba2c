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
// Each speaks the part `range` of the text.

// The deterministic tone voice: one piece per UTF-16 unit.
std::unique_ptr<Synthesizer> MakeToneSynthesizer(const std::wstring& text, TextSpan range, PcmFormat format,
                                                 std::wstring voiceId);

// An espeak-ng voice (as `espeak-ng -v` takes it): one piece per sentence (cut where the range
// ends), synthesized by espeak-ng and converted to the format. Only for processes where
// EspeakAvailable() holds.
std::unique_ptr<Synthesizer> MakeEspeakSynthesizer(const SpeechText& speech, TextSpan range, PcmFormat format,
                                                   const std::wstring& espeakVoice);

// Whether espeak-ng listed this voice on this machine.
bool EspeakHasVoice(const std::wstring& espeakVoice);

// A stretch of the text spoken by one voice: the stream's own, or the one markup chose for it.
struct VoiceRun {
    TextSpan range;
    std::wstring voiceId;
};
std::vector<VoiceRun> VoiceRuns(const SpeechText& speech, const std::wstring& streamVoiceId);

// Speaks each voice run with its voice's kind: espeak-ng for an installed voice that has an
// espeak-ng voice, the tone voice else.
std::unique_ptr<Synthesizer> MakeSynthesizer(const SpeechText& speech, PcmFormat format,
                                             const std::wstring& streamVoiceId);

// S_OK when every voice of the speech can speak; SPERR_NOT_FOUND when one is a voice whose
// espeak-ng voice espeak-ng does not have here (which would otherwise end the speech in silence).
HRESULT CheckVoicesCanSpeak(const SpeechText& speech, const std::wstring& streamVoiceId);

}  // namespace engine
