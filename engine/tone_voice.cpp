// The tone voice: every character is a triangle wave whose pitch and loudness follow from the
// character and the voice, lasting a fixed number of frames for the rate. Tests can predict
// every byte of it.
#include "engine/engine.h"
#include "engine/synthesizer.h"

namespace engine {
namespace {

// round(64 * 3^(-rate / 10)) for rates -10..10.
const unsigned FramesPerCharacterTable[21] = {192, 172, 154, 138, 124, 111, 99, 89, 80, 71, 64,
                                              57,  51,  46,  41,  37,  33,  30, 27, 24, 21};

// Small per-voice pitch shift, so that tests can tell which voice spoke.
unsigned VoicePitchShift(const std::wstring& voiceId) {
    unsigned hash = 2166136261u;
    for (wchar_t c : voiceId) hash = (hash ^ static_cast<unsigned>(c)) * 16777619u;
    return hash % 5;
}

void AppendSample(short sample, const PcmFormat& format, std::vector<unsigned char>& pcm) {
    for (WORD channel = 0; channel < format.channels; ++channel) {
        if (format.bitsPerSample == 8) {
            pcm.push_back(static_cast<unsigned char>(128 + sample / 256));
        } else {
            pcm.push_back(static_cast<unsigned char>(sample & 0xFF));
            pcm.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
        }
    }
}

void AppendCharacter(wchar_t character, unsigned frames, const std::wstring& voiceId, const PcmFormat& format,
                     std::vector<unsigned char>& pcm) {
    for (unsigned frame = 0; frame < frames; ++frame) {
        AppendSample(ToneSample(character, frame, voiceId), format, pcm);
    }
}

class ToneSynthesizer : public Synthesizer {
public:
    ToneSynthesizer(const std::wstring& text, TextSpan range, PcmFormat format, std::wstring voiceId)
        : text_(text), next_(range.position), end_(range.position + range.length), format_(format),
          voiceId_(std::move(voiceId)) {}

    bool NextPiece(long rate, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        if (next_ >= end_) return false;
        AppendCharacter(text_[next_], FramesPerCharacter(rate), voiceId_, format_, pcm);
        textPosition = static_cast<ULONG>(next_);
        textLength = 1;
        ++next_;
        return true;
    }

private:
    const std::wstring& text_;
    size_t next_;
    size_t end_;
    PcmFormat format_;
    std::wstring voiceId_;
};

}  // namespace

unsigned FramesPerCharacter(long rate) {
    if (rate < -10) rate = -10;
    if (rate > 10) rate = 10;
    return FramesPerCharacterTable[rate + 10];
}

short ToneSample(wchar_t character, unsigned frame, const std::wstring& voiceId) {
    if (character <= L' ') return 0;
    const int period = 6 + static_cast<int>(character % 23) + 2 * static_cast<int>(VoicePitchShift(voiceId));
    const int amplitude = 3000 + 97 * static_cast<int>(character % 64);
    const int phase = static_cast<int>(frame % period);
    const int triangle = phase < period / 2 ? phase : period - phase;  // 0 .. period / 2
    return static_cast<short>(amplitude * (4 * triangle - period) / period);
}

std::vector<unsigned char> RenderTone(const std::wstring& text, long rate, const std::wstring& voiceId,
                                      const WAVEFORMATEX& format) {
    PcmFormat pcmFormat;
    pcmFormat.samplesPerSec = format.nSamplesPerSec;
    pcmFormat.channels = format.nChannels;
    pcmFormat.bitsPerSample = format.wBitsPerSample;
    std::vector<unsigned char> pcm;
    for (wchar_t c : text) AppendCharacter(c, FramesPerCharacter(rate), voiceId, pcmFormat, pcm);
    return pcm;
}

std::vector<TextEvent> ToneSentenceEvents(const std::vector<unsigned char>& fileBytes, bool isXml, long rate,
                                          const WAVEFORMATEX& format) {
    const SpeechText speech = ParseSpeech(DecodeTextBytes(fileBytes), isXml);
    const ULONGLONG characterBytes =
        static_cast<ULONGLONG>(FramesPerCharacter(rate)) * format.nChannels * (format.wBitsPerSample / 8);
    std::vector<TextEvent> events;
    for (const TextSpan& sentence : FindSentences(speech.text)) {
        const TextSpan source = SourceSpan(speech, sentence);
        events.push_back({source.position, source.length, sentence.position * characterBytes});
    }
    return events;
}

std::unique_ptr<Synthesizer> MakeToneSynthesizer(const std::wstring& text, TextSpan range, PcmFormat format,
                                                 std::wstring voiceId) {
    return std::make_unique<ToneSynthesizer>(text, range, format, std::move(voiceId));
}

}  // namespace engine
