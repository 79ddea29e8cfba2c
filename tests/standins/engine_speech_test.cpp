// The stand-in voice speaking: PCM in the output's format and in blocks, events after their
// audio and only for the queued interest, the rate, the accepted formats, injected failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/sapi_codes.h"
#include "tests/standins/engine_test_support.h"

namespace enginetest {
namespace {

const HRESULT UnsupportedFormat = static_cast<HRESULT>(0x80045003);
const DWORD Patience = 20000;  // generous bound for "does not hang"

ULONGLONG Interest(SPEVENTENUM id) { return (1ull << id) | (1ull << 30) | (1ull << 33); }

class EngineSpeechTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, apartment_.registered); }

    // Speaks `text` from a file and waits until the voice is done.
    ULONG SpeakFile(ISpVoice* voice, const std::string& text, DWORD flags = 21) {
        TempFile file(text, flags & SPF_IS_XML ? L".xml" : L".txt");
        ULONG number = 0;
        EXPECT_EQ(S_OK, voice->Speak(file.Path().c_str(), flags, &number));
        EXPECT_EQ(S_OK, voice->WaitUntilDone(Patience));
        return number;
    }

    EngineApartment apartment_;
};

TEST_F(EngineSpeechTest, SpeaksAFileAsTonesOfPredictableSizeInBlocksOfTheChosenSizes) {
    engine::SetBlockSizes({1000, 3});  // 3 bytes is one whole 16-bit mono frame
    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));

    EXPECT_EQ(1u, SpeakFile(wired.voice.Get(), "Hello big world"));

    const size_t characterBytes = engine::FramesPerCharacter(0) * 2;
    std::vector<unsigned char> pcm = output.Bytes();
    ASSERT_EQ(15 * characterBytes, pcm.size());
    auto silent = [&](size_t character) {
        return std::all_of(pcm.begin() + character * characterBytes, pcm.begin() + (character + 1) * characterBytes,
                           [](unsigned char b) { return b == 0; });
    };
    EXPECT_TRUE(silent(5));
    EXPECT_TRUE(silent(9));
    EXPECT_FALSE(silent(0));
    EXPECT_FALSE(silent(14));
    EXPECT_EQ(pcm, engine::DeliveredPcm(1));
    EXPECT_EQ(pcm, engine::RenderTone(L"Hello big world", 0, engine::CurrentVoiceId(), output.Format()));

    std::vector<ULONG> sizes = engine::WriteSizes(1);
    size_t left = pcm.size();
    for (size_t i = 0; i < sizes.size(); ++i) {
        size_t wanted = std::min<size_t>(i % 2 == 0 ? 1000 : 2, left);
        EXPECT_EQ(wanted, sizes[i]) << "write " << i;
        left -= sizes[i];
    }
    EXPECT_EQ(0u, left);
}

TEST_F(EngineSpeechTest, EventsFollowTheirAudioWithStreamNumbersAndTheSinkIsTold) {
    engine::SetBlockSizes({128});  // one character of 16-bit mono per block
    RecordingStream output(8000, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));

    EXPECT_EQ(1u, SpeakFile(wired.voice.Get(), "ab  cd"));
    EXPECT_EQ(2u, SpeakFile(wired.voice.Get(), "xyz"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(wired.event, 0));

    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(SPEI_START_INPUT_STREAM, events.front().eEventId);
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().eEventId);

    std::vector<const SPEVENT*> words, ends;
    ULONG previousStream = 1;
    for (const SPEVENT& event : events) {
        EXPECT_GE(event.ulStreamNum, previousStream) << "streams interleaved: " << EventTrace(events);
        previousStream = event.ulStreamNum;
        if (event.eEventId == SPEI_WORD_BOUNDARY) words.push_back(&event);
        if (event.eEventId == SPEI_END_INPUT_STREAM) ends.push_back(&event);
    }
    ASSERT_EQ(3u, words.size());
    EXPECT_EQ(0, words[0]->lParam);  // character position
    EXPECT_EQ(2u, words[0]->wParam);  // length
    EXPECT_EQ(4, words[1]->lParam);
    EXPECT_EQ(4u * 128, words[1]->ullAudioStreamOffset);
    EXPECT_EQ(2u, words[2]->ulStreamNum);
    EXPECT_EQ(3u, words[2]->wParam);
    ASSERT_EQ(2u, ends.size());
    EXPECT_EQ(6u * 128, ends[0]->ullAudioStreamOffset);
    EXPECT_EQ(3u * 128, ends[1]->ullAudioStreamOffset);
    ClearEvents(events);
}

