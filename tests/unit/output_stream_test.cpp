// The output stream object, driven as the engine drives it, against recording host entries.
#include "playback/output_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "playback/playback_state.h"
#include "base/module_objects.h"
#include "base/scoped.h"

namespace {

struct HostRecord {
    std::vector<int> outputWrites;       // byte counts given to the output's Write
    std::vector<std::vector<char>> outputBytes;
    std::vector<int> visFrames;          // calls of SAAddPCMData
    std::vector<std::pair<int, int>> visFormats;  // their channels and bits
    std::vector<int> dspFrames;          // frame counts given to the DSP
    int canWriteCalls = 0;
    int canWrite = 1 << 30;
    int openResult = 0;
    int openArgs[5] = {};
    bool dspActive = false;
    int dspReturn = -1;                  // -1: return the frames it was given
    int writtenTime = 0;
    // When set, the output's first Write signals `inWrite` and waits for `release`: the engine's
    // thread held inside a Write.
    HANDLE inWrite = nullptr;
    HANDLE release = nullptr;
};
HostRecord host;

int __cdecl FakeOpen(int rate, int channels, int bits, int a, int b) {
    int args[] = {rate, channels, bits, a, b};
    std::memcpy(host.openArgs, args, sizeof args);
    return host.openResult;
}
int __cdecl FakeWrite(char* data, int length) {
    if (host.release) {
        HANDLE release = host.release;
        host.release = nullptr;
        SetEvent(host.inWrite);
        WaitForSingleObject(release, INFINITE);
    }
    host.outputWrites.push_back(length);
    host.outputBytes.emplace_back(data, data + length);
    host.writtenTime += 1;
    return 0;
}
int __cdecl FakeCanWrite() {
    ++host.canWriteCalls;
    return host.canWrite;
}
int __cdecl FakeWrittenTime() { return host.writtenTime; }
void __cdecl FakeVis(void*, int channels, int bits, int) {
    host.visFrames.push_back(1);
    host.visFormats.emplace_back(channels, bits);
}
void __cdecl FakeVsa(void*, int, int, int) {}
int __cdecl FakeDspActive() { return host.dspActive; }
int __cdecl FakeDsp(short*, int frames, int, int, int) {
    host.dspFrames.push_back(frames);
    return host.dspReturn < 0 ? frames : host.dspReturn;
}

Out_Module output;

class OutputStream : public ::testing::Test {
protected:
    void SetUp() override {
        host = HostRecord();
        output = Out_Module();
        output.Open = FakeOpen;
        output.Write = FakeWrite;
        output.CanWrite = FakeCanWrite;
        output.GetWrittenTime = FakeWrittenTime;
        PluginModule.outMod = &output;
        PluginModule.SAAddPCMData = FakeVis;
        PluginModule.VSAAddPCMData = FakeVsa;
        PluginModule.dsp_isactive = FakeDspActive;
        PluginModule.dsp_dosamples = FakeDsp;
        PlaybackState.StopRequested = false;
    }
    ULONG WriteBytes(ULONG size) {
        std::vector<char> data(size);
        for (ULONG i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7);
        ULONG written = 12345;
        EXPECT_EQ(S_OK, stream_.Write(data.data(), size, &written));
        return written;
    }
    SpeechOutputStreamObject stream_;
};

TEST_F(OutputStream, UnconfiguredFormatIsNullGuidAndNoRecord) {
    GUID id;
    std::memset(&id, 0x55, sizeof id);
    WAVEFORMATEX* format = reinterpret_cast<WAVEFORMATEX*>(1);
    EXPECT_EQ(S_OK, stream_.GetFormat(&id, &format));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, id));
    EXPECT_EQ(nullptr, format);
}

