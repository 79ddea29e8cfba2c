// The player's output module: its device buffer against the real clock, the calls it records, and
// the wave file it writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/call_log.h"
#include "host/files.h"
#include "host/output_module.h"
#include "host/wav_file.h"

namespace host {
namespace {

class OutputModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = CreateUniqueTempFolder("host_output_");
        ASSERT_FALSE(folder_.empty());
        ClearCallLog();
    }
    void TearDown() override {
        out_->Close();
        FinishOutput();
        ConfigureOutput(OutputOptions{});
        RemoveFolderTree(folder_);
    }
    void Configure(DrainMode drain, const std::string& wavName = "", int openResult = 0) {
        OutputOptions options;
        options.drain = drain;
        options.openResult = openResult;
        if (!wavName.empty()) options.wavPath = folder_ + "\\" + wavName;
        ConfigureOutput(options);
    }
    void WriteBytes(std::vector<char> bytes) { out_->Write(bytes.data(), static_cast<int>(bytes.size())); }

    Out_Module* out_ = OutputModule();
    std::string folder_;
};

uint32_t U32(const std::string& file, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, file.data() + at, 4);
    return value;
}

uint16_t U16(const std::string& file, size_t at) {
    uint16_t value = 0;
    std::memcpy(&value, file.data() + at, 2);
    return value;
}

std::vector<char> Pattern(size_t size, int seed) {
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + seed);
    return bytes;
}

TEST_F(OutputModuleTest, TimesAreTrueToTheBytesWrittenAndPlayed) {
    Configure(DrainMode::Stalled);
    EXPECT_EQ(2000, out_->Open(44100, 2, 16, -1, -1));  // no length asked for: two seconds
    EXPECT_EQ(352800, out_->CanWrite());
    EXPECT_EQ(0, out_->IsPlaying());

    WriteBytes(std::vector<char>(176400));
    EXPECT_EQ(1000, out_->GetWrittenTime());
    EXPECT_EQ(0, out_->GetOutputTime());
    EXPECT_EQ(176400, out_->CanWrite());
    EXPECT_NE(0, out_->IsPlaying());

    SetOutputDrain(DrainMode::Instant);
    EXPECT_EQ(1000, out_->GetOutputTime());
    EXPECT_EQ(0, out_->IsPlaying());
    EXPECT_EQ(352800, out_->CanWrite());

    EXPECT_EQ(500, out_->Open(8000, 1, 8, 500, -1));  // a length asked for is used
    EXPECT_EQ(4000, out_->CanWrite());
    EXPECT_EQ(0, out_->GetWrittenTime());
}

TEST_F(OutputModuleTest, RealClockDrainsTheBuffer) {
    Configure(DrainMode::Clock);
    ASSERT_GE(out_->Open(8000, 1, 16, 1000, -1), 0);
    WriteBytes(std::vector<char>(3200));  // 200 ms
    const DWORD start = GetTickCount();
    while (out_->IsPlaying() && GetTickCount() - start < 10000) Sleep(10);
    EXPECT_EQ(0, out_->IsPlaying()) << "200 ms of sound still playing after 10 s";
    EXPECT_EQ(16000, out_->CanWrite());
    EXPECT_EQ(200, out_->GetOutputTime());
}

TEST_F(OutputModuleTest, PauseHoldsTheBufferUntilResumed) {
    Configure(DrainMode::Instant);
    ASSERT_GE(out_->Open(22050, 1, 16, 1000, -1), 0);
    EXPECT_EQ(0, out_->Pause(1));  // the previous state is answered
    WriteBytes(std::vector<char>(4410));
    EXPECT_NE(0, out_->IsPlaying());
    EXPECT_EQ(44100 - 4410, out_->CanWrite());
    EXPECT_EQ(0, out_->GetOutputTime());
    EXPECT_EQ(1, out_->Pause(0));
    EXPECT_EQ(0, out_->IsPlaying());
    EXPECT_EQ(100, out_->GetOutputTime());
    EXPECT_TRUE(OutputSnapshot().open);
}