// Sentence and word events: where they stand in the file (for markup, in its source with the
// tags) and where their sound starts; the tone voice's offsets follow from the spoken text.
struct TextEventCase {
    const char* name;
    const char* file;
    DWORD flags;
    std::vector<engine::TextEvent> sentences;
    std::vector<engine::TextEvent> words;
};

std::vector<engine::TextEvent> EventsOf(const std::vector<SPEVENT>& events, SPEVENTENUM id) {
    std::vector<engine::TextEvent> found;
    for (const SPEVENT& event : events) {
        if (event.eEventId == id)
            found.push_back({static_cast<ULONG>(event.lParam), static_cast<ULONG>(event.wParam), event.ullAudioStreamOffset});
    }
    return found;
}

std::string Describe(const std::vector<engine::TextEvent>& events) {
    std::string text;
    for (const engine::TextEvent& e : events)
        text += "(" + std::to_string(e.position) + "," + std::to_string(e.length) + " @" + std::to_string(e.audioOffset) + ")";
    return text;
}

TEST_F(EngineSpeechTest, SentenceAndWordEventsTellWhereTheyStandInTheFileAndWhenTheySound) {
    const ULONGLONG c = engine::FramesPerCharacter(0) * 2;  // bytes of one character, 16-bit mono
    const TextEventCase cases[] = {
        {"plain text", "Hi there. Go on!  \r\n\r\nEnd", 21,
         {{0, 10, 0}, {10, 12, 10 * c}, {22, 3, 22 * c}},
         {{0, 2, 0}, {3, 6, 3 * c}, {10, 2, 10 * c}, {13, 3, 13 * c}, {22, 3, 22 * c}}},
        // Spoken: "Hi & bye. Go on!"; positions count the tags and the whole entity.
        {"markup", "<speak>Hi &amp; bye. <emph>Go</emph> on!</speak>", 13,
         {{7, 14, 0}, {27, 13, 10 * c}},
         {{7, 2, 0}, {10, 5, 3 * c}, {16, 4, 5 * c}, {27, 2, 10 * c}, {37, 3, 13 * c}}},
    };
    engine::SetBlockSizes({700});
    for (const TextEventCase& test : cases) {
        SCOPED_TRACE(test.name);
        RecordingStream output(22050, 16, 1);
        WiredVoice wired;
        ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
        SpeakFile(wired.voice.Get(), test.file, test.flags);
        std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());

        const std::vector<engine::TextEvent> sentences = EventsOf(events, SPEI_SENTENCE_BOUNDARY);
        EXPECT_EQ(Describe(test.sentences), Describe(sentences));
        EXPECT_EQ(Describe(test.words), Describe(EventsOf(events, SPEI_WORD_BOUNDARY)));
        const std::string bytes(test.file);
        EXPECT_EQ(Describe(sentences),
                  Describe(engine::ToneSentenceEvents({bytes.begin(), bytes.end()}, test.flags & SPF_IS_XML, 0,
                                                      output.Format())));
        // A sentence's event comes just before that of its first word, as SAPI orders them.
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].eEventId != SPEI_SENTENCE_BOUNDARY) continue;
            ASSERT_LT(i + 1, events.size());
            EXPECT_EQ(SPEI_WORD_BOUNDARY, events[i + 1].eEventId);
            EXPECT_EQ(events[i].lParam, events[i + 1].lParam);
        }
        ClearEvents(events);
    }
}

