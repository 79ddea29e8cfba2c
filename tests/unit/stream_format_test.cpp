#include "playback/stream_format.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <vector>

namespace {

const GUID FormatIdWaveFormatEx = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};
const GUID FormatIdText = {0x7CEEF9F9, 0x3D13, 0x11D2, {0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

// The record a stream-format index builds, as raw bytes, with its format id and result.
struct Built {
    HRESULT result;
    GUID id;
    std::vector<unsigned char> bytes;
    bool hasRecord;
};

Built Build(int index) {
    Built built{};
    WAVEFORMATEX* format = reinterpret_cast<WAVEFORMATEX*>(0x1);  // must be overwritten
    std::memset(&built.id, 0xAB, sizeof built.id);
    built.result = BuildWaveFormat(index, &built.id, &format);
    built.hasRecord = format != nullptr;
    if (format) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(format);
        built.bytes.assign(p, p + 18 + format->cbSize);
        CoTaskMemFree(format);
    }
    return built;
}

// The 18 bytes of a WAVEFORMATEX, little-endian.
std::vector<unsigned char> Header(int tag, int channels, int rate, int avg, int align, int bits, int extra) {
    auto put16 = [](std::vector<unsigned char>& v, int x) { v.push_back(x & 0xFF); v.push_back((x >> 8) & 0xFF); };
    auto put32 = [&](std::vector<unsigned char>& v, int x) { put16(v, x & 0xFFFF); put16(v, (x >> 16) & 0xFFFF); };
    std::vector<unsigned char> v;
    put16(v, tag); put16(v, channels); put32(v, rate); put32(v, avg); put16(v, align); put16(v, bits); put16(v, extra);
    return v;
}

void Append16(std::vector<unsigned char>& v, int x) { v.push_back(x & 0xFF); v.push_back((x >> 8) & 0xFF); }

TEST(StreamFormat, WaveFormatExIsEighteenBytes) { EXPECT_EQ(18u, sizeof(WAVEFORMATEX)); }

TEST(StreamFormat, SampleRateTableHasNineRates) {
    const int expected[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(expected[i], SampleRates[i]) << "row " << i;
}

TEST(StreamFormat, IndexFromModes) {
    EXPECT_EQ(4, StreamFormatIndexOf(0, 0, 0));
    EXPECT_EQ(38, StreamFormatIndexOf(8, 1, 0));  // the default settings
    EXPECT_EQ(35, StreamFormatIndexOf(7, 1, 1));
    EXPECT_EQ(39, StreamFormatIndexOf(8, 1, 1));
}

TEST(StreamFormat, EveryPcmIndexMatchesItsModes) {
    for (int rate = 0; rate < 9; ++rate)
        for (int bits = 0; bits < 2; ++bits)
            for (int channels = 0; channels < 2; ++channels) {
                int index = StreamFormatIndexOf(rate, bits, channels);
                Built b = Build(index);
                ASSERT_EQ(S_OK, b.result) << index;
                EXPECT_TRUE(IsEqualGUID(FormatIdWaveFormatEx, b.id)) << index;
                int nch = channels + 1, nbits = bits ? 16 : 8, align = nch * nbits / 8;
                EXPECT_EQ(Header(1, nch, SampleRates[rate], align * SampleRates[rate], align, nbits, 0), b.bytes)
                    << "index " << index;
            }
}

TEST(StreamFormat, PcmExamples) {
    EXPECT_EQ(Header(1, 1, 8000, 8000, 1, 8, 0), Build(4).bytes);
    EXPECT_EQ(Header(1, 2, 48000, 192000, 4, 16, 0), Build(39).bytes);
    EXPECT_EQ(Header(1, 1, 48000, 96000, 2, 16, 0), Build(38).bytes);
    EXPECT_EQ(Header(1, 1, 22050, 44100, 2, 16, 0), Build(22).bytes);
    EXPECT_EQ(Header(1, 2, 44100, 88200, 2, 8, 0), Build(33).bytes);
}

TEST(StreamFormat, NoneAndTextHaveNoRecord) {
    Built none = Build(0);
    EXPECT_EQ(S_OK, none.result);
    EXPECT_FALSE(none.hasRecord);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, none.id));

    Built text = Build(1);
    EXPECT_EQ(S_OK, text.result);
    EXPECT_FALSE(text.hasRecord);
    EXPECT_TRUE(IsEqualGUID(FormatIdText, text.id));
}