TEST_F(OutputStream, ConfigureOpensTheOutputAndGetFormatHandsOutACopy) {
    host.openResult = 7;
    EXPECT_EQ(7, stream_.Configure(35));  // 44100 Hz, 16 bits, stereo
    EXPECT_EQ(44100, host.openArgs[0]);
    EXPECT_EQ(2, host.openArgs[1]);
    EXPECT_EQ(16, host.openArgs[2]);
    EXPECT_EQ(-1, host.openArgs[3]);
    EXPECT_EQ(-1, host.openArgs[4]);

    GUID id;
    WAVEFORMATEX* format = nullptr;
    EXPECT_EQ(S_OK, stream_.GetFormat(&id, &format));
    ASSERT_NE(nullptr, format);
    EXPECT_NE(stream_.WaveFormat(), format);
    EXPECT_EQ(0, std::memcmp(stream_.WaveFormat(), format, sizeof(WAVEFORMATEX)));
    CoTaskMemFree(format);
}

TEST_F(OutputStream, ConfigureReturnsANegativeOpenResultUnchanged) {
    host.openResult = -3;
    EXPECT_EQ(-3, stream_.Configure(4));
}

TEST_F(OutputStream, ConfigureWithoutAWaveFormatFailsWithoutOpening) {
    host.openArgs[0] = 99;
    EXPECT_LT(stream_.Configure(2), 0);
    EXPECT_EQ(99, host.openArgs[0]);
    EXPECT_LT(stream_.Configure(1), 0);  // text: a format id but no wave format
}

TEST_F(OutputStream, QueryInterfaceAnswersTheFourInterfacesWithoutCounting) {
    for (const IID* iid : {&IID_ISpStreamFormat, &IID_IStream, &IID_ISequentialStream, &IID_IUnknown}) {
        void* object = nullptr;
        EXPECT_EQ(S_OK, stream_.QueryInterface(*iid, &object));
        EXPECT_EQ(static_cast<void*>(&stream_), object);
    }
    // COM asks for a null pointer with every refusal: a caller may release whatever it finds there.
    void* refused = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(E_NOINTERFACE, stream_.QueryInterface(IID_IDispatch, &refused));
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(E_POINTER, stream_.QueryInterface(IID_IUnknown, nullptr));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(0u, stream_.Release());
    EXPECT_EQ(0u, stream_.AddRef());
}

TEST_F(OutputStream, ReadWritesTheByteOrderMarkOnlyIntoRoom) {
    unsigned char buffer[4] = {1, 2, 3, 4};
    ULONG read = 0;
    EXPECT_EQ(S_OK, stream_.Read(buffer, 4, &read));
    EXPECT_EQ(4u, read);
    EXPECT_EQ(0xFF, buffer[0]);
    EXPECT_EQ(0xFE, buffer[1]);
    EXPECT_EQ(3, buffer[2]);

    unsigned char one[2] = {9, 9};
    EXPECT_EQ(S_OK, stream_.Read(one, 1, &read));
    EXPECT_EQ(9, one[0]);
    EXPECT_EQ(9, one[1]);
}

TEST_F(OutputStream, StatDescribesALockableStream) {
    STATSTG stat;
    std::memset(&stat, 0xCC, sizeof stat);
    EXPECT_EQ(S_OK, stream_.Stat(&stat, 0));
    EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), stat.type);
    EXPECT_EQ(0u, stat.cbSize.QuadPart);
    EXPECT_EQ(3u, stat.grfLocksSupported);
    EXPECT_EQ(nullptr, stat.pwcsName);
    EXPECT_EQ(S_OK, stream_.Stat(nullptr, 0));
}

TEST_F(OutputStream, WriteSlicesIntoChunksOf576Frames) {
    stream_.Configure(39);  // 16-bit stereo: 4-byte frames
    EXPECT_EQ(5000u, WriteBytes(5000));
    EXPECT_EQ((std::vector<int>{2304, 2304, 392}), host.outputWrites);
    EXPECT_EQ(3u, host.visFrames.size());
    EXPECT_TRUE(host.dspFrames.empty());
}

TEST_F(OutputStream, WriteOfZeroBytesMakesOnePass) {
    stream_.Configure(4);
    EXPECT_EQ(0u, WriteBytes(0));
    EXPECT_EQ((std::vector<int>{0}), host.outputWrites);
}

