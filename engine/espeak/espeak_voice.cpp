// The espeak-ng voice: real speech, synthesized chunk by chunk by espeak-ng on the Linux side of
// Wine and converted to the output's format here.
#include "engine/engine.h"

#include "engine/engine_state.h"
#include "engine/espeak/espeak_runner.h"
#include "engine/espeak/espeak_text.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/synthesizer.h"

#include <algorithm>

namespace engine {
namespace {

class EspeakSynthesizer : public Synthesizer {
public:
    EspeakSynthesizer(const SpeechText& speech, PcmFormat format) : speech_(speech), format_(format) {}

    bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        if (FAILED(failure_) || next_ >= speech_.text.size()) return false;
        const TextSpan chunk = SentenceAt(speech_.text, next_);
        next_ = chunk.position + chunk.length;
        textPosition = chunk.position;
        textLength = chunk.length;
        if (!ChunkHasSpeech(speech_, chunk)) return true;

        DWORD sampleRate = 0;
        std::vector<short> samples;
        failure_ = RunEspeak(Utf8(EspeakInput(speech_, chunk, rate)), speech_.markup, EspeakWordsPerMinute(rate),
                             sampleRate, samples);
        if (FAILED(failure_)) return false;
        if (sourceRate_ == 0) sourceRate_ = sampleRate;
        if (sampleRate != sourceRate_) {  // espeak-ng always writes one rate; a change would break the timeline
            failure_ = E_UNEXPECTED;
            return false;
        }
        const std::vector<unsigned char> packed =
            PackPcm(ResampleLinear(samples, sourceRate_, format_.samplesPerSec, position_), format_);
        pcm.insert(pcm.end(), packed.begin(), packed.end());
        return true;
    }

    HRESULT Failure() const override { return failure_; }

private:
    const SpeechText& speech_;
    PcmFormat format_;
    size_t next_ = 0;  // where the next sentence starts
    DWORD sourceRate_ = 0;
    ResamplePosition position_;
    HRESULT failure_ = S_OK;
};

}  // namespace

const wchar_t EspeakVoiceId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\TxtEspeakEnglish";

VoiceInfo EspeakVoice() {
    return {EspeakVoiceId, {{L"409", L"eSpeak NG English (United States)"}, {L"", L"eSpeak NG English"}}};
}

bool EspeakAvailable() { return EspeakRunnable(); }

bool OfferEspeakVoice() {
    if (!EspeakAvailable()) return false;
    std::vector<VoiceInfo> voices = InstalledVoices();
    voices.erase(std::remove_if(voices.begin(), voices.end(), [](const VoiceInfo& v) { return v.id == EspeakVoiceId; }),
                 voices.end());
    voices.insert(voices.begin(), EspeakVoice());
    SetInstalledVoices(std::move(voices));
    return true;
}

std::unique_ptr<Synthesizer> MakeEspeakSynthesizer(const SpeechText& speech, PcmFormat format) {
    return std::make_unique<EspeakSynthesizer>(speech, format);
}

}  // namespace engine
