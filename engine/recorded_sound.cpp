#include "engine/recorded_sound.h"

#include "engine/espeak/pcm_convert.h"

namespace engine {

bool DecodePcm(const std::vector<unsigned char>& bytes, const WAVEFORMATEX& format, RecordedSound& sound) {
    const unsigned bits = format.wBitsPerSample;
    if (format.wFormatTag != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) || format.nChannels < 1 ||
        format.nChannels > 2 || format.nSamplesPerSec == 0) {
        return false;
    }
    const size_t frameBytes = format.nChannels * bits / 8;
    sound.sampleRate = format.nSamplesPerSec;
    sound.samples.clear();
    sound.samples.reserve(bytes.size() / frameBytes);
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        const short sample = bits == 8 ? static_cast<short>((bytes[at] - 128) * 256)
                                       : static_cast<short>(bytes[at] | (bytes[at + 1] << 8));
        sound.samples.push_back(sample);
    }
    return true;
}

std::vector<short> Resampled(const std::vector<short>& samples, DWORD fromRate, DWORD toRate) {
    if (fromRate == toRate || samples.empty() || fromRate == 0) return samples;
    const size_t count = static_cast<size_t>(static_cast<unsigned long long>(samples.size()) * toRate / fromRate);
    std::vector<short> out(count);
    for (size_t i = 0; i < count; ++i) {
        const double source = static_cast<double>(i) * fromRate / toRate;
        const size_t left = static_cast<size_t>(source);
        const size_t right = left + 1 < samples.size() ? left + 1 : left;
        const double weight = source - left;
        out[i] = static_cast<short>(samples[left] * (1 - weight) + samples[right] * weight);
    }
    return out;
}

namespace {

class RecordedSynthesizer : public Synthesizer {
public:
    RecordedSynthesizer(std::shared_ptr<const RecordedSound> sound, PcmFormat format)
        : sound_(std::move(sound)), format_(format) {}

    bool NextPiece(long, std::vector<unsigned char>& pcm, ULONG& textPosition, ULONG& textLength) override {
        if (played_) return false;
        played_ = true;
        const std::vector<unsigned char> packed =
            PackPcm(Resampled(sound_->samples, sound_->sampleRate, format_.samplesPerSec), format_);
        pcm.insert(pcm.end(), packed.begin(), packed.end());
        textPosition = 0;
        textLength = 0;
        return true;
    }

private:
    std::shared_ptr<const RecordedSound> sound_;
    PcmFormat format_;
    bool played_ = false;
};

}  // namespace

std::unique_ptr<Synthesizer> MakeRecordedSynthesizer(std::shared_ptr<const RecordedSound> sound, PcmFormat format) {
    return std::make_unique<RecordedSynthesizer>(std::move(sound), format);
}

}  // namespace engine