TEST_F(OutputStream, ActiveDspDoublesTheChunkAndItsResultReachesTheOutput) {
    stream_.Configure(38);  // 16-bit mono: 2-byte frames
    host.dspActive = true;
    host.dspReturn = 100;
    WriteBytes(3000);
    EXPECT_EQ((std::vector<int>{1152, 348}), host.dspFrames);
    EXPECT_EQ((std::vector<int>{200, 200}), host.outputWrites);
}

TEST_F(OutputStream, DspGetsWholeFramesOnly) {
    stream_.Configure(39);
    host.dspActive = true;
    WriteBytes(4 * 10 + 3);
    EXPECT_EQ((std::vector<int>{10}), host.dspFrames);
    EXPECT_EQ((std::vector<int>{40}), host.outputWrites);
}

TEST_F(OutputStream, DspResultNeverReachesPastTheDspBuffer) {
    stream_.Configure(39);
    host.dspActive = true;
    host.dspReturn = 1000000;
    WriteBytes(400);
    ASSERT_EQ(1u, host.outputWrites.size());
    EXPECT_EQ(DSP_BUFFER_SIZE, host.outputWrites[0]);
    EXPECT_EQ(0, DspResultBytes(-5, 4));
    EXPECT_EQ(9216, DspResultBytes(5000, 4));
    EXPECT_EQ(9215, DspResultBytes(5000, 5));  // whole frames only: 1843 of 5 bytes
}

TEST_F(OutputStream, CompressedFormatWithoutFrameSizeStillAdvances) {
    EXPECT_EQ(576, ChunkBytes(0, false));
    stream_.Configure(57);  // ADPCM, 4 bits per sample
    host.dspActive = true;
    WriteBytes(1500);
    EXPECT_TRUE(host.dspFrames.empty());
    EXPECT_EQ((std::vector<int>{1152, 348}), host.outputWrites);
}

TEST_F(OutputStream, WaitingForRoomEndsWhenAStopIsUnderWay) {
    stream_.Configure(4);
    host.canWrite = 0;
    PlaybackState.StopRequested = true;
    EXPECT_EQ(1000u, WriteBytes(1000));
    EXPECT_TRUE(host.outputWrites.empty());
}

// After a purge that failed, the engine may still be inside a Write of the last file when the next
// file's Configure sets another format: that Write goes on in the format its data is in.
TEST_F(OutputStream, WriteOfAnEarlierFileKeepsItsFormatWhileTheNextIsConfigured) {
    stream_.Configure(38);  // 48000 Hz, 16 bits, mono: 1152-byte chunks
    ScopedHandle inWrite(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    host.inWrite = inWrite.Get();
    host.release = release.Get();
    std::thread engineThread([&] { WriteBytes(3 * 1152); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inWrite.Get(), 10000));
    stream_.Configure(4);  // the next file: 8000 Hz, 8 bits, mono
    SetEvent(release.Get());
    engineThread.join();

    EXPECT_EQ((std::vector<int>{1152, 1152, 1152}), host.outputWrites);
    for (const auto& format : host.visFormats) EXPECT_EQ(std::make_pair(1, 16), format);
    EXPECT_EQ(8000, static_cast<int>(stream_.WaveFormat()->nSamplesPerSec));
}

TEST_F(OutputStream, ChunksPassOnceTheOutputHasRoom) {
    stream_.Configure(4);  // 1-byte frames
    host.canWrite = 100;   // less than a chunk of 576
    std::thread later([] {
        Sleep(100);
        host.canWrite = 10000;
    });
    WriteBytes(1000);
    later.join();
    EXPECT_GT(host.canWriteCalls, 2);
    EXPECT_EQ((std::vector<int>{576, 424}), host.outputWrites);
    std::vector<char> all;
    for (auto& chunk : host.outputBytes) all.insert(all.end(), chunk.begin(), chunk.end());
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(static_cast<char>(i * 7), all[i]) << i;
}

}  // namespace