TEST_F(EngineSpeechTest, WithSentenceEventsTurnedOffOnlyWordsAreSentUntilAReset) {
    RecordingStream output(8000, 8, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    auto count = [](const std::vector<SPEVENT>& events, SPEVENTENUM id) {
        return std::count_if(events.begin(), events.end(), [&](const SPEVENT& e) { return e.eEventId == id; });
    };

    engine::SetSentenceEvents(false);
    SpeakFile(wired.voice.Get(), "One. Two.");
    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    EXPECT_EQ(0, count(events, SPEI_SENTENCE_BOUNDARY));
    EXPECT_EQ(2, count(events, SPEI_WORD_BOUNDARY));
    ClearEvents(events);

    engine::Reset();
    SpeakFile(wired.voice.Get(), "One. Two.");
    events = DrainEvents(wired.voice.Get());
    EXPECT_EQ(2, count(events, SPEI_SENTENCE_BOUNDARY));
    ClearEvents(events);
}

// <voice> and <lang> switch the tone voice (its pitch follows the token) for the text they enclose;
// a tag no voice answers keeps the voice in force, and no tag is spoken.
TEST_F(EngineSpeechTest, VoiceAndLangMarkupSpeakTheirTextWithTheVoiceTheyChoose) {
    const std::vector<engine::VoiceInfo> tones = engine::DefaultVoices();  // Anna 409, Bert 407, Chloe 40C
    RecordingStream output(16000, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(tones[0].id, engine::CurrentVoiceId());
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    SpeakFile(wired.voice.Get(),
              "<speak>ab<voice required=\"Language=407\">cd<lang langid=\"40C\">ef</lang>gh</voice>ij"
              "<voice required=\"Language=419\">kl</voice><voice required=\"Gender=Male\" optional=\"x\"/>mn</speak>",
              13);
    const WAVEFORMATEX format = output.Format();
    std::vector<unsigned char> expected;
    for (const auto& part : std::vector<std::pair<const wchar_t*, int>>{
             {L"ab", 0}, {L"cd", 1}, {L"ef", 2}, {L"gh", 1}, {L"ij", 0}, {L"kl", 0}, {L"mn", 1}}) {
        const std::vector<unsigned char> pcm = engine::RenderTone(part.first, 0, tones[part.second].id, format);
        expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
    EXPECT_TRUE(expected == output.Bytes()) << output.Bytes().size() << " bytes spoken, " << expected.size() << " expected";
    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    ClearEvents(events);
}

TEST_F(EngineSpeechTest, OnlyTheQueuedInterestIsQueuedAndMasksWithoutFlagCheckBitsAreRefused) {
    RecordingStream output(11025, 8, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));

    EXPECT_EQ(E_INVALIDARG, wired.voice->SetInterest(0xFFFE, 0xFFFE));
    EXPECT_EQ(E_INVALIDARG, wired.voice->SetInterest(Interest(SPEI_END_INPUT_STREAM),
                                                      Interest(SPEI_END_INPUT_STREAM) | Interest(SPEI_WORD_BOUNDARY)));
    ASSERT_EQ(S_OK, wired.voice->SetInterest(Interest(SPEI_END_INPUT_STREAM) | Interest(SPEI_WORD_BOUNDARY),
                                             Interest(SPEI_END_INPUT_STREAM)));
    SpeakFile(wired.voice.Get(), "one two");
    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    EXPECT_EQ("2:1", EventTrace(events));
    ClearEvents(events);

    // Nothing of interest: nothing queued, nobody told.
    ASSERT_EQ(S_OK, wired.voice->SetInterest(0, 0));
    ResetEvent(wired.event);
    SpeakFile(wired.voice.Get(), "three");
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(wired.event, 0));
    EXPECT_TRUE(DrainEvents(wired.voice.Get()).empty());
}

TEST_F(EngineSpeechTest, EventPayloadsOfEveryKindStayCountedUntilTheReceiverGivesThemBack) {
    RecordingStream output(16000, 16, 2);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    SpeakFile(wired.voice.Get(), "<speak>Hi <bookmark mark=\"7 up\"/>there</speak>", 13);
    EXPECT_EQ(8u * engine::FramesPerCharacter(0) * 4, output.Bytes().size());

    std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
    int token = 0, object = 0, pointer = 0, text = 0;
    for (const SPEVENT& event : events) {
        switch (event.elParamType) {
        case SPET_LPARAM_IS_TOKEN: {
            ++token;
            EXPECT_EQ(SPEI_VOICE_CHANGE, event.eEventId);
            ScopedTaskMem<wchar_t> id;
            ASSERT_EQ(S_OK, reinterpret_cast<ISpObjectToken*>(event.lParam)->GetId(id.Receive()));
            EXPECT_EQ(engine::CurrentVoiceId(), id.Get());
            break;
        }
        case SPET_LPARAM_IS_STRING:
            ++text;
            EXPECT_EQ(SPEI_TTS_BOOKMARK, event.eEventId);
            EXPECT_STREQ(L"7 up", reinterpret_cast<const wchar_t*>(event.lParam));
            EXPECT_EQ(7u, event.wParam);
            EXPECT_EQ(3u * engine::FramesPerCharacter(0) * 4, event.ullAudioStreamOffset);
            break;
        case SPET_LPARAM_IS_POINTER: ++pointer; break;
        case SPET_LPARAM_IS_OBJECT: ++object; break;
        default: break;
        }
    }
    EXPECT_EQ(1, token);
    EXPECT_EQ(1, text);
    EXPECT_EQ(1, pointer);
    EXPECT_EQ(1, object);
    EXPECT_EQ(1, engine::Counts(engine::ObjectKind::PayloadObject).live);
    EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Token).live);

    ClearEvents(events);
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::PayloadObject).live);
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Token).live);
    engine::PayloadFrees frees = engine::TaskMemoryPayloads();
    EXPECT_EQ(2, frees.handedOut);
    if (engine::TaskMemoryWatched()) {
        EXPECT_EQ(2, frees.freed);
    } else {
        std::printf("note: task-memory frees are not observable in this process\n");
    }
}

