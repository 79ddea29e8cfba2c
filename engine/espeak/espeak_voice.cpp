// The espeak-ng voices: real speech, synthesized sentence by sentence by espeak-ng on the Linux side
// of Wine and converted to the output's format here.
#include "engine/engine.h"

#include "engine/engine_state.h"
#include "engine/espeak/espeak_runner.h"
#include "engine/espeak/espeak_text.h"
#include "engine/espeak/espeak_voices.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/synthesizer.h"

#include <algorithm>

namespace engine {
namespace {

class EspeakSynthesizer : public Synthesizer {
public:
    EspeakSynthesizer(const SpeechText& speech, TextSpan range, PcmFormat format, std::string voice)
        : speech_(speech), next_(range.position), end_(range.position + range.length), format_(format),
          voice_(std::move(voice)) {}

    bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        if (FAILED(failure_) || next_ >= end_) return false;
        TextSpan chunk = SentenceAt(speech_.text, next_);
        if (chunk.position + chunk.length > end_) chunk.length = static_cast<ULONG>(end_ - chunk.position);
        next_ = chunk.position + chunk.length;
        textPosition = chunk.position;
        textLength = chunk.length;
        if (!ChunkHasSpeech(speech_, chunk)) return true;

        std::vector<short> samples;
        failure_ = RunEspeak(Utf8(EspeakInput(speech_, chunk, rate)), speech_.markup, voice_,
                             EspeakWordsPerMinute(rate), format_.samplesPerSec, samples);
        if (FAILED(failure_)) return false;
        const std::vector<unsigned char> packed = PackPcm(samples, format_);
        pcm.insert(pcm.end(), packed.begin(), packed.end());
        return true;
    }

    HRESULT Failure() const override { return failure_; }

private:
    const SpeechText& speech_;
    size_t next_;  // where the next sentence starts
    size_t end_;
    PcmFormat format_;
    std::string voice_;
    HRESULT failure_ = S_OK;
};

}  // namespace

const wchar_t EspeakVoiceId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\TxtEspeakEnglish";

VoiceInfo EspeakVoice() {
    for (const VoiceInfo& voice : EspeakVoices()) {
        if (voice.id == EspeakVoiceId) return voice;
    }
    // As espeak-ng 1.51 lists it.
    const EspeakListing english = {L"en-us", L"--", L"M", L"English (America)", L"gmw/en-US", {L"en"}};
    return EspeakVoiceInfos({english}).front();
}

std::vector<VoiceInfo> EspeakVoices() { return EspeakVoiceInfos(EspeakListingOfThisMachine()); }

bool EspeakAvailable() { return !EspeakListingOfThisMachine().empty(); }

bool EspeakHasVoice(const std::wstring& espeakVoice) {
    for (const EspeakListing& listed : EspeakListingOfThisMachine()) {
        if (listed.file == espeakVoice) return true;
    }
    return false;
}

bool OfferEspeakVoices() {
    std::vector<VoiceInfo> offered = EspeakVoices();
    if (offered.empty()) return false;
    for (const VoiceInfo& voice : InstalledVoices()) {
        auto sameId = [&](const VoiceInfo& espeak) { return espeak.id == voice.id; };
        if (std::none_of(offered.begin(), offered.end(), sameId)) offered.push_back(voice);
    }
    SetInstalledVoices(std::move(offered));
    return true;
}

std::unique_ptr<Synthesizer> MakeEspeakSynthesizer(const SpeechText& speech, TextSpan range, PcmFormat format,
                                                   const std::wstring& espeakVoice) {
    return std::make_unique<EspeakSynthesizer>(speech, range, format, Utf8(espeakVoice));
}

}  // namespace engine
