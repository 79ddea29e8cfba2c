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

// Silence is written in pieces of at most this long, so that one of any length costs little
// memory and a pause or a purge stops it as it stops speech.
const DWORD SilencePieceMilliseconds = 100;

class EspeakSynthesizer : public Synthesizer {
public:
    EspeakSynthesizer(const SpeechText& speech, TextSpan range, PcmFormat format, std::string voice)
        : speech_(speech), range_(range), next_(range.position), end_(range.position + range.length),
          format_(format), voice_(std::move(voice)) {}

    bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        if (FAILED(failure_)) return false;
        if (silenceFramesLeft_ == 0) silenceFramesLeft_ = SilenceFrames(TakeSilencesAt(next_), format_.samplesPerSec);
        if (silenceFramesLeft_ > 0) {
            AppendSilence(pcm);
            textPosition = next_;
            textLength = 0;
            return true;
        }
        if (next_ >= end_) return false;
        const TextSpan chunk = EspeakChunkAt(speech_, next_, end_);
        next_ = chunk.position + chunk.length;
        textPosition = chunk.position;
        textLength = chunk.length;
        return !ChunkHasSpeech(speech_, chunk) || Speak(chunk, rate, pcm);
    }

    HRESULT Failure() const override { return failure_; }

private:
    bool Speak(TextSpan chunk, long rate, std::vector<unsigned char>& pcm) {
        std::vector<short> samples;
        failure_ = RunEspeak(Utf8(EspeakInput(speech_, chunk, rate)), speech_.markup, voice_,
                             EspeakWordsPerMinute(rate), format_.samplesPerSec, samples);
        if (FAILED(failure_)) return false;
        const std::vector<unsigned char> packed = PackPcm(samples, format_);
        pcm.insert(pcm.end(), packed.begin(), packed.end());
        return true;
    }

    // Milliseconds of the silences of this voice's range that stand at `position` and are not
    // played yet; chunks end where a silence stands, so none is passed over.
    ULONGLONG TakeSilencesAt(ULONG position) {
        ULONGLONG milliseconds = 0;
        const std::vector<Silence>& silences = speech_.silences;
        for (; nextSilence_ < silences.size() && silences[nextSilence_].position <= position; ++nextSilence_) {
            if (SilenceInRange(speech_, range_, silences[nextSilence_].position)) {
                milliseconds += silences[nextSilence_].milliseconds;
            }
        }
        return milliseconds;
    }

    void AppendSilence(std::vector<unsigned char>& pcm) {
        const ULONGLONG piece = SilenceFrames(SilencePieceMilliseconds, format_.samplesPerSec);
        const size_t frames = static_cast<size_t>(std::min(silenceFramesLeft_, std::max<ULONGLONG>(piece, 1)));
        const unsigned char zero = format_.bitsPerSample == 8 ? 128 : 0;
        pcm.insert(pcm.end(), frames * format_.BlockAlign(), zero);
        silenceFramesLeft_ -= frames;
    }

    const SpeechText& speech_;
    TextSpan range_;
    ULONG next_;  // where the next chunk starts
    ULONG end_;
    PcmFormat format_;
    std::string voice_;
    size_t nextSilence_ = 0;  // the first silence not yet played or passed
    ULONGLONG silenceFramesLeft_ = 0;
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