TEST(StreamFormat, IndexesWithoutARowFailButStillClearTheOutputs) {
    for (int index : {-1, 2, 3, 69, 70, 1000, INT_MIN}) {
        Built b = Build(index);
        EXPECT_EQ(E_INVALIDARG, b.result) << index;
        EXPECT_FALSE(b.hasRecord) << index;
        EXPECT_TRUE(IsEqualGUID(GUID_NULL, b.id)) << index;
    }
}

TEST(StreamFormat, BadOutPointersWriteNothing) {
    WAVEFORMATEX* format = reinterpret_cast<WAVEFORMATEX*>(0x1234);
    EXPECT_EQ(E_INVALIDARG, BuildWaveFormat(4, nullptr, &format));
    EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(0x1234), format);

    GUID id;
    std::memset(&id, 0xAB, sizeof id);
    GUID untouched = id;
    EXPECT_EQ(E_INVALIDARG, BuildWaveFormat(4, &id, nullptr));
    EXPECT_TRUE(IsEqualGUID(untouched, id));

    // A pointer into read-only memory is refused too.
    static const GUID readOnly = {};
    EXPECT_EQ(E_INVALIDARG, BuildWaveFormat(4, const_cast<GUID*>(&readOnly), &format));
}

TEST(StreamFormat, TrueSpeech) {
    auto expected = Header(0x22, 1, 8000, 1067, 32, 1, 32);
    Append16(expected, 1);
    Append16(expected, 240);
    expected.resize(50, 0);
    Built b = Build(40);
    EXPECT_EQ(S_OK, b.result);
    EXPECT_TRUE(IsEqualGUID(FormatIdWaveFormatEx, b.id));
    EXPECT_EQ(expected, b.bytes);
}

TEST(StreamFormat, ALawAndMuLaw) {
    const int rates[] = {8000, 11025, 22050, 44100};
    for (int j = 0; j < 8; ++j) {
        int channels = j % 2 + 1, rate = rates[j / 2];
        EXPECT_EQ(Header(6, channels, rate, channels * rate, channels, 8, 0), Build(41 + j).bytes) << j;
        EXPECT_EQ(Header(7, channels, rate, channels * rate, channels, 8, 0), Build(49 + j).bytes) << j;
    }
}

TEST(StreamFormat, AdpcmRows) {
    const int rates[] = {8000, 8000, 11025, 11025, 22050, 22050, 44100, 44100};
    const int avg[] = {4096, 8192, 5644, 11289, 11155, 22311, 22179, 44359};
    const int align[] = {256, 512, 256, 512, 512, 1024, 1024, 2048};
    const int samples[] = {500, 500, 500, 500, 1012, 1012, 2036, 2036};
    const int coefficients[] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
    for (int j = 0; j < 8; ++j) {
        auto expected = Header(2, j % 2 + 1, rates[j], avg[j], align[j], 4, 32);
        Append16(expected, samples[j]);
        Append16(expected, 7);
        for (int c : coefficients) Append16(expected, c & 0xFFFF);
        EXPECT_EQ(expected, Build(57 + j).bytes) << "row " << j;
    }
}

TEST(StreamFormat, Gsm610Rows) {
    const int rates[] = {8000, 11025, 22050, 44100};
    const int avg[] = {1625, 2239, 4478, 8957};
    for (int j = 0; j < 4; ++j) {
        auto expected = Header(0x31, 1, rates[j], avg[j], 65, 0, 2);
        Append16(expected, 320);
        EXPECT_EQ(expected, Build(65 + j).bytes) << "row " << j;
    }
}

TEST(StreamFormat, CopyOfAnAdpcmRecordIsEqualByteForByte) {
    GUID id;
    WAVEFORMATEX* source = nullptr;
    ASSERT_EQ(S_OK, BuildWaveFormat(58, &id, &source));
    WAVEFORMATEX* copy = nullptr;
    ASSERT_EQ(S_OK, CopyWaveFormat(source, &copy));
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(source, copy);
    EXPECT_EQ(50, 18 + copy->cbSize);
    EXPECT_EQ(0, std::memcmp(source, copy, 50));
    CoTaskMemFree(source);
    CoTaskMemFree(copy);
}

}  // namespace