TEST_F(OutputModuleTest, ClosedOrFailedDeviceTakesNothing) {
    Configure(DrainMode::Instant, "", -7);
    EXPECT_EQ(-7, out_->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(0, out_->CanWrite());
    const int closedWritesBefore = OutputSnapshot().writesWhileClosed;
    WriteBytes(std::vector<char>(100));
    EXPECT_EQ(closedWritesBefore + 1, OutputSnapshot().writesWhileClosed);

    Configure(DrainMode::Stalled);
    ASSERT_GE(out_->Open(44100, 2, 16, -1, -1), 0);
    WriteBytes(std::vector<char>(400));
    out_->Close();
    EXPECT_FALSE(OutputSnapshot().open);
    EXPECT_EQ(0, out_->CanWrite());
    EXPECT_EQ(0, out_->IsPlaying());
    EXPECT_EQ(closedWritesBefore + 1, OutputSnapshot().writesWhileClosed);
}

TEST_F(OutputModuleTest, WritesBeyondTheRoomAreCounted) {
    Configure(DrainMode::Stalled);
    ASSERT_GE(out_->Open(8000, 1, 8, 100, -1), 0);  // 800 bytes of room
    const int before = OutputSnapshot().writesBeyondRoom;
    WriteBytes(std::vector<char>(800));
    EXPECT_EQ(before, OutputSnapshot().writesBeyondRoom);
    WriteBytes(std::vector<char>(1));
    EXPECT_EQ(before + 1, OutputSnapshot().writesBeyondRoom);
}

TEST_F(OutputModuleTest, EveryCallIsRecordedWithItsArgumentsAndThread) {
    Configure(DrainMode::Stalled);
    out_->Open(11025, 1, 16, -1, -1);
    out_->SetVolume(200);
    out_->SetPan(-30);
    std::vector<char> bytes = Pattern(64, 3);
    DWORD writerThread = 0;
    std::thread writer([&] {
        writerThread = GetCurrentThreadId();
        out_->Write(bytes.data(), 64);
    });
    writer.join();
    out_->Pause(1);
    out_->Close();

    const std::vector<HostCall> calls = LoggedCalls();
    ASSERT_EQ(6u, calls.size());
    EXPECT_EQ(Call::Open, calls[0].call);
    EXPECT_EQ(11025, calls[0].args[0]);
    EXPECT_EQ(1, calls[0].args[1]);
    EXPECT_EQ(16, calls[0].args[2]);
    EXPECT_EQ(-1, calls[0].args[3]);
    EXPECT_EQ(-1, calls[0].args[4]);
    EXPECT_EQ(GetCurrentThreadId(), calls[0].thread);
    EXPECT_EQ(200, calls[1].args[0]);
    EXPECT_EQ(-30, calls[2].args[0]);
    EXPECT_EQ(Call::Write, calls[3].call);
    EXPECT_EQ(64, calls[3].args[1]);
    EXPECT_EQ(writerThread, calls[3].thread);
    EXPECT_NE(GetCurrentThreadId(), calls[3].thread);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), calls[3].data);
    EXPECT_EQ(Call::Pause, calls[4].call);
    EXPECT_EQ(1, calls[4].args[0]);
    EXPECT_EQ(Call::Close, calls[5].call);
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_GT(calls[i].sequence, calls[i - 1].sequence);

    EXPECT_EQ(200, OutputSnapshot().volume);
    EXPECT_EQ(-30, OutputSnapshot().pan);
    EXPECT_EQ(1u, CountCalls(Call::Write));
    EXPECT_EQ(1u, LoggedCalls(Call::Pause).size());
}

TEST(WavHeader, FieldsForSeveralFormats) {
    struct Case {
        PcmFormat format;
        uint32_t dataBytes;
        uint32_t byteRate;
        uint16_t blockAlign;
        uint32_t riffSize;
    } cases[] = {
        {{44100, 2, 16}, 17640, 176400, 4, 17676},
        {{8000, 1, 8}, 801, 8000, 1, 838},  // odd data: a pad byte is counted
        {{22050, 1, 16}, 0, 44100, 2, 36},
        {{48000, 2, 8}, 96000, 96000, 2, 96036},
    };
    for (const Case& c : cases) {
        uint8_t raw[WAV_HEADER_SIZE];
        BuildWavHeader(c.format, c.dataBytes, raw);
        const std::string header(reinterpret_cast<char*>(raw), sizeof raw);
        SCOPED_TRACE(std::to_string(c.format.rate) + " Hz " + std::to_string(c.format.bits) + " bit");
        EXPECT_EQ("RIFF", header.substr(0, 4));
        EXPECT_EQ(c.riffSize, U32(header, 4));
        EXPECT_EQ("WAVEfmt ", header.substr(8, 8));
        EXPECT_EQ(16u, U32(header, 16));
        EXPECT_EQ(1, U16(header, 20));
        EXPECT_EQ(c.format.channels, U16(header, 22));
        EXPECT_EQ(static_cast<uint32_t>(c.format.rate), U32(header, 24));
        EXPECT_EQ(c.byteRate, U32(header, 28));
        EXPECT_EQ(c.blockAlign, U16(header, 32));
        EXPECT_EQ(c.format.bits, U16(header, 34));
        EXPECT_EQ("data", header.substr(36, 4));
        EXPECT_EQ(c.dataBytes, U32(header, 40));
    }
}