TEST_F(EngineSpeechTest, ARateChangeDuringSpeechAppliesToTheCharactersStillToCome) {
    engine::SetBlockSizes({3 * 128});  // three characters of 16-bit mono at rate 0
    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    output.HoldWrites();
    TempFile file("abcdefgh");
    ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 21, nullptr));
    ASSERT_TRUE(output.WaitForWrites(1, Patience));

    ASSERT_EQ(S_OK, wired.voice->SetRate(25));  // kept as given, spoken at the fastest rate, 10
    output.ReleaseWrites();
    ASSERT_EQ(S_OK, wired.voice->WaitUntilDone(Patience));

    EXPECT_EQ(3u * 128 + 5u * engine::FramesPerCharacter(10) * 2, output.Bytes().size());
    LONG rate = 0;
    EXPECT_EQ(S_OK, wired.voice->GetRate(&rate));
    EXPECT_EQ(25, rate);
}

TEST_F(EngineSpeechTest, InRealTimeTheAudioIsDeliveredNoFasterThanItPlays) {
    engine::SetSynthesisSpeed(engine::Speed::RealTime);
    engine::SetBlockSizes({640});
    RecordingStream output(8000, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    DWORD started = GetTickCount();
    SpeakFile(wired.voice.Get(), std::string(25, 'r'));
    DWORD elapsed = GetTickCount() - started;
    const DWORD audioMilliseconds = 25 * engine::FramesPerCharacter(0) * 1000 / 8000;
    EXPECT_EQ(25u * engine::FramesPerCharacter(0) * 2, output.Bytes().size());
    EXPECT_GE(elapsed + 20, audioMilliseconds);  // the tick count is coarse
}

TEST_F(EngineSpeechTest, OnlyPcmWaveFormatsAreAcceptedAsOutput) {
    WiredVoice wired;
    RecordingStream output(8000, 8, 2);
    WAVEFORMATEX format = output.Format();

    WAVEFORMATEX adpcm = format;
    adpcm.wFormatTag = 2;
    output.SetFormat(WaveFormatExId, adpcm);
    EXPECT_EQ(UnsupportedFormat, wired.voice->SetOutput(&output, FALSE));
    WAVEFORMATEX wide = format;
    wide.wBitsPerSample = 24;
    output.SetFormat(WaveFormatExId, wide);
    EXPECT_EQ(UnsupportedFormat, wired.voice->SetOutput(&output, FALSE));
    WAVEFORMATEX surround = format;
    surround.nChannels = 6;
    output.SetFormat(WaveFormatExId, surround);
    EXPECT_EQ(UnsupportedFormat, wired.voice->SetOutput(&output, FALSE));
    output.SetFormat(GUID_NULL, format);
    EXPECT_EQ(UnsupportedFormat, wired.voice->SetOutput(&output, FALSE));

    ScopedComPtr<IUnknown> notAStream;
    ASSERT_EQ(S_OK, wired.translator->QueryInterface(IID_IUnknown, notAStream.ReceiveVoid()));
    EXPECT_EQ(E_INVALIDARG, wired.voice->SetOutput(notAStream.Get(), FALSE));  // as SAPI answers

    // 8-bit stereo: unsigned samples around 128, the same on both channels.
    output.SetFormat(WaveFormatExId, format);
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    SpeakFile(wired.voice.Get(), " k");
    std::vector<unsigned char> pcm = output.Bytes();
    const size_t frames = engine::FramesPerCharacter(0);
    ASSERT_EQ(2 * frames * 2, pcm.size());
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 2 * frames, [](unsigned char b) { return b == 128; }));
    bool sounding = false;
    for (size_t frame = frames; frame < 2 * frames; ++frame) {
        EXPECT_EQ(pcm[2 * frame], pcm[2 * frame + 1]);
        sounding = sounding || pcm[2 * frame] != 128;
    }
    EXPECT_TRUE(sounding);
}

