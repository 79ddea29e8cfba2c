// Converting espeak-ng's 16-bit mono sound to the output's format: sox's rate conversion keeps
// what fits the new rate and leaves no aliases or images; 8/16-bit and mono/stereo packing; wave
// files read as espeak-ng and sox write them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/espeak/espeak_runner.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/espeak/unix_spawn.h"

namespace {

// ---- Rate conversion by sox, as the espeak-ng voices use it ------------------------------------

class SoxRateConversion : public ::testing::Test {
protected:
    void SetUp() override {
        if (!engine::UnixSpawnAvailable()) GTEST_SKIP() << "sox runs only under Wine";
    }
};

const DWORD EspeakRate = 22050;
const double ToneAmplitude = 16000;

std::vector<short> Tone(double frequency, size_t frames) {
    std::vector<short> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<short>(std::lround(ToneAmplitude * std::sin(2 * M_PI * frequency * i / EspeakRate)));
    return samples;
}

// The RMS level of the middle of a sound (its first and last 0.1 s, where filters settle, left out).
double Rms(const std::vector<short>& samples, DWORD rate) {
    const size_t edge = rate / 10;
    double sum = 0;
    size_t count = 0;
    for (size_t i = edge; i + edge < samples.size(); ++i, ++count) sum += static_cast<double>(samples[i]) * samples[i];
    return count ? std::sqrt(sum / count) : 0;
}

// The amplitude of one frequency in the middle of a sound (Hann window).
double AmplitudeAt(const std::vector<short>& samples, DWORD rate, double frequency) {
    const size_t edge = rate / 10, count = samples.size() - 2 * edge;
    double re = 0, im = 0;
    for (size_t i = 0; i < count; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * i / (count - 1));
        const double phase = 2 * M_PI * frequency * i / rate;
        re += samples[edge + i] * window * std::cos(phase);
        im -= samples[edge + i] * window * std::sin(phase);
    }
    return std::sqrt(re * re + im * im) / (count * 0.25);
}

double Decibels(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : -400; }

std::vector<short> Converted(const std::vector<short>& samples, DWORD rate) {
    std::vector<short> converted;
    EXPECT_EQ(S_OK, engine::ConvertWithSox(samples, EspeakRate, rate, converted));
    return converted;
}

// A 1 kHz tone keeps its level; what cannot exist at the new rate is gone: a tone above its
// Nyquist frequency when the rate goes down (it would alias below), and the image of a high tone
// mirrored at espeak-ng's Nyquist frequency when the rate goes up.
struct RateCase {
    DWORD rate;
    double tone;   // a tone above the new Nyquist frequency, or (going up) one in the passband
    double image;  // where going up would leave its image; 0 going down
};

TEST_F(SoxRateConversion, KeepsAOneKilohertzToneAndLeavesNoAliasesOrImages) {
    const RateCase cases[] = {
        {8000, 5000, 0},      {11025, 6000, 0},     {12000, 7000, 0},     {16000, 9000, 0},
        {24000, 9000, 13050}, {32000, 9000, 13050}, {44100, 9000, 13050}, {48000, 9000, 13050},
    };
    const std::vector<short> kilohertz = Tone(1000, 2 * EspeakRate);
    for (const RateCase& test : cases) {
        SCOPED_TRACE(std::to_string(test.rate) + " Hz");
        const std::vector<short> out = Converted(kilohertz, test.rate);
        EXPECT_NEAR(2.0 * test.rate, out.size(), 1.0);  // two seconds still
        EXPECT_NEAR(0.0, Decibels(Rms(out, test.rate) / Rms(kilohertz, EspeakRate)), 0.1);

        const std::vector<short> high = Tone(test.tone, 2 * EspeakRate);
        const std::vector<short> highOut = Converted(high, test.rate);
        if (test.image == 0) {
            EXPECT_LE(Decibels(Rms(highOut, test.rate) / Rms(high, EspeakRate)), -60.0);
        } else {
            EXPECT_LE(Decibels(AmplitudeAt(highOut, test.rate, test.image) / ToneAmplitude), -60.0);
            EXPECT_NEAR(0.0, Decibels(AmplitudeAt(highOut, test.rate, test.tone) / ToneAmplitude), 0.5);  // the tone passes
        }
    }
}

TEST_F(SoxRateConversion, AtEspeaksOwnRateEverySampleStays) {
    std::vector<short> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<short>((i * 7919) % 65536 - 32768);
    EXPECT_EQ(noise, Converted(noise, EspeakRate));
}

// ---- Packing and wave files -----------------------------------------------------------------------

