// The plug-in speaking with the espeak-ng voice in the player host: the voice chosen by its token
// id in plugin.ini, real speech of a plausible length in the configured format, for ANSI text,
// UTF-16 text and markup.
#include <algorithm>

#include "engine/espeak/espeak_text.h"
#include "engine/espeak/pcm_convert.h"
#include "tests/plugin/plugin_fixture.h"
#include "tests/standins/espeak_test_support.h"

namespace {

const DWORD Patience = 60000;

std::string EspeakSettings(const std::string& formatLines, const std::wstring& id = engine::EspeakVoiceId) {
    return PluginTest::SettingsWithVoice(id) + formatLines;
}

class EspeakPlayback : public PluginTest {
protected:
    void SetUp() override { REQUIRE_ESPEAK(); }

    // Loads the plug-in with the espeak-ng voices after the tone voices (so only the settings can
    // choose one), plays the file to its end and returns what the output was given.
    std::vector<unsigned char> PlayToTheEnd(const std::string& ini, const std::string& name, const std::string& bytes,
                                            const std::wstring& voiceId = engine::EspeakVoiceId) {
        LoadPlugin(WithSettings(ini));
        std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
        for (const engine::VoiceInfo& voice : engine::EspeakVoices()) voices.push_back(voice);
        engine::SetInstalledVoices(voices);
        host_->Init();
        host::MessageBoxWatcher boxes;
        EXPECT_EQ(0, host_->Play(MakeFile(name, bytes)));
        EXPECT_TRUE(host_->WaitForEndOfFile(Patience));
        EXPECT_EQ(0u, boxes.Count());
        EXPECT_EQ(voiceId, engine::CurrentVoiceId());
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

// The Russian voice chosen in the settings speaks a Russian file exactly as espeak-ng's own
// Russian voice does, at espeak-ng's rate and format (22050 Hz, 16 bit, mono).
TEST_F(EspeakPlayback, SpeaksRussianWithTheRussianVoiceSampleForSample) {
    const std::wstring russianId = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\TxtEspeak-ru";
    const std::wstring sentence = L"\u0421\u044A\u0435\u0448\u044C \u0436\u0435 \u0435\u0449\u0451 "
                                  L"\u044D\u0442\u0438\u0445 \u043C\u044F\u0433\u043A\u0438\u0445 "
                                  L"\u0431\u0443\u043B\u043E\u043A, \u0434\u0430 \u0432\u044B\u043F\u0435\u0439 "
                                  L"\u0447\u0430\u044E.";  // "Eat some more of these soft rolls, and have some tea."
    std::string utf16 = "\xFF\xFE";
    for (wchar_t unit : sentence) utf16 += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    const std::vector<unsigned char> spoken =
        PlayToTheEnd(EspeakSettings("SampleRateMode=4\r\nBitsPerSampleMode=1\r\nNumChannelsMode=0\r\n", russianId),
                     "russian.txt", utf16, russianId);
    const host::HostCall open = OpenCall();
    EXPECT_EQ(22050, open.args[0]);

    // espeak-ng's own rendering, on the Linux side.
    const std::string utf8 = engine::Utf8(sentence);
    const std::string text = MakeFile("russian-utf8.txt", utf8), wave = folder_ + "\\russian.wav";
    std::wstring wideText(text.begin(), text.end()), wideWave(wave.begin(), wave.end());
    ASSERT_EQ(0, engine::RunUnixShell("espeak-ng -b 1 -v ru -w " + engine::ShellQuoted(engine::UnixPath(wideWave)) +
                                      " -f " + engine::ShellQuoted(engine::UnixPath(wideText)) +
                                      " >/dev/null 2>&1 </dev/null"));
    const std::string bytes = host::ReadWholeFile(wave);
    DWORD rate = 0;
    std::vector<short> samples;
    ASSERT_TRUE(engine::ReadWave16(std::vector<unsigned char>(bytes.begin(), bytes.end()), rate, samples));
    ASSERT_EQ(22050u, rate);
    ASSERT_GT(samples.size(), 22050u);  // a sentence is more than a second
    const std::vector<unsigned char> expected = engine::PackPcm(samples, engine::PcmFormat{22050, 1, 16});
    EXPECT_TRUE(expected == spoken) << spoken.size() << " bytes spoken, " << expected.size() << " from espeak-ng";
}

}  // namespace