TEST_F(EngineSpeechTest, AFileThatCannotBeOpenedFailsTheSpeakAtOnce) {
    WiredVoice wired;
    const wchar_t* missing = L"C:\\no such folder\\missing.txt";
    HANDLE probe = CreateFileW(missing, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, probe);
    HRESULT openFailure = HRESULT_FROM_WIN32(GetLastError());

    ULONG number = 99;
    EXPECT_EQ(openFailure, wired.voice->Speak(missing, 21, &number));
    EXPECT_EQ(0u, number);
    EXPECT_EQ(0u, engine::LastStreamNumber());
    EXPECT_TRUE(DrainEvents(wired.voice.Get()).empty());
}

TEST_F(EngineSpeechTest, UnicodeFilesAreSpokenFromTheirUtf16Text) {
    RecordingStream output(22050, 16, 1);
    WiredVoice wired;
    ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
    TempFile file(std::vector<unsigned char>{0xFF, 0xFE, 0x48, 0x00, 0x14, 0x04, 0x21, 0x00});
    ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 21, nullptr));
    ASSERT_EQ(S_OK, wired.voice->WaitUntilDone(Patience));
    EXPECT_EQ(engine::RenderTone(L"H\u0414!", 0, engine::CurrentVoiceId(), output.Format()), output.Bytes());
}

