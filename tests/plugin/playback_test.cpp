// Speaking files through the real DLL: what reaches the player, in which chunks, and when the player
// is told a file has ended.
#include <thread>

#include "tests/plugin/plugin_fixture.h"

namespace {

const char STORY[] = "The quick brown fox jumps over the lazy dog. It was a bright cold day in April.";

// The chunks the plug-in must make of the engine's blocks: chunkBytes each, the rest of a block last.
std::vector<int> ExpectedChunks(const std::vector<ULONG>& blocks, int chunkBytes) {
    std::vector<int> chunks;
    for (ULONG block : blocks) {
        int left = static_cast<int>(block);
        do {
            int length = left < chunkBytes ? left : chunkBytes;
            chunks.push_back(length);
            left -= length;
        } while (left > 0);
    }
    return chunks;
}

class PlaybackTest : public PluginTest {};

TEST_F(PlaybackTest, OutputReceivesExactlyTheVoicesPcm) {
    LoadAndInit();
    std::string file = MakeFile("story.txt", STORY);
    ASSERT_EQ(0, host_->Play(file));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));

    ULONG stream = engine::LastStreamNumber();
    std::vector<unsigned char> delivered = engine::DeliveredPcm(stream);
    // Default settings: 48000 Hz, 16 bits, mono.
    std::vector<unsigned char> expected = engine::RenderTone(
        engine::SpokenText(std::vector<unsigned char>(STORY, STORY + sizeof STORY - 1), false), 0,
        engine::CurrentVoiceId(), PcmFormat(48000, 16, 1));
    EXPECT_EQ(expected, delivered);
    EXPECT_EQ(delivered, OutputBytes());
    EXPECT_EQ(1, host_->EndOfFileCount());
}

TEST_F(PlaybackTest, BlocksAreSlicedInto576FrameChunks) {
    LoadAndInit(WithSettings("[in_txt]\r\nSampleRateMode=7\r\nBitsPerSampleMode=1\r\nNumChannelsMode=1\r\n"));
    engine::SetBlockSizes({5000, 1000, 12000, 4});
    ASSERT_EQ(0, host_->Play(MakeFile("story.txt", STORY)));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    std::vector<ULONG> blocks = engine::WriteSizes(engine::LastStreamNumber());
    EXPECT_EQ(ExpectedChunks(blocks, 576 * 4), OutputWriteSizes());
    EXPECT_EQ(engine::DeliveredPcm(), OutputBytes());
}

TEST_F(PlaybackTest, ActiveDspGetsChunksOf1152FramesAndItsResultIsPlayed) {
    LoadAndInit();
    host::SetDspMode(host::DspMode::DoubleFrames);
    engine::SetBlockSizes({6000});
    ASSERT_EQ(0, host_->Play(MakeFile("story.txt", STORY)));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));

    std::vector<ULONG> blocks = engine::WriteSizes(engine::LastStreamNumber());
    std::vector<int> chunks = ExpectedChunks(blocks, 1152 * 2);
    std::vector<host::HostCall> dsp = host::LoggedCalls(host::Call::DspDoSamples);
    ASSERT_EQ(chunks.size(), dsp.size());
    for (size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i] / 2, dsp[i].args[1]) << "chunk " << i;

    std::vector<int> written = OutputWriteSizes();
    ASSERT_EQ(chunks.size(), written.size());
    for (size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i] * 2, written[i]) << "chunk " << i;

    // The visualisation sees the voice's own samples, before the DSP.
    EXPECT_EQ(chunks.size(), host::CountCalls(host::Call::SAAddPCMData));
    EXPECT_EQ(chunks.size(), host::CountCalls(host::Call::VSAAddPCMData));
}

TEST_F(PlaybackTest, OversizedDspResultIsClampedToTheDspBuffer) {
    LoadAndInit(WithSettings("[in_txt]\r\nSampleRateMode=8\r\nBitsPerSampleMode=1\r\nNumChannelsMode=1\r\n"));
    host::SetDspMode(host::DspMode::Oversized);
    ASSERT_EQ(0, host_->Play(MakeFile("story.txt", STORY)));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    std::vector<int> written = OutputWriteSizes();
    ASSERT_FALSE(written.empty());
    for (int size : written) EXPECT_EQ(9216, size);
}

struct FormatCase {
    const char* ini;
    int rate, bits, channels, kbps, khz;
};

// Names the case by its format: the test's name in CTest is made of it, and must not change from
// one build to the next (the default print shows the string's address).
void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.rate << " Hz " << c.bits << " bit " << c.channels << (c.channels == 1 ? " channel" : " channels");
}

