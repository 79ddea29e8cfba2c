// The espeak-ng voice through the engine's COM objects: offered as an installed voice, its sound
// in every output format as long as espeak-ng's own, the rate as speed (also changed while it
// speaks), markup whose tags are not read out, and purges that stop it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "engine/espeak/espeak_text.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/file_bytes.h"
#include "engine/tokens.h"
#include "host/files.h"
#include "tests/standins/engine_test_support.h"
#include "tests/standins/espeak_test_support.h"
#include "tests/test_support.h"

namespace enginetest {
namespace {

const DWORD Patience = 60000;  // generous bound for "does not hang"
const DWORD AllRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
const char Sentence[] = "The quick brown fox jumps over the lazy dog near the river bank.";

const CLSID CategoryClass = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};

// 16-bit samples of a mono 16-bit recording.
std::vector<short> Samples16(const std::vector<unsigned char>& pcm) {
    std::vector<short> samples(pcm.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    return samples;
}

double Rms(const std::vector<short>& samples) {
    double sum = 0;
    for (short s : samples) sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

class EspeakVoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, apartment_.registered);
        REQUIRE_ESPEAK();
        ASSERT_TRUE(engine::OfferEspeakVoices());
    }

    // Speaks `text` (a .txt file, or markup in a .xml file) with a new voice into an output of
    // the format, at the voice rate, and waits until it is done.
    std::vector<unsigned char> Speak(const std::string& text, DWORD rate = 22050, WORD bits = 16, WORD channels = 1,
                                     long voiceRate = 0, bool markup = false) {
        RecordingStream output(rate, bits, channels);
        WiredVoice wired;
        EXPECT_EQ(engine::EspeakVoiceId, engine::CurrentVoiceId());
        EXPECT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
        EXPECT_EQ(S_OK, wired.voice->SetRate(voiceRate));
        TempFile file(text, markup ? L".xml" : L".txt");
        EXPECT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), markup ? 13 : 21, nullptr));
        EXPECT_EQ(S_OK, wired.voice->WaitUntilDone(Patience));
        SPVOICESTATUS status = {};
        EXPECT_EQ(S_OK, wired.voice->GetStatus(&status, nullptr));
        lastResult_ = status.hrLastResult;
        ClearEvents(events_);
        events_ = DrainEvents(wired.voice.Get());
        return output.Bytes();
    }

    double SecondsSpoken(const std::string& text, long voiceRate = 0, bool markup = false) {
        std::vector<unsigned char> pcm = Speak(text, 22050, 16, 1, voiceRate, markup);
        return pcm.size() / 2 / 22050.0;
    }

    // Whatever the voices handed out, tokens included, has been given back.
    void TearDown() override {
        ClearEvents(events_);
        for (auto kind : {engine::ObjectKind::Voice, engine::ObjectKind::Token, engine::ObjectKind::Enumerator}) {
            EXPECT_EQ(0, engine::Counts(kind).live) << "objects of kind " << static_cast<int>(kind) << " left";
        }
    }

    EngineApartment apartment_;
    std::vector<SPEVENT> events_;
    HRESULT lastResult_ = E_PENDING;  // the last Speak's hrLastResult
};

// An espeak-ng of the test's own, first in the voice's PATH, that counts its runs in the file `runs`;
// the first `failingRuns` give part of the real one's sound and exit with 3, as an espeak-ng dying mid-piece.
void PutDyingEspeakFirst(const std::string& folder, int failingRuns) {
    const std::string runs = engine::ShellQuoted(engine::UnixPath(Wide(folder + "\\runs")));
    ASSERT_TRUE(host::WriteWholeFile(folder + "\\espeak-ng", "#!/bin/sh\necho >>" + runs + "\nPATH=${PATH#*:}\n[ $(wc -l <" +
                                     runs + ") -gt " + std::to_string(failingRuns) + " ] && exec espeak-ng \"$@\"\n" +
                                     "espeak-ng \"$@\" | head -c 3000; exit 3\n"));
    ASSERT_EQ(0, engine::RunUnixShell("chmod +x " + engine::ShellQuoted(engine::UnixPath(Wide(folder + "\\espeak-ng")))));
    engine::SetUnixProgramFolder(Wide(folder));
}

