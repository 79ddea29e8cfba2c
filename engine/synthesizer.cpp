// Which voice kind speaks each stretch of a text.
#include "engine/synthesizer.h"

#include "engine/engine.h"
#include "engine/engine_state.h"

#include <sperror.h>

namespace engine {
namespace {

// Speaks the runs one after the other, each with a synthesizer made when it is reached.
class VoiceRunsSynthesizer : public Synthesizer {
public:
    VoiceRunsSynthesizer(const SpeechText& speech, PcmFormat format, std::vector<VoiceRun> runs)
        : speech_(speech), format_(format), runs_(std::move(runs)) {}

    bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        while (next_ < runs_.size() || current_) {
            if (!current_) current_ = MakeRunSynthesizer(runs_[next_++]);
            if (current_->NextPiece(rate, pcm, textPosition, textLength)) return true;
            failure_ = current_->Failure();
            current_.reset();
            if (FAILED(failure_)) return false;
        }
        return false;
    }

    HRESULT Failure() const override { return failure_; }

private:
    std::unique_ptr<Synthesizer> MakeRunSynthesizer(const VoiceRun& run) const {
        VoiceInfo voice;
        if (FindInstalledVoice(run.voiceId, voice) && !voice.espeakVoice.empty()) {
            return MakeEspeakSynthesizer(speech_, run.range, format_, voice.espeakVoice);
        }
        return MakeToneSynthesizer(speech_.text, run.range, format_, run.voiceId);
    }

    const SpeechText& speech_;
    PcmFormat format_;
    std::vector<VoiceRun> runs_;
    size_t next_ = 0;
    std::unique_ptr<Synthesizer> current_;
    HRESULT failure_ = S_OK;
};

}  // namespace

std::vector<VoiceRun> VoiceRuns(const SpeechText& speech, const std::wstring& streamVoiceId) {
    const ULONG size = static_cast<ULONG>(speech.text.size());
    std::vector<VoiceRun> runs = {{{0, size}, streamVoiceId}};
    for (const ProsodyChange& change : speech.prosody) {
        const std::wstring& voiceId = change.prosody.voiceId.empty() ? streamVoiceId : change.prosody.voiceId;
        VoiceRun& last = runs.back();
        if (voiceId == last.voiceId) continue;
        if (change.position > last.range.position) {
            last.range.length = change.position - last.range.position;
            runs.push_back({{change.position, size - change.position}, voiceId});
        } else {
            last.voiceId = voiceId;  // nothing spoken yet with the voice it replaces
            if (runs.size() > 1 && runs[runs.size() - 2].voiceId == voiceId) {
                runs[runs.size() - 2].range.length += last.range.length;
                runs.pop_back();
            }
        }
    }
    return runs;
}

std::unique_ptr<Synthesizer> MakeSynthesizer(const SpeechText& speech, PcmFormat format,
                                             const std::wstring& streamVoiceId) {
    return std::make_unique<VoiceRunsSynthesizer>(speech, format, VoiceRuns(speech, streamVoiceId));
}

HRESULT CheckVoicesCanSpeak(const SpeechText& speech, const std::wstring& streamVoiceId) {
    for (const VoiceRun& run : VoiceRuns(speech, streamVoiceId)) {
        VoiceInfo voice;
        if (FindInstalledVoice(run.voiceId, voice) && !voice.espeakVoice.empty() && !EspeakHasVoice(voice.espeakVoice)) {
            return SPERR_NOT_FOUND;
        }
    }
    return S_OK;
}

}  // namespace engine
