// The plug-in speaking with the espeak-ng voice in the player host: the voice chosen by its token
// id in plugin.ini, real speech of a plausible length in the configured format, for ANSI text,
// UTF-16 text and markup.
#include <algorithm>

#include "tests/plugin/plugin_fixture.h"
#include "tests/standins/espeak_test_support.h"

namespace {

const DWORD Patience = 60000;

std::string EspeakSettings(const std::string& formatLines) {
    return PluginTest::SettingsWithVoice(engine::EspeakVoiceId) + formatLines;
}

class EspeakPlayback : public PluginTest {
protected:
    void SetUp() override { REQUIRE_ESPEAK(); }

    // Loads the plug-in with the espeak-ng voice among the tone voices (not first, so only the
    // settings can choose it), plays the file to its end and returns what the output was given.
    std::vector<unsigned char> PlayToTheEnd(const std::string& ini, const std::string& name, const std::string& bytes) {
        LoadPlugin(WithSettings(ini));
        std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
        voices.push_back(engine::EspeakVoice());
        engine::SetInstalledVoices(voices);
        host_->Init();
        host::MessageBoxWatcher boxes;
        EXPECT_EQ(0, host_->Play(MakeFile(name, bytes)));
        EXPECT_TRUE(host_->WaitForEndOfFile(Patience));
        EXPECT_EQ(0u, boxes.Count());
        EXPECT_EQ(engine::EspeakVoiceId, engine::CurrentVoiceId());
        return OutputBytes();
    }

    static host::HostCall OpenCall() {
        std::vector<host::HostCall> opens = host::LoggedCalls(host::Call::Open);
        EXPECT_EQ(1u, opens.size());
        return opens.empty() ? host::HostCall{host::Call::Open} : opens.front();
    }
};

TEST_F(EspeakPlayback, SpeaksATextFileInTheConfiguredFormat) {
    // 11025 Hz, 8 bit, stereo.
    const std::vector<unsigned char> pcm =
        PlayToTheEnd(EspeakSettings("SampleRateMode=1\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\n"), "hello.txt",
                     "Hello, this is a short test of the speaking voice.");
    const host::HostCall open = OpenCall();
    EXPECT_EQ(11025, open.args[0]);
    EXPECT_EQ(2, open.args[1]);
    EXPECT_EQ(8, open.args[2]);
    ASSERT_EQ(0u, pcm.size() % 2);
    const double seconds = pcm.size() / 2 / 11025.0;
    EXPECT_GT(seconds, 1.5);  // a dozen words
    EXPECT_LT(seconds, 10.0);
    // Speech, not silence: unsigned samples far from 128.
    EXPECT_GT(std::count_if(pcm.begin(), pcm.end(), [](unsigned char b) { return b < 64 || b > 192; }), 100);
}

TEST_F(EspeakPlayback, SpeaksUtf16TextAtTheDefaultFormat) {
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("Good morning, how are you?")) utf16 += std::string(1, c) + '\0';
    const std::vector<unsigned char> spoken = PlayToTheEnd(EspeakSettings(""), "unicode.txt", utf16);
    const host::HostCall open = OpenCall();
    EXPECT_EQ(48000, open.args[0]);
    EXPECT_EQ(1, open.args[1]);
    EXPECT_EQ(16, open.args[2]);
    const double seconds = spoken.size() / 2 / 48000.0;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 8.0);
}

TEST_F(EspeakPlayback, SpeaksMarkupWithoutReadingItsTagsOut) {
    const std::vector<unsigned char> spoken = PlayToTheEnd(
        EspeakSettings(""), "markup.xml",
        "<?xml version=\"1.0\"?><speak version=\"1.0\"><rate speed=\"-2\">Good morning,</rate>"
        "<silence msec=\"300\"/><bookmark mark=\"m1\"/><volume level=\"60\">how are you?</volume></speak>");
    const double seconds = spoken.size() / 2 / 48000.0;
    // The words and the pause; read-out tags ("rate speed equals minus two" ...) would take far longer.
    EXPECT_GT(seconds, 1.3);
    EXPECT_LT(seconds, 4.5);
}

}  // namespace