TEST_F(OutputModuleTest, WaveFileHoldsWhatWasWrittenInTheOpenedFormat) {
    Configure(DrainMode::Instant, "out.wav");
    ASSERT_GE(out_->Open(8000, 1, 8, -1, -1), 0);
    const std::vector<char> first = Pattern(601, 1), second = Pattern(200, 2);
    WriteBytes(first);
    WriteBytes(second);
    out_->Close();

    const std::string wav = ReadWholeFile(folder_ + "\\out.wav");
    ASSERT_EQ(44u + 801 + 1, wav.size());  // with the pad byte after odd data
    EXPECT_EQ(838u, U32(wav, 4));
    EXPECT_EQ(1, U16(wav, 22));
    EXPECT_EQ(8000u, U32(wav, 24));
    EXPECT_EQ(8, U16(wav, 34));
    EXPECT_EQ(801u, U32(wav, 40));
    EXPECT_EQ(std::string(first.begin(), first.end()) + std::string(second.begin(), second.end()),
              wav.substr(44, 801));
}

TEST_F(OutputModuleTest, SameFormatContinuesTheFileAnotherStartsTheNext) {
    Configure(DrainMode::Instant, "run.wav");
    const std::vector<char> a = Pattern(1001, 1), b = Pattern(3000, 2), c = Pattern(400, 3);
    ASSERT_GE(out_->Open(22050, 1, 8, -1, -1), 0);
    WriteBytes(a);
    out_->Close();
    ASSERT_GE(out_->Open(22050, 1, 8, -1, -1), 0);
    WriteBytes(b);  // overwrites the pad byte the first Close wrote
    out_->Close();
    ASSERT_GE(out_->Open(44100, 2, 16, -1, -1), 0);
    WriteBytes(c);
    out_->Close();
    FinishOutput();

    const std::string run = ReadWholeFile(folder_ + "\\run.wav");
    ASSERT_EQ(44u + 4001 + 1, run.size());
    EXPECT_EQ(4001u, U32(run, 40));
    EXPECT_EQ(36u + 4002, U32(run, 4));
    EXPECT_EQ(std::string(a.begin(), a.end()) + std::string(b.begin(), b.end()), run.substr(44, 4001));

    const std::string next = ReadWholeFile(folder_ + "\\run-2.wav");
    ASSERT_EQ(44u + 400, next.size());
    EXPECT_EQ(2, U16(next, 22));
    EXPECT_EQ(44100u, U32(next, 24));
    EXPECT_EQ(400u, U32(next, 40));
    EXPECT_EQ(std::string(c.begin(), c.end()), next.substr(44));
}

// Without the call log the module still models the device; the log keeps nothing meanwhile.
TEST_F(OutputModuleTest, WithoutTheCallLogTheDeviceStillCountsWhatIsWritten) {
    Configure(DrainMode::Stalled);
    ASSERT_GT(out_->Open(8000, 1, 16, 1000, -1), 0);
    WriteBytes(std::vector<char>(100, 1));
    const size_t logged = LoggedCalls().size();

    SetCallLogging(false);
    WriteBytes(std::vector<char>(300, 2));
    const int room = out_->CanWrite();
    SetCallLogging(true);

    EXPECT_EQ(16000 - 400, room);
    EXPECT_EQ(400, OutputSnapshot().written);
    EXPECT_EQ(logged, LoggedCalls().size());
    WriteBytes(std::vector<char>(2, 3));  // logging again
    ASSERT_EQ(2u, LoggedCalls(Call::Write).size());
    EXPECT_EQ(std::vector<uint8_t>(2, 3), LoggedCalls(Call::Write).back().data);
}

}  // namespace
}  // namespace host