class StreamParameters : public PluginTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(StreamParameters, AreAnnouncedToThePlayerAndTheOutput) {
    const FormatCase& c = GetParam();
    LoadAndInit(WithSettings(std::string("[in_txt]\r\n") + c.ini + "\r\n"));
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hi there.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));

    auto open = host::LoggedCalls(host::Call::Open);
    ASSERT_EQ(1u, open.size());
    EXPECT_EQ(c.rate, open[0].args[0]);
    EXPECT_EQ(c.channels, open[0].args[1]);
    EXPECT_EQ(c.bits, open[0].args[2]);
    EXPECT_EQ(-1, open[0].args[3]);
    EXPECT_EQ(-1, open[0].args[4]);
    auto info = host::LoggedCalls(host::Call::SetInfo);
    ASSERT_EQ(1u, info.size());
    EXPECT_EQ(c.kbps, info[0].args[0]);
    EXPECT_EQ(c.khz, info[0].args[1]);
    EXPECT_EQ(c.channels, info[0].args[2]);
    EXPECT_EQ(1, info[0].args[3]);
    auto vis = host::LoggedCalls(host::Call::SAVSAInit);
    ASSERT_EQ(1u, vis.size());
    EXPECT_EQ(1, vis[0].args[0]);
    EXPECT_EQ(c.rate, vis[0].args[1]);
    auto vsa = host::LoggedCalls(host::Call::VSASetInfo);
    ASSERT_EQ(1u, vsa.size());
    EXPECT_EQ(c.channels, vsa[0].args[0]);
    EXPECT_EQ(c.rate, vsa[0].args[1]);

    std::vector<unsigned char> expected =
        engine::RenderTone(L"Hi there.", 0, engine::CurrentVoiceId(), PcmFormat(c.rate, c.bits, c.channels));
    EXPECT_EQ(expected, OutputBytes());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StreamParameters,
    ::testing::Values(FormatCase{"SampleRateMode=7\r\nBitsPerSampleMode=1\r\nNumChannelsMode=1", 44100, 16, 2, 1411, 44},
                      FormatCase{"SampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=0", 8000, 8, 1, 64, 8},
                      FormatCase{"SampleRateMode=1\r\nBitsPerSampleMode=1\r\nNumChannelsMode=0", 11025, 16, 1, 176, 11},
                      FormatCase{"SampleRateMode=4\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1", 22050, 8, 2, 352, 22}));

TEST_F(PlaybackTest, TextAndMarkupFilesAreSpokenWithTheirFlags) {
    LoadAndInit();
    std::string text = MakeFile("plain.txt", "One two.");
    std::string markup = MakeFile("talk.Xml", "<speak>One <emph>two</emph>.</speak>");
    std::string dotless = MakeFile("readme", "Three.");
    for (const std::string& file : {text, markup, dotless}) {
        ASSERT_EQ(0, host_->Play(file));
        ASSERT_TRUE(host_->WaitForEndOfFile(20000)) << file;
        host_->Stop();
    }
    EXPECT_EQ(1, LogCount(L"Speak(" + Wide(text) + L", 21)"));
    EXPECT_EQ(1, LogCount(L"Speak(" + Wide(markup) + L", 13)"));
    EXPECT_EQ(1, LogCount(L"Speak(" + Wide(dotless) + L", 21)"));
}

TEST_F(PlaybackTest, MarkupTagsAreNotSpoken) {
    LoadAndInit();
    ASSERT_EQ(0, host_->Play(MakeFile("talk.xml", "<speak>Hello <emph>world</emph></speak>")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    std::vector<unsigned char> expected =
        engine::RenderTone(L"Hello world", 0, engine::CurrentVoiceId(), PcmFormat(48000, 16, 1));
    EXPECT_EQ(expected, OutputBytes());
}

TEST_F(PlaybackTest, ConfiguredRateReachesTheVoice) {
    LoadAndInit(WithSettings("[in_txt]\r\nRate=-7\r\n"));
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", STORY)));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_TRUE(LogHas(L"SetRate(-7)"));
    EXPECT_EQ(-7, engine::CurrentRate());
}

TEST_F(PlaybackTest, PlaylistPlaysEveryFileOnceInOrder) {
    LoadAndInit();
    std::vector<std::string> files = {MakeFile("1.txt", "First file."), MakeFile("2.xml", "<p>Second file.</p>"),
                                      MakeFile("3.txt", "Third file.")};
    std::vector<host::PlaylistEntry> results = host_->PlayPlaylist(files, 20000);
    ASSERT_EQ(3u, results.size());
    for (const host::PlaylistEntry& entry : results) {
        EXPECT_EQ(0, entry.playResult) << entry.file;
        EXPECT_TRUE(entry.ended) << entry.file << ": " << entry.failure;
    }
    std::vector<std::wstring> speaks;
    for (const std::wstring& line : LogLines(L"Speak("))
        if (line.compare(0, 10, L"Speak(NULL") != 0) speaks.push_back(line);
    ASSERT_EQ(3u, speaks.size());
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(0u, speaks[i].find(L"Speak(" + Wide(files[i]))) << speaks[i];
    EXPECT_EQ(3, host_->EndOfFileCount());
}

TEST_F(PlaybackTest, EndOfFileWaitsUntilTheOutputHasPlayedEverything) {
    host::HostOptions options = DefaultOptions();
    options.output.drain = host::DrainMode::Clock;
    options.output.speed = 4.0;
    LoadAndInit(options);
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", STORY)));
    ASSERT_TRUE(host_->WaitForEndOfFile(30000));
    host::OutputState output = host::OutputSnapshot();
    EXPECT_EQ(output.written, output.played);
    EXPECT_GT(output.written, 0);
    EXPECT_EQ(0, output.writesBeyondRoom);  // every chunk waited for room
    EXPECT_GT(host::CountCalls(host::Call::IsPlaying), 1u);
}

TEST_F(PlaybackTest, PathThatDoesNotFitIsRefusedWithoutSpeaking) {
    LoadAndInit();
    std::string longPath = folder_ + "\\" + std::string(300, 'a') + ".txt";
    EXPECT_EQ(-1, host_->Play(longPath));
    EXPECT_EQ(0, LogCount(L"Speak("));
    EXPECT_EQ(0u, host::CountCalls(host::Call::Open));
}

TEST_F(PlaybackTest, PlayBeforeACompleteStartUpFailsSilently) {
    LoadPlugin();
    host::MessageBoxWatcher boxes;
    EXPECT_EQ(-1, host_->Module()->Play(const_cast<char*>("C:\\a.txt")));
    EXPECT_EQ(0u, boxes.Count());
}

}  // namespace
