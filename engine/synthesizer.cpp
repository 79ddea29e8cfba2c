// Which voice kind speaks for a token.
#include "engine/synthesizer.h"

#include "engine/engine.h"
#include "engine/engine_state.h"

#include <sperror.h>

namespace engine {

std::unique_ptr<Synthesizer> MakeSynthesizer(const SpeechText& speech, PcmFormat format, const std::wstring& voiceId) {
    VoiceInfo voice;
    if (FindInstalledVoice(voiceId, voice) && !voice.espeakVoice.empty()) {
        return MakeEspeakSynthesizer(speech, format, voice.espeakVoice);
    }
    return MakeToneSynthesizer(speech.text, format, voiceId);
}

HRESULT CheckVoiceCanSpeak(const std::wstring& voiceId) {
    VoiceInfo voice;
    if (!FindInstalledVoice(voiceId, voice) || voice.espeakVoice.empty()) return S_OK;
    return EspeakHasVoice(voice.espeakVoice) ? S_OK : SPERR_NOT_FOUND;
}

}  // namespace engine
