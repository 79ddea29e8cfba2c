// Which voice kind speaks for a token.
#include "engine/synthesizer.h"

#include "engine/engine.h"

namespace engine {

std::unique_ptr<Synthesizer> MakeSynthesizer(const SpeechText& speech, PcmFormat format, const std::wstring& voiceId) {
    if (voiceId == EspeakVoiceId) return MakeEspeakSynthesizer(speech, format);
    return MakeToneSynthesizer(speech.text, format, voiceId);
}

}  // namespace engine