// A listed token as the Voice page and markup see it.
struct ListedToken {
    std::wstring id, description, english, language, name, vendor;
};

std::wstring TokenValue(ISpDataKey* key, const wchar_t* name) {
    ScopedTaskMem<wchar_t> value;
    return SUCCEEDED(key->GetStringValue(name, value.Receive())) && value.Get() ? value.Get() : L"";
}

std::vector<ListedToken> ListedTokens() {
    std::vector<ListedToken> listed;
    ScopedComPtr<ISpObjectTokenCategory> category;
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(S_OK, CoCreateInstance(CategoryClass, nullptr, 7, __uuidof(ISpObjectTokenCategory), category.ReceiveVoid()));
    EXPECT_EQ(S_OK, category->SetId(engine::VoicesCategoryId, FALSE));
    EXPECT_EQ(S_OK, category->EnumTokens(nullptr, nullptr, tokens.Receive()));
    ScopedComPtr<ISpObjectToken> token;
    while (tokens->Next(1, token.Receive(), nullptr) == S_OK) {
        ListedToken entry;
        ScopedTaskMem<wchar_t> id;
        EXPECT_EQ(S_OK, token->GetId(id.Receive()));
        entry.id = id.Get();
        entry.description = TokenValue(token.Get(), nullptr);
        entry.english = TokenValue(token.Get(), L"409");
        ScopedComPtr<ISpDataKey> attributes;
        if (SUCCEEDED(token->OpenKey(L"Attributes", attributes.Receive()))) {
            entry.language = TokenValue(attributes.Get(), L"Language");
            entry.name = TokenValue(attributes.Get(), L"Name");
            entry.vendor = TokenValue(attributes.Get(), L"Vendor");
        }
        listed.push_back(entry);
    }
    return listed;
}

std::wstring FromUtf8(const std::vector<unsigned char>& bytes) {
    std::wstring text(bytes.size(), L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<int>(bytes.size()), &text[0], static_cast<int>(text.size()));
    text.resize(units > 0 ? units : 0);
    return text;
}

// The bytes of a file a voice reads by name: UTF-16 little-endian after its mark.
std::string Utf16File(const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : FromUtf8(std::vector<unsigned char>(utf8.begin(), utf8.end())))
        bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// What espeak-ng itself lists here, read on the Linux side: "eSpeak NG <name>" per voice, in its
// order but with English (America) first.
std::vector<std::wstring> EspeakListedDescriptions() {
    TempFile list(std::string(), L".txt");
    const std::string command =
        "espeak-ng --voices </dev/null | awk 'NR > 1 { gsub(/_/, \" \", $4); print ($2 == \"en-us\" ? 0 : NR) \" \" $4 }'"
        " | sort -n -s -k1,1 | cut -d ' ' -f 2- >" + engine::ShellQuoted(engine::UnixPath(list.Path()));
    EXPECT_EQ(0, engine::RunUnixShell(command));
    std::vector<unsigned char> bytes;
    EXPECT_EQ(S_OK, engine::ReadFileBytes(list.Path().c_str(), bytes));
    std::vector<std::wstring> descriptions;
    std::wstring text = FromUtf8(bytes);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) descriptions.push_back(L"eSpeak NG " + text.substr(start, end - start));
        start = end + 1;
    }
    return descriptions;
}

