// Pure pieces of the stand-in voice: what it speaks of a file, how it cuts it into sentences, and how
// long and how it sounds.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/engine.h"
#include "engine/speech_text.h"
#include "tests/test_support.h"

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

// ---- Sentences, as both voices cut the text ------------------------------------------

std::vector<std::wstring> SentenceTexts(const std::wstring& text, size_t maxUnits = 400) {
    std::vector<std::wstring> texts;
    size_t covered = 0;
    for (const engine::TextSpan& chunk : engine::SplitIntoSentences(text, maxUnits)) {
        EXPECT_EQ(covered, chunk.position) << "sentences leave a gap or overlap";
        EXPECT_GT(chunk.length, 0u);
        covered = chunk.position + chunk.length;
        texts.push_back(text.substr(chunk.position, chunk.length));
    }
    EXPECT_EQ(text.size(), covered) << "sentences do not cover the text";
    return texts;
}

TEST(EngineSentences, SentencesEndAtClosingPunctuationFollowedByABlank) {
    EXPECT_EQ(std::vector<std::wstring>({L"  One. ", L"Two!  ", L"Three? ", L"Four; ", L"five"}),
              SentenceTexts(L"  One. Two!  Three? Four; five"));
    // No blank after the point: a number or a name, not a sentence end.
    EXPECT_EQ(std::vector<std::wstring>({L"Pi is 3.14 or so. ", L"See example.com now."}),
              SentenceTexts(L"Pi is 3.14 or so. See example.com now."));
    // Closing quotes and brackets stay with their sentence.
    EXPECT_EQ(std::vector<std::wstring>({L"He said \"Hi.\" ", L"(It was late.) ", L"Then"}),
              SentenceTexts(L"He said \"Hi.\" (It was late.) Then"));
}

TEST(EngineSentences, ParagraphsEndAtBlankLinesButWrappedLinesStayTogether) {
    EXPECT_EQ(std::vector<std::wstring>({L"A title\r\n\r\n", L"A line that\r\nwraps on"}),
              SentenceTexts(L"A title\r\n\r\nA line that\r\nwraps on"));
}

TEST(EngineSentences, LongTextIsCutAfterBlanksWithoutSplittingWords) {
    std::wstring text;
    for (int i = 0; i < 60; ++i) text += L"word" + std::to_wstring(i) + L" ";
    std::vector<std::wstring> chunks = SentenceTexts(text, 50);
    ASSERT_GT(chunks.size(), 6u);
    for (const std::wstring& chunk : chunks) {
        EXPECT_LE(chunk.size(), 50u);
        EXPECT_EQ(L' ', chunk.back()) << Narrow(chunk);
        EXPECT_EQ(0u, chunk.rfind(L"word", 0)) << Narrow(chunk);
    }
    // A single word longer than a chunk is cut where the chunk is full.
    EXPECT_EQ(std::vector<std::wstring>({L"abcd", L"efgh", L"ij"}), SentenceTexts(L"abcdefghij", 4));
    EXPECT_TRUE(engine::SplitIntoSentences(L"", 400).empty());
}

}  // namespace