TEST(EspeakConversion, PacksSixteenBitSignedLittleEndianAndEightBitUnsigned) {
    const std::vector<short> samples = {0, 0x1234, -2, 32767, -32768};
    engine::PcmFormat mono16{8000, 1, 16};
    const std::vector<unsigned char> expected16 = {0x00, 0x00, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80};
    EXPECT_EQ(expected16, engine::PackPcm(samples, mono16));

    engine::PcmFormat mono8{8000, 1, 8};
    // 128 is silence; the loudest negative sample is 0 and the loudest positive 255.
    const std::vector<unsigned char> expected8 = {128, 0x92, 127, 255, 0};
    EXPECT_EQ(expected8, engine::PackPcm(samples, mono8));
}

TEST(EspeakConversion, StereoCarriesTheSameSampleOnBothChannels) {
    const std::vector<short> samples = {100, -100, 20000};
    engine::PcmFormat stereo16{44100, 2, 16};
    const std::vector<unsigned char> pcm16 = engine::PackPcm(samples, stereo16);
    ASSERT_EQ(samples.size() * 4, pcm16.size());
    for (size_t frame = 0; frame < samples.size(); ++frame) {
        EXPECT_EQ(0, std::memcmp(&pcm16[frame * 4], &pcm16[frame * 4 + 2], 2)) << "frame " << frame;
    }
    engine::PcmFormat stereo8{44100, 2, 8};
    const std::vector<unsigned char> expected8 = {128, 128, 127, 127, 206, 206};
    EXPECT_EQ(expected8, engine::PackPcm(samples, stereo8));
}

// A wave file as espeak-ng writes it, with optional extra chunk and a data size to claim.
std::vector<unsigned char> WaveBytes(WORD channels, WORD bits, DWORD rate, const std::vector<short>& samples,
                                     DWORD claimedDataBytes, bool extraChunk) {
    std::vector<unsigned char> bytes;
    auto put16 = [&](unsigned v) { bytes.push_back(v & 0xFF); bytes.push_back((v >> 8) & 0xFF); };
    auto put32 = [&](unsigned long v) { put16(v & 0xFFFF); put16((v >> 16) & 0xFFFF); };
    auto tag = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
    tag("RIFF");
    put32(0xFFFFFFFF);
    tag("WAVE");
    if (extraChunk) {
        tag("LIST");
        put32(3);  // odd: padded to 4
        bytes.insert(bytes.end(), {'a', 'b', 'c', 0});
    }
    tag("fmt ");
    put32(16);
    put16(WAVE_FORMAT_PCM);
    put16(channels);
    put32(rate);
    put32(rate * channels * bits / 8);
    put16(channels * bits / 8);
    put16(bits);
    tag("data");
    put32(claimedDataBytes);
    for (short s : samples) put16(static_cast<unsigned short>(s));
    return bytes;
}

TEST(EspeakConversion, ReadsWaveFilesAsEspeakWritesThemAndNothingElse) {
    const std::vector<short> samples = {1, -2, 3, -4, 5, -6};
    DWORD rate = 0;
    std::vector<short> read;

    ASSERT_TRUE(engine::ReadWave16(WaveBytes(1, 16, 22050, samples, 12, false), rate, read));
    EXPECT_EQ(22050u, rate);
    EXPECT_EQ(samples, read);

    // A chunk before the format, padded to an even length, is skipped.
    ASSERT_TRUE(engine::ReadWave16(WaveBytes(1, 16, 16000, samples, 12, true), rate, read));
    EXPECT_EQ(16000u, rate);
    EXPECT_EQ(samples, read);

    // A data size never filled in (or too large) means the rest of the file.
    ASSERT_TRUE(engine::ReadWave16(WaveBytes(1, 16, 22050, samples, 0x7FFFFFFF, false), rate, read));
    EXPECT_EQ(samples, read);

    // Stereo: the first channel.
    ASSERT_TRUE(engine::ReadWave16(WaveBytes(2, 16, 22050, samples, 12, false), rate, read));
    EXPECT_EQ(std::vector<short>({1, 3, 5}), read);

    // Not 16-bit PCM, no data chunk, no wave file at all.
    EXPECT_FALSE(engine::ReadWave16(WaveBytes(1, 8, 22050, {1, 2}, 4, false), rate, read));
    std::vector<unsigned char> noData = WaveBytes(1, 16, 22050, {}, 0, false);
    noData.resize(noData.size() - 8);
    EXPECT_FALSE(engine::ReadWave16(noData, rate, read));
    EXPECT_FALSE(engine::ReadWave16(std::vector<unsigned char>(44, 0), rate, read));
}

}  // namespace