TEST_F(EspeakVoiceTest, TheTokensAreTheVoicesEspeakListsEnglishFirstThenTheToneVoices) {
    const std::vector<std::wstring> expected = EspeakListedDescriptions();
    ASSERT_GT(expected.size(), 100u) << "espeak-ng lists about 130 voices";
    const std::vector<ListedToken> listed = ListedTokens();
    ASSERT_EQ(expected.size() + 3, listed.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], listed[i].description) << i;
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(engine::DefaultVoices()[i].id, listed[expected.size() + i].id);

    EXPECT_EQ(engine::EspeakVoiceId, listed[0].id);  // the id stored settings already hold
    std::map<std::wstring, ListedToken> byName;
    std::set<std::wstring> ids;
    for (const ListedToken& token : listed) {
        ids.insert(token.id);
        if (token.vendor != L"eSpeak NG") continue;
        EXPECT_EQ(token.description, token.name);
        EXPECT_EQ(token.description, token.english);
        byName[token.name] = token;
    }
    EXPECT_EQ(listed.size(), ids.size()) << "token ids are not unique";
    // Languages from Windows' locale table; none for a language Windows does not know.
    EXPECT_EQ(L"419", byName[L"eSpeak NG Russian"].language);
    EXPECT_EQ(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\TxtEspeak-ru", byName[L"eSpeak NG Russian"].id);
    EXPECT_EQ(L"408", byName[L"eSpeak NG Greek"].language);
    EXPECT_EQ(L"409", byName[L"eSpeak NG English (America)"].language);
    EXPECT_EQ(L"809", byName[L"eSpeak NG English (Received Pronunciation)"].language);
    EXPECT_EQ(L"804", byName[L"eSpeak NG Chinese (Mandarin, latin as English)"].language);  // by its other language zh
    ASSERT_EQ(1u, byName.count(L"eSpeak NG Quenya"));
    EXPECT_EQ(L"", byName[L"eSpeak NG Quenya"].language);
    // Offering again lists none twice; a reset leaves the three tone voices.
    ASSERT_TRUE(engine::OfferEspeakVoices());
    EXPECT_EQ(listed.size(), ListedTokens().size());
    engine::Reset();
    EXPECT_EQ(3u, ListedTokens().size());
}

TEST_F(EspeakVoiceTest, AVoiceEspeakDoesNotHaveFailsItsSpeakInsteadOfSpeakingSilence) {
    engine::VoiceInfo gone = engine::EspeakVoice();
    gone.id += L"Gone";
    gone.espeakVoice = L"zle/no-such-voice";
    engine::SetInstalledVoices({gone});
    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(gone.id, engine::CurrentVoiceId());
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    TempFile file{std::string(Sentence)};
    ULONG number = 7;
    EXPECT_EQ(static_cast<HRESULT>(0x8004503A), wired.voice->Speak(file.Path().c_str(), 21, &number));
    EXPECT_EQ(0u, number);
    EXPECT_EQ(S_OK, wired.voice->WaitUntilDone(0));
    EXPECT_TRUE(output.Bytes().empty());
}

// Markup that asks for Russian speaks its text exactly as the Russian voice speaks it; the
// English voice reads the same letters quite differently.
TEST_F(EspeakVoiceTest, AVoiceTagAskingForRussianSpeaksWithTheRussianVoice) {
    engine::VoiceInfo russian;
    for (const engine::VoiceInfo& voice : engine::EspeakVoices())
        if (voice.espeakVoice == L"zle/ru") russian = voice;
    ASSERT_FALSE(russian.id.empty());
    // "Good morning, how are you?" in UTF-8.
    const std::string text = "\xD0\x94\xD0\xBE\xD0\xB1\xD1\x80\xD0\xBE\xD0\xB5 \xD1\x83\xD1\x82\xD1\x80\xD0\xBE, "
                             "\xD0\xBA\xD0\xB0\xD0\xBA \xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB0?";
    const std::vector<unsigned char> switched = Speak(
        Utf16File("<speak><voice required=\"Language=419\">" + text + "</voice></speak>"), 22050, 16, 1, 0, true);
    const std::vector<unsigned char> english = Speak(Utf16File("<speak>" + text + "</speak>"), 22050, 16, 1, 0, true);

    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ScopedComPtr<ISpObjectToken> token(engine::NewToken(russian));
    ASSERT_EQ(S_OK, wired.voice->SetVoice(token.Get()));
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    TempFile file(Utf16File("<speak>" + text + "</speak>"), L".xml");
    ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 13, nullptr));
    ASSERT_EQ(S_OK, wired.voice->WaitUntilDone(Patience));
    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    ClearEvents(events);

    ASSERT_GT(switched.size(), 22050u);
    EXPECT_TRUE(output.Bytes() == switched) << switched.size() << " bytes switched, " << output.Bytes().size() << " Russian";
    EXPECT_FALSE(english == switched);
}

