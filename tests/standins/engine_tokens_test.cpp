// The stand-in's voices category, enumerator and tokens, the voice choosing a token, and the
// notify translator.
#include <gtest/gtest.h>

#include "tests/standins/engine_test_support.h"

namespace enginetest {
namespace {

const HRESULT NotFound = static_cast<HRESULT>(0x8004503A);
const CLSID CategoryClass = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};
const CLSID TranslatorClass = {0xE2AE5372, 0x5D40, 0x11D2, {0x96, 0x0E, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28}};

class EngineTokensTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, apartment_.registered); }

    HRESULT OpenVoices(ScopedComPtr<ISpObjectTokenCategory>& category, const wchar_t* id = engine::VoicesCategoryId) {
        HRESULT result = CoCreateInstance(CategoryClass, nullptr, 7, __uuidof(ISpObjectTokenCategory),
                                          category.ReceiveVoid());
        if (FAILED(result)) return result;
        return category->SetId(id, FALSE);
    }

    // The category opened and its tokens enumerated, both held until the enumeration goes.
    struct Enumeration {
        ScopedComPtr<ISpObjectTokenCategory> category;
        ScopedComPtr<IEnumSpObjectTokens> tokens;
    };
    void Enumerate(Enumeration& voices, const wchar_t* id = engine::VoicesCategoryId) {
        ASSERT_EQ(S_OK, OpenVoices(voices.category, id));
        ASSERT_EQ(S_OK, voices.category->EnumTokens(nullptr, nullptr, voices.tokens.Receive()));
    }

    std::vector<ISpObjectToken*> AllTokens(IEnumSpObjectTokens* tokens) {
        std::vector<ISpObjectToken*> all;
        for (;;) {
            ISpObjectToken* token = nullptr;
            if (tokens->Next(1, &token, nullptr) != S_OK) {
                EXPECT_EQ(nullptr, token);
                return all;
            }
            all.push_back(token);
        }
    }

    static std::wstring Value(ISpObjectToken* token, const wchar_t* name, HRESULT expected = S_OK) {
        ScopedTaskMem<wchar_t> value;
        EXPECT_EQ(expected, token->GetStringValue(name, value.Receive()));
        if (FAILED(expected)) {
            EXPECT_EQ(nullptr, value.Get());
        }
        return value.Get() ? value.Get() : L"";
    }

    static std::wstring Id(ISpObjectToken* token) {
        ScopedTaskMem<wchar_t> id;
        EXPECT_EQ(S_OK, token->GetId(id.Receive()));
        return id.Get() ? id.Get() : L"";
    }

    static void ExpectAllGivenBack() {
        for (auto kind : {engine::ObjectKind::Category, engine::ObjectKind::Enumerator, engine::ObjectKind::Token,
                          engine::ObjectKind::Voice}) {
            engine::RefCounts counts = engine::Counts(kind);
            EXPECT_EQ(0, counts.live) << static_cast<int>(kind);
            EXPECT_EQ(counts.addRefs, counts.releases) << static_cast<int>(kind);
        }
    }

    EngineApartment apartment_;
};

TEST_F(EngineTokensTest, EnumeratesTheInstalledVoicesWithLanguageAndDefaultValues) {
    engine::SetInstalledVoices({{L"voice-a", {{L"409", L"Anna US"}, {L"", L"Anna"}}},
                                {L"voice-b", {{L"", L"Bert"}}},
                                {L"voice-c", {}}});
    {
        Enumeration voices;
        ASSERT_NO_FATAL_FAILURE(Enumerate(voices, L"hkey_local_machine\\software\\microsoft\\speech\\voices"));
        ULONG count = 0;
        EXPECT_EQ(S_OK, voices.tokens->GetCount(&count));
        EXPECT_EQ(3u, count);

        std::vector<ISpObjectToken*> all = AllTokens(voices.tokens.Get());
        ASSERT_EQ(3u, all.size());
        EXPECT_EQ(L"voice-a", Id(all[0]));
        EXPECT_EQ(L"voice-c", Id(all[2]));
        EXPECT_EQ(L"Anna US", Value(all[0], L"409"));
        EXPECT_EQ(L"Anna", Value(all[0], nullptr));
        EXPECT_EQ(L"", Value(all[1], L"409", NotFound));
        EXPECT_EQ(L"Bert", Value(all[1], nullptr));
        EXPECT_EQ(L"", Value(all[2], nullptr, NotFound));
        for (ISpObjectToken* token : all) token->Release();
    }
    ExpectAllGivenBack();
}