TEST_F(EngineSpeechTest, InjectedFailuresHitTheChosenCallAndAreLogged) {
    engine::InjectFailure(engine::Op::SetRate, 2, E_FAIL);
    engine::InjectFailure(engine::Op::CreateVoice, 1, E_OUTOFMEMORY);
    const CLSID voiceClass = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

    ScopedComPtr<ISpVoice> voice;
    EXPECT_EQ(E_OUTOFMEMORY, CoCreateInstance(voiceClass, nullptr, 7, __uuidof(ISpVoice), voice.ReceiveVoid()));
    EXPECT_FALSE(voice);
    ASSERT_EQ(S_OK, CoCreateInstance(voiceClass, nullptr, 7, __uuidof(ISpVoice), voice.ReceiveVoid()));

    EXPECT_EQ(S_OK, voice->SetRate(1));
    EXPECT_EQ(E_FAIL, voice->SetRate(2));
    EXPECT_EQ(S_OK, voice->SetRate(3));

    engine::InjectFailure(engine::Op::GetEvents, engine::EveryCall, E_UNEXPECTED);
    SPEVENT event;
    ULONG fetched = 7;
    EXPECT_EQ(E_UNEXPECTED, voice->GetEvents(1, &event, &fetched));
    EXPECT_EQ(E_UNEXPECTED, voice->GetEvents(1, &event, &fetched));
    EXPECT_EQ(0u, fetched);

    std::vector<std::wstring> log = engine::CallLog();
    std::vector<std::wstring> expected = {L"CreateVoice = 0x8007000E", L"CreateVoice", L"SetRate(1)",
                                          L"SetRate(2) = 0x80004005", L"SetRate(3)"};
    EXPECT_EQ(expected, log);
}

TEST_F(EngineSpeechTest, EveryReferenceToTheVoiceAndTranslatorIsAccountedFor) {
    {
        RecordingStream output(22050, 16, 1);
        WiredVoice wired;
        ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
        SpeakFile(wired.voice.Get(), "a b");
        std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
        ClearEvents(events);
        EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Voice).live);
        EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Translator).live);
    }
    for (auto kind : {engine::ObjectKind::Voice, engine::ObjectKind::Translator, engine::ObjectKind::Token,
                      engine::ObjectKind::PayloadObject}) {
        engine::RefCounts counts = engine::Counts(kind);
        EXPECT_EQ(0, counts.live);
        EXPECT_EQ(counts.addRefs, counts.releases);
    }
    EXPECT_GT(engine::Counts(engine::ObjectKind::Translator).addRefs, 1);  // the voice held it
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// GetLastOutputStream follows the latest SetOutput and lets go when the voice does.
TEST_F(EngineSpeechTest, TheLastOutputStreamIsTheLatestOneSetWhileItsVoiceLives) {
    RecordingStream first(22050, 16, 1), second(8000, 8, 1);
    ISpStreamFormat* stream = nullptr;
    {
        WiredVoice wired;
        ASSERT_EQ(S_OK, wired.voice->SetOutput(&first, FALSE));
        ASSERT_EQ(S_OK, wired.voice->SetOutput(&second, FALSE));
        ASSERT_EQ(S_OK, engine::GetLastOutputStream(&stream));
        EXPECT_EQ(static_cast<ISpStreamFormat*>(&second), stream);
        stream->Release();

        ASSERT_EQ(S_OK, wired.voice->SetOutput(nullptr, FALSE));  // the voice no longer has a stream
        EXPECT_EQ(SPERR_NOT_FOUND, engine::GetLastOutputStream(&stream));
        EXPECT_EQ(nullptr, stream);

        ASSERT_EQ(S_OK, wired.voice->SetOutput(&first, FALSE));
        ASSERT_EQ(S_OK, engine::GetLastOutputStream(&stream));
        EXPECT_EQ(static_cast<ISpStreamFormat*>(&first), stream);
        stream->Release();
    }
    EXPECT_EQ(SPERR_NOT_FOUND, engine::GetLastOutputStream(&stream));
    EXPECT_EQ(nullptr, stream);
}

}  // namespace
}  // namespace enginetest