TEST_F(EspeakVoiceTest, AtEspeaksOwnRateTheSoundIsEspeaksUnchanged) {
    const std::vector<short> spoken = Samples16(Speak(Sentence));
    // The same sentence from espeak-ng directly, on the Linux side.
    TempFile text(std::string(Sentence), L".txt");
    TempFile wave(std::string(), L".wav");
    const std::string command = "espeak-ng -b 1 -v en-us -s 175 -w " + engine::ShellQuoted(engine::UnixPath(wave.Path())) +
                                " -f " + engine::ShellQuoted(engine::UnixPath(text.Path())) + " >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(0, engine::RunUnixShell(command));
    std::vector<unsigned char> bytes;
    ASSERT_EQ(S_OK, engine::ReadFileBytes(wave.Path().c_str(), bytes));
    DWORD rate = 0;
    std::vector<short> direct;
    ASSERT_TRUE(engine::ReadWave16(bytes, rate, direct));
    ASSERT_EQ(22050u, rate);
    ASSERT_GT(direct.size(), 22050u);  // a sentence is more than a second
    EXPECT_TRUE(spoken == direct) << spoken.size() << " samples spoken, " << direct.size() << " from espeak-ng";
}

TEST_F(EspeakVoiceTest, SendsOneSentenceEventPerSentenceWhereItsSoundStarts) {
    const std::vector<unsigned char> first = Speak("First one. ");
    const std::vector<unsigned char> second = Speak("Second one! ");
    const std::vector<unsigned char> all = Speak("First one. Second one! Third?");
    std::vector<const SPEVENT*> sentences;
    for (const SPEVENT& event : events_)
        if (event.eEventId == SPEI_SENTENCE_BOUNDARY) sentences.push_back(&event);
    ASSERT_EQ(3u, sentences.size());
    const ULONG positions[] = {0, 11, 23}, lengths[] = {11, 12, 6};
    // Each sentence is synthesised on its own, so its sound starts where the earlier ones' ends.
    const ULONGLONG offsets[] = {0, first.size(), first.size() + second.size()};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(positions[i], static_cast<ULONG>(sentences[i]->lParam)) << i;
        EXPECT_EQ(lengths[i], sentences[i]->wParam) << i;
        EXPECT_EQ(offsets[i], sentences[i]->ullAudioStreamOffset) << i;
    }
    EXPECT_LT(offsets[2], all.size());
}

