// What the espeak-ng voice gives espeak-ng: SAPI markup read into text, silences and prosody;
// that prosody written as SSML with no other tag left to be read out; the text cut into chunks at
// sentences and silences; the speed for each rate.
#include <gtest/gtest.h>

#include <set>

#include "engine/espeak/espeak_text.h"
#include "tests/test_support.h"

namespace {

using engine::Prosody;
using engine::SpeechText;
using engine::TextSpan;

// ---- Reading SAPI markup ---------------------------------------------------------------------

TEST(EspeakMarkupReading, KeepsTextSilencesAndBookmarksAtTheirPlaces) {
    SpeechText speech = engine::ParseMarkup(
        L"<?xml version=\"1.0\"?><speak>One <!-- a > b --><silence msec=\"300\"/>two"
        L"<bookmark mark=\"m1\"/> &lt;three&gt;<silence msec='40'/></speak>");
    EXPECT_TRUE(speech.markup);
    EXPECT_EQ(L"One two <three>", speech.text);
    ASSERT_EQ(2u, speech.silences.size());
    EXPECT_EQ(4u, speech.silences[0].position);
    EXPECT_EQ(300u, speech.silences[0].milliseconds);
    EXPECT_EQ(15u, speech.silences[1].position);
    EXPECT_EQ(40u, speech.silences[1].milliseconds);
    ASSERT_EQ(1u, speech.bookmarks.size());
    EXPECT_EQ(7u, speech.bookmarks[0].position);
    EXPECT_EQ(L"m1", speech.bookmarks[0].name);
    EXPECT_TRUE(speech.prosody.empty());
}

TEST(EspeakMarkupReading, RateVolumeEmphasisAndSpellingNestAndEndWithTheirTags) {
    SpeechText speech = engine::ParseMarkup(
        L"a<rate speed=\"-2\">b<rate speed=\"5\">c</rate>d<volume level=\"50\">e<volume level=\"50\">f"
        L"</volume></volume></rate>g<emph>h</emph><spell>i</spell><rate absspeed=\"7\"/>j");
    ASSERT_EQ(L"abcdefghij", speech.text);
    auto at = [&](size_t position) {
        Prosody prosody;
        for (const auto& change : speech.prosody)
            if (change.position <= position) prosody = change.prosody;
        return prosody;
    };
    EXPECT_EQ(0, at(0).rate);
    EXPECT_EQ(-2, at(1).rate);
    EXPECT_EQ(3, at(2).rate);   // relative to the enclosing -2
    EXPECT_EQ(-2, at(3).rate);  // back after </rate>
    EXPECT_EQ(50u, at(4).volume);
    EXPECT_EQ(25u, at(5).volume);  // half of half
    EXPECT_EQ(0, at(6).rate);
    EXPECT_EQ(100u, at(6).volume);
    EXPECT_TRUE(at(7).emphasis);
    EXPECT_FALSE(at(8).emphasis);
    EXPECT_TRUE(at(8).spell);
    // The empty form holds from there on; absspeed replaces the voice's rate.
    EXPECT_EQ(7, at(9).rate);
    EXPECT_TRUE(at(9).absoluteRate);
    EXPECT_FALSE(at(9).spell);
}

TEST(EspeakMarkupReading, UnknownAndUnmatchedTagsChangeNothing) {
    SpeechText speech = engine::ParseMarkup(
        L"<voice required=\"Gender=Female\"><partofsp part=\"noun\">word</partofsp></voice></emph></rate>"
        L"<context id=\"date_mdy\">03/04/2001</context><pron sym=\"h eh 1 l ow\"/>");
    EXPECT_EQ(L"word03/04/2001", speech.text);
    EXPECT_TRUE(speech.prosody.empty());
    EXPECT_TRUE(speech.silences.empty());
}

// ---- SSML for espeak-ng ----------------------------------------------------------------------

const std::set<std::wstring> SsmlElements = {L"speak", L"prosody", L"break", L"emphasis", L"say-as"};

// Reads the SSML: fails on any element espeak-ng would not take as markup or on unbalanced
// elements; returns the text with tags dropped and entities decoded.
std::wstring SpokenSsmlText(const std::wstring& ssml) {
    std::vector<std::wstring> open;
    std::wstring text;
    for (size_t i = 0; i < ssml.size();) {
        if (ssml[i] == L'>') {
            ADD_FAILURE() << "a bare > in the SSML";
            return text;
        }
        if (ssml[i] != L'<') {
            text += ssml[i++];
            continue;
        }
        size_t close = ssml.find(L'>', i);
        if (close == std::wstring::npos) {
            ADD_FAILURE() << "an unterminated tag";
            return text;
        }
        std::wstring tag = ssml.substr(i + 1, close - i - 1);
        bool closing = tag[0] == L'/', empty = tag.back() == L'/';
        std::wstring name = tag.substr(closing ? 1 : 0, tag.find_first_of(L" /", 1) - (closing ? 1 : 0));
        EXPECT_TRUE(SsmlElements.count(name)) << "element <" << Narrow(name) << ">";
        if (closing) {
            EXPECT_TRUE(!open.empty() && open.back() == name) << "unbalanced </" << Narrow(name);
            if (!open.empty()) open.pop_back();
        } else if (!empty) {
            open.push_back(name);
        }
        i = close + 1;
    }
    EXPECT_TRUE(open.empty()) << "elements left open";
    return engine::DecodeEntities(text);
}

std::wstring WholeInput(const SpeechText& speech, long voiceRate) {
    return engine::EspeakInput(speech, TextSpan{0, static_cast<ULONG>(speech.text.size())}, voiceRate);
}

TEST(EspeakMarkupWriting, EveryTagBecomesSsmlOrGoesAndNoTagIsLeftAsText) {
    const wchar_t* markup =
        L"<?xml version=\"1.0\"?><speak version=\"1.0\"><!-- note -->Normal. "
        L"<rate speed=\"-2\">Slower <emph>stressed</emph></rate><silence msec=\"300\"/>"
        L"<bookmark mark=\"m1\"/><volume level=\"60\">Quiet &amp; &lt;calm&gt;</volume> "
        L"<spell>ABC</spell> <unknown a=\"b\">kept</unknown><pitch middle=\"5\">high</pitch></speak>";
    SpeechText speech = engine::ParseMarkup(markup);
    std::wstring ssml = WholeInput(speech, 0);
    EXPECT_EQ(speech.text, SpokenSsmlText(ssml)) << Narrow(ssml);
    EXPECT_EQ(std::wstring::npos, ssml.find(L"break")) << "silences are the voice's own: " << Narrow(ssml);
    EXPECT_NE(std::wstring::npos, ssml.find(L"volume=\"60\">Quiet &amp; &lt;calm&gt;</prosody>")) << Narrow(ssml);
    EXPECT_NE(std::wstring::npos, ssml.find(L"<emphasis>stressed</emphasis>")) << Narrow(ssml);
    EXPECT_NE(std::wstring::npos, ssml.find(L"<say-as interpret-as=\"characters\">ABC</say-as>")) << Narrow(ssml);
    EXPECT_EQ(std::wstring::npos, ssml.find(L"bookmark"));
    EXPECT_EQ(std::wstring::npos, ssml.find(L"unknown"));
}

TEST(EspeakMarkupWriting, RatesAreRelativeToTheVoicesSpeedAndAbsoluteRatesReplaceIt) {
    SpeechText speech = engine::ParseMarkup(L"a <rate speed=\"-10\">b</rate> <rate absspeed=\"5\">c</rate>");
    // At voice rate 0: the relative -10 is espeak-ng's slowest; absspeed 5 is rate 5.
    std::wstring atZero = WholeInput(speech, 0);
    EXPECT_NE(std::wstring::npos, atZero.find(L"a <prosody rate=\"46%\">b</prosody>")) << Narrow(atZero);
    EXPECT_NE(std::wstring::npos, atZero.find(L"<prosody rate=\"173%\">c</prosody>")) << Narrow(atZero);
    // At voice rate 5 the absolute 5 needs no change, and -10 from 5 is rate -5 (118 of 303 wpm).
    std::wstring atFive = WholeInput(speech, 5);
    EXPECT_EQ(L"<speak>a <prosody rate=\"39%\">b</prosody> c</speak>", atFive);
}

TEST(EspeakMarkupWriting, ChunksAreSentencesCutAtSilencesAndStandAloneWithTheProsodyInForce) {
    SpeechText speech = engine::ParseMarkup(L"<volume level=\"50\">First one. Sec<silence msec=\"100\"/>ond one.</volume> "
                                            L"Third.<silence msec=\"700\"/>");
    const ULONG size = static_cast<ULONG>(speech.text.size());
    std::vector<std::wstring> inputs;
    for (ULONG next = 0; next < size;) {
        const TextSpan chunk = engine::EspeakChunkAt(speech, next, size);
        inputs.push_back(engine::EspeakInput(speech, chunk, 0));
        next = chunk.position + chunk.length;
    }
    const std::vector<std::wstring> expected = {L"<speak><prosody volume=\"50\">First one. </prosody></speak>",
                                                L"<speak><prosody volume=\"50\">Sec</prosody></speak>",
                                                L"<speak><prosody volume=\"50\">ond one.</prosody> </speak>",
                                                L"<speak>Third.</speak>"};
    EXPECT_EQ(expected, inputs);
    // The voice of the range a silence stands in plays it; the one at the very end goes with the last.
    EXPECT_FALSE(engine::SilenceInRange(speech, TextSpan{0, 14}, 14));
    EXPECT_TRUE(engine::SilenceInRange(speech, TextSpan{14, size - 14}, 14));
    EXPECT_TRUE(engine::SilenceInRange(speech, TextSpan{14, size - 14}, size));
}

TEST(EspeakMarkupWriting, PlainTextIsPassedOnAsItIs) {
    SpeechText speech = engine::ParseSpeech(L"if a < b & c > d <emph>", false);
    EXPECT_FALSE(speech.markup);
    EXPECT_EQ(L"if a < b & c > d <emph>", WholeInput(speech, 3));
}

TEST(EspeakMarkupWriting, ChunksWithNothingToSayAreSkippedTheirSilencesPlayedByTheVoice) {
    SpeechText plain = engine::ParseSpeech(L" \r\n\t ", false);
    EXPECT_FALSE(engine::ChunkHasSpeech(plain, TextSpan{0, 5}));
    SpeechText silent = engine::ParseMarkup(L" <silence msec=\"500\"/> ");
    EXPECT_FALSE(engine::ChunkHasSpeech(silent, TextSpan{0, 2}));
    SpeechText word = engine::ParseSpeech(L"  x", false);
    EXPECT_TRUE(engine::ChunkHasSpeech(word, TextSpan{0, 3}));
}

// ---- Speed -----------------------------------------------------------------------------------

TEST(EspeakSpeed, RateSpansEspeaksRangeGrowingByAboutThreeTimesPerTenSteps) {
    EXPECT_EQ(175, engine::EspeakWordsPerMinute(0));
    EXPECT_EQ(80, engine::EspeakWordsPerMinute(-10));
    EXPECT_EQ(525, engine::EspeakWordsPerMinute(10));
    for (long rate = -10; rate < 10; ++rate) {
        EXPECT_LT(engine::EspeakWordsPerMinute(rate), engine::EspeakWordsPerMinute(rate + 1)) << rate;
    }
    EXPECT_NEAR(175 * 1.732, engine::EspeakWordsPerMinute(5), 2);
    EXPECT_EQ(80, engine::EspeakWordsPerMinute(-25));
    EXPECT_EQ(525, engine::EspeakWordsPerMinute(99));
}

}  // namespace