TEST_F(EngineTokensTest, OtherCategoriesAreWinesOwnAndAMissingVoicesCategoryIsNotFound) {
    ScopedComPtr<ISpObjectTokenCategory> audio;
    ASSERT_EQ(S_OK, OpenVoices(audio, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\AudioOutput"));
    ScopedTaskMem<wchar_t> defaultOutput;
    EXPECT_EQ(S_OK, audio->GetDefaultTokenId(defaultOutput.Receive()));
    EXPECT_NE(nullptr, wcsstr(defaultOutput.Get() ? defaultOutput.Get() : L"", L"AudioOutput"));
    EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Category).live) << "one object of the engine's, passing calls on";

    ScopedComPtr<ISpObjectTokenCategory> category;
    EXPECT_TRUE(FAILED(OpenVoices(category, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Recognizers")));

    engine::SetCategoryMissing(true);
    EXPECT_EQ(NotFound, OpenVoices(category));
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    EXPECT_TRUE(FAILED(category->EnumTokens(nullptr, nullptr, tokens.Receive())));
    EXPECT_FALSE(tokens);
}

TEST_F(EngineTokensTest, InjectedResultsEndAnEnumerationEarlyOrFailALookup) {
    engine::InjectFailure(engine::Op::EnumNext, 2, S_FALSE);
    engine::InjectFailure(engine::Op::TokenGetStringValue, 1, E_ACCESSDENIED);
    {
        Enumeration voices;
        ASSERT_NO_FATAL_FAILURE(Enumerate(voices));
        std::vector<ISpObjectToken*> all = AllTokens(voices.tokens.Get());
        ASSERT_EQ(1u, all.size());
        EXPECT_EQ(L"", Value(all[0], L"409", E_ACCESSDENIED));
        EXPECT_FALSE(Value(all[0], L"409").empty());
        all[0]->Release();
    }
    ExpectAllGivenBack();
}

TEST_F(EngineTokensTest, TheChosenTokenSpeaksAndIsHeldByTheVoiceUntilItGoes) {
    {
        RecordingStream output(22050, 16, 1);
        WiredVoice wired;
        ASSERT_EQ(S_OK, wired.voice->SetOutput(&output, FALSE));
        const std::wstring firstVoice = engine::CurrentVoiceId();
        {
            Enumeration voices;
            ASSERT_NO_FATAL_FAILURE(Enumerate(voices));
            std::vector<ISpObjectToken*> all = AllTokens(voices.tokens.Get());
            ASSERT_EQ(3u, all.size());
            EXPECT_EQ(firstVoice, Id(all[0]));
            ASSERT_EQ(S_OK, wired.voice->SetVoice(all[1]));
            EXPECT_EQ(Id(all[1]), engine::CurrentVoiceId());
            for (ISpObjectToken* token : all) token->Release();
        }
        EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Token).live);

        TempFile file("voice");
        ASSERT_EQ(S_OK, wired.voice->Speak(file.Path().c_str(), 21, nullptr));
        ASSERT_EQ(S_OK, wired.voice->WaitUntilDone(20000));
        std::vector<unsigned char> spoken = output.Bytes();
        EXPECT_EQ(engine::RenderTone(L"voice", 0, engine::CurrentVoiceId(), output.Format()), spoken);
        EXPECT_NE(engine::RenderTone(L"voice", 0, firstVoice, output.Format()), spoken);
        std::vector<SPEVENT> events = DrainEvents(wired.voice.Get());
        ClearEvents(events);
    }
    ExpectAllGivenBack();
}

TEST_F(EngineTokensTest, TheTranslatorSetsItsEventAndClosesItOnlyWhenAskedTo) {
    HANDLE kept = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE handedOver = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        ScopedComPtr<ISpNotifyTranslator> first, second;
        ASSERT_EQ(S_OK, CoCreateInstance(TranslatorClass, nullptr, 7, __uuidof(ISpNotifyTranslator), first.ReceiveVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(TranslatorClass, nullptr, 7, __uuidof(ISpNotifyTranslator), second.ReceiveVoid()));
        ASSERT_EQ(S_OK, first->InitWin32Event(kept, FALSE));
        EXPECT_EQ(static_cast<HRESULT>(0x80045002), first->InitWin32Event(kept, FALSE));
        ASSERT_EQ(S_OK, second->InitWin32Event(handedOver, TRUE));

        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(kept, 0));
        EXPECT_EQ(S_OK, first->Notify());
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(kept, 0));
        EXPECT_EQ(kept, first->GetEventHandle());
    }
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(kept, &flags));
    EXPECT_FALSE(GetHandleInformation(handedOver, &flags));
    CloseHandle(kept);
}

// COM's rule: a QueryInterface that fails leaves null in its out pointer, whatever was there before.
TEST_F(EngineTokensTest, EveryObjectAsksForAnInterfaceItLacksGetsNoInterfaceAndNull) {
    Enumeration voices;
    ASSERT_NO_FATAL_FAILURE(Enumerate(voices));
    ScopedComPtr<ISpObjectToken> token;
    ScopedComPtr<ISpDataKey> key;
    ScopedComPtr<IUnknown> factory;
    ASSERT_EQ(S_OK, voices.tokens->Next(1, token.Receive(), nullptr));
    ASSERT_EQ(S_OK, token->OpenKey(L"Attributes", key.Receive()));
    ASSERT_EQ(S_OK, engine::GetClassObject(engine::VoiceClassId, IID_IClassFactory, factory.ReceiveVoid()));
    WiredVoice wired;
    const std::vector<IUnknown*> objects = {voices.category.Get(), voices.tokens.Get(), token.Get(), key.Get(),
                                            factory.Get(), wired.voice.Get(), wired.translator.Get()};
    for (size_t i = 0; i < objects.size(); ++i) {
        void* answer = &answer;  // anything but null
        EXPECT_EQ(E_NOINTERFACE, objects[i]->QueryInterface(IID_IPersist, &answer)) << "object " << i;
        EXPECT_EQ(nullptr, answer) << "object " << i;
    }
}

}  // namespace
}  // namespace enginetest
