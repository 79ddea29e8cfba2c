#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "playback/playback.h"
#include "playback/playback_state.h"

namespace {

TEST(MarkupPath, ExtensionXmlInAnyCaseIsMarkup) {
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.XML"));
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.xml"));
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.Xml"));
    EXPECT_TRUE(IsMarkupPath("XML"));  // no dot: the whole path counts
}

TEST(MarkupPath, EverythingElseIsPlainText) {
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.txt"));
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.xml.txt"));
    EXPECT_FALSE(IsMarkupPath("C:\\t\\readme"));
    EXPECT_FALSE(IsMarkupPath("C:\\a.b\\readme"));  // the extension is "b\readme"
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.xmlx"));
    EXPECT_FALSE(IsMarkupPath(""));
}

TEST(StreamInfo, BitRateIsTruncatedToWholeKilobits) {
    EXPECT_EQ(1411, BitRateKbps(44100, 16, 2));
    EXPECT_EQ(64, BitRateKbps(8000, 8, 1));
    EXPECT_EQ(176, BitRateKbps(11025, 16, 1));
}

// The event thread looks at the end of a stopped stream while the player stops it and starts the next
// file, over and over: that end must never be taken for the end of the file being played.
TEST(StreamEnds, EndOfAStoppedStreamNeverEndsTheNextFile) {
    PlaybackFlags state;
    std::atomic<ULONG> stopped{0};
    std::atomic<bool> finished{false};
    std::atomic<long> wrongEnds{0};
    std::thread eventThread([&] {
        while (!finished) {
            if (EndsCurrentFile(state, stopped)) ++wrongEnds;
        }
    });
    for (ULONG stream = 1; stream <= 300000; ++stream) {
        state.CurrentStream = stream;  // Play: Speak handed back the file's stream
        RequestStop(state);            // Stop
        stopped = stream;
        BeginNextFile(state);          // the next Play
    }
    finished = true;
    eventThread.join();
    EXPECT_EQ(0, wrongEnds);
}

}  // namespace