TEST_F(EspeakVoiceTest, EveryFormatLastsAsLongAsEspeaksSoundAndIsPackedAsItSays) {
    const double reference = SecondsSpoken("Hello world.");
    ASSERT_GT(reference, 0.5);
    for (DWORD rate : AllRates) {
        for (WORD bits : {8, 16}) {
            for (WORD channels : {1, 2}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(bits) + " bit, " + std::to_string(channels) +
                             " channel(s)");
                const std::vector<unsigned char> pcm = Speak("Hello world.", rate, bits, channels);
                const WORD frameBytes = static_cast<WORD>(bits / 8 * channels);
                ASSERT_EQ(0u, pcm.size() % frameBytes);
                const double seconds = static_cast<double>(pcm.size() / frameBytes) / rate;
                EXPECT_NEAR(reference, seconds, 1.0 / rate);
                // Stereo: both channels carry the same sample.
                if (channels == 2) {
                    const size_t sampleBytes = bits / 8;
                    bool same = true;
                    for (size_t at = 0; at + frameBytes <= pcm.size() && same; at += frameBytes)
                        same = std::equal(pcm.begin() + at, pcm.begin() + at + sampleBytes, pcm.begin() + at + sampleBytes);
                    EXPECT_TRUE(same);
                }
                // 8 bit is unsigned: espeak-ng's pauses sit at 128 (or just below), not at 0.
                if (bits == 8) {
                    std::map<int, size_t> histogram;
                    for (unsigned char b : pcm) ++histogram[b];
                    auto commonest = std::max_element(histogram.begin(), histogram.end(),
                                                      [](auto& a, auto& b) { return a.second < b.second; });
                    EXPECT_TRUE(commonest->first == 128 || commonest->first == 127) << commonest->first;
                    EXPECT_GT(std::count_if(pcm.begin(), pcm.end(), [](unsigned char b) { return b < 96 || b > 160; }),
                              0);
                }
            }
        }
    }
}

TEST_F(EspeakVoiceTest, TheRateSetsTheSpeed) {
    const double slow = SecondsSpoken(Sentence, -5), normal = SecondsSpoken(Sentence, 0),
                 fast = SecondsSpoken(Sentence, 5), fastest = SecondsSpoken(Sentence, 10);
    EXPECT_GT(slow, normal * 1.2);
    EXPECT_LT(fast, normal * 0.8);
    EXPECT_LT(fastest, fast * 0.9);
}

TEST_F(EspeakVoiceTest, ARateChangeWhileSpeakingAppliesToTheSentencesStillToCome) {
    const std::string twoSentences = std::string(Sentence) + " " + Sentence;
    const double atNormal = SecondsSpoken(twoSentences, 0), atFastest = SecondsSpoken(twoSentences, 10);

    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    output.HoldWrites();  // the engine thread stops in the first sentence's first Write
    TempFile file(twoSentences);
    ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 21, nullptr));
    ASSERT_TRUE(output.WaitForWrites(1, Patience));
    ASSERT_EQ(S_OK, wired.voice->SetRate(10));
    output.ReleaseWrites();
    ASSERT_EQ(S_OK, wired.voice->WaitUntilDone(Patience));
    ClearEvents(events_);
    events_ = DrainEvents(wired.voice.Get());
    const double mixed = output.Bytes().size() / 2 / 22050.0;
    // The first sentence at the old rate, the second at the new one: about halfway between.
    EXPECT_LT(mixed, atNormal - (atNormal - atFastest) / 4);
    EXPECT_GT(mixed, atFastest + (atNormal - atFastest) / 4);
}

TEST_F(EspeakVoiceTest, MarkupTagsAreNotReadOutAndSilencesAndVolumeAreHeard) {
    const double plain = SecondsSpoken("Hello there, my friend.");
    // Tags that change nothing audible, known and unknown: the same speech, not longer. (The
    // voice asked for is the English one that speaks already.)
    const double tagged = SecondsSpoken(
        "<?xml version=\"1.0\"?><speak><voice required=\"Language=409\"><rate speed=\"0\"><volume level=\"100\">"
        "Hello <bookmark mark=\"m1\"/>there, <partofsp part=\"noun\">my</partofsp> <unknown>friend</unknown>."
        "</volume></rate></voice></speak>",
        0, true);
    EXPECT_NEAR(plain, tagged, plain * 0.1);
    auto bookmark = std::find_if(events_.begin(), events_.end(), [](const SPEVENT& e) {
        return e.eEventId == SPEI_TTS_BOOKMARK && std::wstring(reinterpret_cast<LPCWSTR>(e.lParam)) == L"m1";
    });
    EXPECT_NE(events_.end(), bookmark);

    const double paused = SecondsSpoken("<speak>Hello there, <silence msec=\"1000\"/>my friend.</speak>", 0, true);
    EXPECT_GT(paused - plain, 0.8);
    EXPECT_LT(paused - plain, 1.4);

    const double loud = Rms(Samples16(Speak("<speak>Hello there, my friend.</speak>", 22050, 16, 1, 0, true)));
    const double quiet =
        Rms(Samples16(Speak("<speak><volume level=\"50\">Hello there, my friend.</volume></speak>", 22050, 16, 1, 0, true)));
    EXPECT_NEAR(0.5, quiet / loud, 0.1);
}

