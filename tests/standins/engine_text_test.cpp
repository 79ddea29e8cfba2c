// Pure pieces of the stand-in voice: what it speaks of a file, and how long and how it sounds.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/engine.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(EngineSpokenText, DecodesPlainTextByItsByteOrderMark) {
    EXPECT_EQ(L"caf\u00E9 ok", engine::SpokenText(Bytes("caf\xE9 ok"), false));  // ANSI code page 1252
    EXPECT_EQ(L"H\u0414", engine::SpokenText({0xFF, 0xFE, 0x48, 0x00, 0x14, 0x04, 0x21}, false));
    EXPECT_EQ(L"\u00E9!", engine::SpokenText({0xEF, 0xBB, 0xBF, 0xC3, 0xA9, 0x21}, false));
    EXPECT_EQ(L"", engine::SpokenText({}, false));
    EXPECT_EQ(L"1 < 2 &amp; <b>", engine::SpokenText(Bytes("1 < 2 &amp; <b>"), false));
}

TEST(EngineSpokenText, MarkupLosesItsTagsAndKeepsItsDecodedText) {
    EXPECT_EQ(L"a <b> & \"c' d",
              engine::SpokenText(Bytes("<?xml version=\"1.0\"?><speak>a &lt;b&gt; &amp; &quot;c&apos;"
                                       " <rate speed=\"5\">d</rate></speak>"),
                                 true));
    EXPECT_EQ(L"x&nbsp;y A", engine::SpokenText(Bytes("x&nbsp;y &#65;"), true));
    EXPECT_EQ(L"Hi there", engine::SpokenText(Bytes("Hi <bookmark mark='1'/>there<silence msec=\"5\"/>"), true));
    EXPECT_EQ(L"cut ", engine::SpokenText(Bytes("cut <unterminated tag"), true));
}

TEST(EngineToneVoice, CharactersLastAboutAThirdLongerOrShorterPerTenRateSteps) {
    for (long rate = -10; rate <= 10; ++rate) {
        EXPECT_EQ(static_cast<unsigned>(std::lround(64 * std::pow(3.0, -rate / 10.0))), engine::FramesPerCharacter(rate))
            << "rate " << rate;
    }
    EXPECT_EQ(engine::FramesPerCharacter(-10), engine::FramesPerCharacter(-50));
    EXPECT_EQ(engine::FramesPerCharacter(10), engine::FramesPerCharacter(50));
}

TEST(EngineToneVoice, BlanksAreSilentAndEachVoiceSoundsDifferent) {
    std::vector<std::wstring> voices;
    for (const engine::VoiceInfo& voice : engine::DefaultVoices()) voices.push_back(voice.id);
    ASSERT_EQ(3u, voices.size());
    for (unsigned frame = 0; frame < 64; ++frame) {
        EXPECT_EQ(0, engine::ToneSample(L' ', frame, voices[0]));
        EXPECT_EQ(0, engine::ToneSample(L'\n', frame, voices[0]));
    }
    auto wave = [](wchar_t c, const std::wstring& voice) {
        std::vector<short> samples;
        for (unsigned frame = 0; frame < 64; ++frame) samples.push_back(engine::ToneSample(c, frame, voice));
        return samples;
    };
    for (const std::wstring& voice : voices) {
        std::vector<short> a = wave(L'a', voice);
        EXPECT_NE(std::vector<short>(64, 0), a);
        EXPECT_NE(a, wave(L'b', voice));
    }
    EXPECT_NE(wave(L'a', voices[0]), wave(L'a', voices[1]));
    EXPECT_NE(wave(L'a', voices[0]), wave(L'a', voices[2]));
    EXPECT_NE(wave(L'a', voices[1]), wave(L'a', voices[2]));
}

}  // namespace
