// Pure pieces of the stand-in voice: what it speaks of a file, how it cuts it into sentences, and how
// long and how it sounds.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/engine.h"
#include "engine/speech_text.h"
#include "engine/voice_choice.h"
#include "tests/test_support.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(EngineSpokenText, DecodesPlainTextByItsByteOrderMark) {
    EXPECT_EQ(L"caf\u00E9 ok", engine::SpokenText(Bytes("caf\xE9 ok"), false));  // ANSI code page 1252
    EXPECT_EQ(L"H\u0414", engine::SpokenText({0xFF, 0xFE, 0x48, 0x00, 0x14, 0x04, 0x21}, false));
    // A voice given a file's name reads no UTF-8, even after its mark: the program must give the text.
    EXPECT_EQ(L"\u00EF\u00BB\u00BF\u00C3\u00A9!", engine::SpokenText({0xEF, 0xBB, 0xBF, 0xC3, 0xA9, 0x21}, false));
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


// ---- Choosing a voice as <voice> and <lang> markup asks --------------------------------------

struct ChoiceCase {
    const wchar_t* required;
    const wchar_t* optional;
    int current;   // index among the tone voices Anna (409, female), Bert (407, male), Chloe (40C, female)
    int expected;
};

TEST(EngineVoiceChoice, RequiredConditionsAllHoldTheMostOptionalOnesWinAndTiesKeepTheCurrentVoice) {
    const std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    const ChoiceCase cases[] = {
        {L"Language=407", L"", 0, 1},
        {L"language = 0407", L"", 0, 1},               // names and blanks as written, hex as a number
        {L"Gender=Female", L"", 1, 0},                 // the current voice does not qualify: the first that does
        {L"Gender=Female", L"", 2, 2},                 // a tie keeps the current voice
        {L"Gender=Female", L"Language=40C", 0, 2},     // the most optional matches win
        {L"", L"Gender=Male;Age=Adult", 0, 1},
        {L"Gender=Female;Language!=409", L"", 0, 2},
        {L"Name=txttone bert", L"", 2, 1},
        {L"Language=419", L"", 2, 2},                  // no voice qualifies: the current one stays
        {L"Accent=Scottish;Gender=Male", L"", 0, 1},   // unknown attributes are no condition
        {L"Accent=Scottish", L"Vendor=Other", 2, 2},
    };
    for (const ChoiceCase& test : cases) {
        SCOPED_TRACE(Narrow(std::wstring(test.required) + L" / " + test.optional));
        EXPECT_EQ(voices[test.expected].id, engine::ChooseVoice(voices, test.required, test.optional, voices[test.current].id));
    }
}

// A token category's EnumTokens: voices (Anna 0, Bert 1, Chloe 2) listed, in order.
struct SelectionCase {
    const wchar_t* required;
    const wchar_t* optional;
    std::vector<int> expected;
};

TEST(EngineVoiceChoice, AttributeStringsFilterTheVoicesAndOrderThemByTheFirstOptionalConditionsMet) {
    const std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    const SelectionCase cases[] = {
        {L"", L"", {0, 1, 2}},
        {L"Language=409;Gender=Female", L"", {0}},
        {L"Language=407;40C", L"", {1, 2}},            // a bare number: one more language accepted
        {L"Gender=Female", L"Language=40C", {2, 0}},
        {L"", L"Gender=Male;Language=409", {1, 0, 2}},  // the first optional condition weighs most
        {L"", L"Language=40C;Gender=Female", {2, 0, 1}},
        {L"Vendor", L"", {0, 1, 2}},                    // a bare name: the attribute exists
        {L"Accent", L"", {}},                           // unknown names are conditions too
        {L"Gender!=Female", L"", {1}},
        {L"Name=TxtTone Bert;Age=Adult", L"", {1}},
        {L"Language=419", L"Gender=Male", {}},
    };
    for (const SelectionCase& test : cases) {
        SCOPED_TRACE(Narrow(std::wstring(test.required) + L" / " + test.optional));
        std::vector<std::wstring> expected, listed;
        for (int index : test.expected) expected.push_back(voices[index].id);
        for (const auto& voice : engine::SelectVoices(voices, test.required, test.optional)) listed.push_back(voice.id);
        EXPECT_EQ(expected, listed);
    }
}

TEST(EngineSentences, SkippingGoesOnFromTheStartOfALaterSentenceOrTheEnd) {
    const std::wstring text = L"One. Two two. Three! Four?";
    struct SkipCase {
        size_t position;
        ULONG count;
        size_t target;
        ULONG skipped;
    };
    const SkipCase cases[] = {{0, 1, 5, 1}, {7, 1, 14, 1}, {7, 2, 21, 2}, {0, 9, text.size(), 4}, {22, 1, text.size(), 1}};
    for (const SkipCase& test : cases) {
        ULONG skipped = 99;
        EXPECT_EQ(test.target, engine::SentenceSkipTarget(text, test.position, test.count, skipped)) << test.position;
        EXPECT_EQ(test.skipped, skipped) << test.position;
    }
}

TEST(EngineVoiceChoice, MarkupKeepsTheChosenVoiceUntilItsTagEnds) {
    const std::wstring markup = L"a<voice required=\"Gender=Male\">b<lang langid=\"40C\">c</lang>d</voice>e"
                                L"<voice optional=\"Gender=Male\"/>f<s><voice optional=\"Age=1\"/>g</s>h";
    std::vector<std::wstring> asked;
    const engine::SpeechText speech = engine::ParseMarkup(
        markup, [&](const std::wstring& required, const std::wstring& optional, const std::wstring& current) {
            asked.push_back(required + L"|" + optional + L"|" + current);
            return L"voice " + std::to_wstring(asked.size());
        });
    EXPECT_EQ(L"abcdefgh", speech.text);
    EXPECT_EQ(std::vector<std::wstring>({L"Gender=Male||", L"Language=40C||voice 1", L"|Gender=Male|", L"|Age=1|voice 3"}),
              asked);
    auto voiceAt = [&](ULONG position) {
        std::wstring voice;
        for (const auto& change : speech.prosody)
            if (change.position <= position) voice = change.prosody.voiceId;
        return voice;
    };
    // An empty <voice/> holds until its enclosing element ends.
    const std::wstring expected[] = {L"", L"voice 1", L"voice 2", L"voice 1", L"", L"voice 3", L"voice 4", L"voice 3"};
    for (ULONG i = 0; i < 8; ++i) EXPECT_EQ(expected[i], voiceAt(i)) << i;
}

}  // namespace