TEST_F(EspeakVoiceTest, APurgeStopsItBetweenChunks) {
    std::string story;
    for (int i = 0; i < 6; ++i) story += std::string(Sentence) + " ";
    const double whole = SecondsSpoken(story);
    ASSERT_GT(whole, 15.0);

    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    TempFile file(story);
    ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 21, nullptr));
    ASSERT_TRUE(output.WaitForWrites(1, Patience));
    EXPECT_EQ(S_OK, wired.voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr));
    EXPECT_EQ(S_OK, wired.voice->WaitUntilDone(0));  // nothing left: the purge waited for the engine
    ClearEvents(events_);
    events_ = DrainEvents(wired.voice.Get());
    EXPECT_LT(output.Bytes().size() / 2 / 22050.0, whole / 2);
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events_.back().eEventId);
    EXPECT_FALSE(engine::PurgeTimedOut());
}

// A piece whose espeak-ng dies after part of its sound (sox still ending well) is tried once more;
// when that fails too, the stream ends with the failure in the voice's status, never as complete.
TEST_F(EspeakVoiceTest, APieceWhoseEspeakDiesIsTriedOnceMoreThenTheStreamEndsFailed) {
    const std::vector<unsigned char> whole = Speak(Sentence);
    ASSERT_FALSE(whole.empty());
    struct Case { int failingRuns; HRESULT result; std::vector<unsigned char> sound; };
    for (const Case& c : {Case{1, S_OK, whole}, Case{2, E_FAIL, {}}}) {
        const std::string folder = host::CreateUniqueTempFolder("dying_espeak_");
        ASSERT_NO_FATAL_FAILURE(PutDyingEspeakFirst(folder, c.failingRuns));
        EXPECT_EQ(c.sound, Speak(Sentence)) << c.failingRuns << " failing runs";
        EXPECT_EQ("\n\n", host::ReadWholeFile(folder + "\\runs")) << "two runs, with " << c.failingRuns << " failing";
        EXPECT_EQ(c.result, lastResult_) << c.failingRuns << " failing runs";
        EXPECT_EQ(SPEI_END_INPUT_STREAM, events_.empty() ? SPEI_UNDEFINED : events_.back().eEventId);
        host::RemoveFolderTree(folder);
    }
}

// Silences are zero samples of the output's format, written as fast as the output takes them: 400 s
// of 48 kHz stereo is more than sox's 64 MB; one between two sentences stands between their sounds.
TEST_F(EspeakVoiceTest, ASilenceOfAnyLengthPlaysWholeAsZeroSamples) {
    const size_t hello = Speak("<speak>Hello.</speak>", 48000, 16, 2, 0, true).size();
    ASSERT_GT(hello, 0u);
    EXPECT_EQ(2 * hello + 2 * 48000 * 4,
              Speak("<speak>Hello.<silence msec=\"2000\"/>Hello.</speak>", 48000, 16, 2, 0, true).size());
    engine::SetRecordDeliveredPcm(false);
    const std::vector<unsigned char> silence = Speak("<speak><silence msec=\"400000\"/></speak>", 48000, 16, 2, 0, true);
    EXPECT_EQ(400u * 48000 * 4, silence.size());
    EXPECT_EQ(silence.end(), std::find_if(silence.begin(), silence.end(), [](unsigned char b) { return b != 0; }));
}

}  // namespace
}  // namespace enginetest
