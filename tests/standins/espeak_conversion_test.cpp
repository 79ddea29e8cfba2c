// Converting espeak-ng's 16-bit mono sound to the output's format: the resampler's length and
// values, piecewise conversion matching whole conversion, 8/16-bit and mono/stereo packing, and
// reading espeak-ng's wave files.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "engine/espeak/pcm_convert.h"

namespace {

const DWORD AllRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

std::vector<short> Ramp(size_t count, short step) {
    std::vector<short> samples(count);
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<short>(i * step);
    return samples;
}

std::vector<short> Resample(const std::vector<short>& samples, DWORD from, DWORD to) {
    engine::ResamplePosition position;
    return engine::ResampleLinear(samples, from, to, position);
}

TEST(EspeakConversion, OneSecondOfSoundLastsOneSecondAtEveryRate) {
    const std::vector<short> second(22050, 1000);
    for (DWORD rate : AllRates) {
        EXPECT_EQ(rate, Resample(second, 22050, rate).size()) << rate << " Hz";
        EXPECT_EQ(rate, engine::ResampledFrameCount(22050, 22050, rate)) << rate << " Hz";
    }
}

TEST(EspeakConversion, OddLengthsGiveTheFramesWithinThemAndNeverDrift) {
    // 1001 frames at 22050 Hz are 45.4 ms: 363.17 frames at 8000 Hz, 2179.05 at 48000 Hz; the
    // last frame starts within the sound.
    EXPECT_EQ(364u, Resample(std::vector<short>(1001), 22050, 8000).size());
    EXPECT_EQ(2180u, Resample(std::vector<short>(1001), 22050, 48000).size());
    // Many odd pieces in a row come out as long as their sum converted at once: no drift.
    for (DWORD rate : AllRates) {
        engine::ResamplePosition position;
        size_t produced = 0, consumed = 0;
        for (size_t piece = 1; piece < 200; piece += 7) {
            produced += engine::ResampleLinear(std::vector<short>(piece), 22050, rate, position).size();
            consumed += piece;
        }
        EXPECT_EQ(Resample(std::vector<short>(consumed), 22050, rate).size(), produced) << rate << " Hz";
        EXPECT_LT(std::abs(static_cast<double>(produced) / rate - static_cast<double>(consumed) / 22050), 1.0 / rate);
    }
}

TEST(EspeakConversion, InterpolatesLinearlyBetweenNeighbours) {
    // The same rate keeps every sample.
    const std::vector<short> samples = {5, -7, 32767, -32768, 0, 12};
    EXPECT_EQ(samples, Resample(samples, 22050, 22050));
    // Twice the rate: every second frame lies halfway between two samples; the last one has no
    // right neighbour and repeats the last sample.
    EXPECT_EQ(std::vector<short>({0, 50, 100, 150, 200, 250, 300, 300}), Resample(Ramp(4, 100), 1000, 2000));
    // Half the rate: the samples at the new frames.
    EXPECT_EQ(std::vector<short>({0, 20, 40}), Resample(Ramp(6, 10), 2000, 1000));
    // A ramp stays a ramp at an uneven ratio (within rounding).
    const std::vector<short> up = Resample(Ramp(2205, 10), 22050, 48000);
    for (size_t k = 0; k + 3 < up.size(); ++k) {
        ASSERT_NEAR(k * 22050.0 / 48000 * 10, up[k], 1.0) << "frame " << k;
    }
}

TEST(EspeakConversion, PiecesConvertAsTheWholeUpToTheFramesBetweenPieces) {
    std::vector<short> whole(3000);
    for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<short>((i * 7919) % 20000 - 10000);
    for (DWORD rate : AllRates) {
        engine::ResamplePosition position;
        std::vector<short> joined;
        std::vector<bool> pieceStarts(whole.size() + 1, false);
        for (size_t start = 0; start < whole.size();) {
            size_t length = std::min<size_t>(whole.size() - start, 1 + (start * 13) % 517);
            pieceStarts[start] = true;
            std::vector<short> piece(whole.begin() + start, whole.begin() + start + length);
            std::vector<short> out = engine::ResampleLinear(piece, 22050, rate, position);
            joined.insert(joined.end(), out.begin(), out.end());
            start += length;
        }
        const std::vector<short> expected = Resample(whole, 22050, rate);
        ASSERT_EQ(expected.size(), joined.size()) << rate << " Hz";
        for (size_t k = 0; k < joined.size(); ++k) {
            // Frame k lies at source index + remainder / rate.
            const ULONGLONG index = k * 22050ull / rate, remainder = k * 22050ull % rate;
            const bool betweenPieces = remainder != 0 && pieceStarts[index + 1];
            ASSERT_EQ(betweenPieces ? whole[index] : expected[k], joined[k]) << rate << " Hz, frame " << k;
        }
    }
}

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
