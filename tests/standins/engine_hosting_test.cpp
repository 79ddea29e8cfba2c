// Voices others registered in the registry: listed beside the engine's own, and spoken by their own
// ISpTTSEngine, which a tiny engine of this test stands for.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "engine/hosted_engine.h"
#include "tests/standins/engine_test_support.h"

namespace enginetest {
namespace {

const DWORD Patience = 20000;
const CLSID ToyClass = {0x3d1c9e27, 0x51a4, 0x4c0b, {0x9b, 0x6e, 0x1f, 0x42, 0x7a, 0x80, 0xc3, 0x15}};
const wchar_t ToyClassText[] = L"{3D1C9E27-51A4-4C0B-9B6E-1F427A80C315}";
const wchar_t MissingClassText[] = L"{3D1C9E27-51A4-4C0B-9B6E-1F427A80C316}";
const wchar_t TokensKey[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";
const std::wstring TokenIds = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";

// What the toy engine was given and did.
std::atomic<bool> Endless{false};
std::atomic<bool> SawAbort{false};
std::atomic<DWORD> OwnRate{0};  // set: the toy writes 16-bit mono at this rate, whatever it is asked for
std::wstring GivenTokenId, GivenFragments;

// Writes two 16-bit frames per character, each the character's code, and one word event per
// fragment; endless, it writes silence until the site says to abort.
class ToyEngine final : public engine::TtsEngine, public ISpObjectWithToken {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, __uuidof(ISpObjectWithToken))) *object = static_cast<ISpObjectWithToken*>(this);
        else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, engine::TtsEngineIid)) *object = static_cast<TtsEngine*>(this);
        else return *object = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE SetObjectToken(ISpObjectToken* token) override {
        TaskWideString id;
        HRESULT result = token->GetId(id.Receive());
        GivenTokenId = id.Get() ? id.Get() : L"";
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetObjectToken(ISpObjectToken**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputFormat(const GUID* targetId, const WAVEFORMATEX* target, GUID* id,
                                              WAVEFORMATEX** format) override {
        *id = *targetId;
        *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        **format = *target;
        if (OwnRate) **format = {WAVE_FORMAT_PCM, 1, OwnRate, OwnRate * 2, 2, 16, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Speak(DWORD, REFGUID, const WAVEFORMATEX*, const engine::TtsTextFragment* fragment,
                                    engine::TtsEngineSite* site) override {
        ULONGLONG offset = 0;
        for (; fragment; fragment = fragment->next) {
            GivenFragments += std::wstring(fragment->text, fragment->length) + L"|";
            SPEVENT word = {SPEI_WORD_BOUNDARY, SPET_LPARAM_IS_UNDEFINED, 0, offset, fragment->length,
                            static_cast<LPARAM>(fragment->sourceOffset)};
            site->AddEvents(&word, 1);
            for (ULONG i = 0; i < fragment->length || Endless; ++i) {
                if (Aborted(site)) return S_OK;
                const short frames[2] = {static_cast<short>(Endless ? 0 : fragment->text[i]), frames[0]};
                if (FAILED(site->Write(frames, sizeof frames, nullptr))) return Aborted(site) ? S_OK : E_FAIL;
                offset += sizeof frames;
            }
        }
        return S_OK;
    }

private:
    static bool Aborted(engine::TtsEngineSite* site) {
        if (site->GetActions() & engine::TtsAbort) SawAbort = true;
        return SawAbort;
    }
    std::atomic<ULONG> references_{1};
};

class ToyFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override { return *object = this, S_OK; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
        ToyEngine* engine = new ToyEngine;
        HRESULT result = engine->QueryInterface(iid, object);
        engine->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }
} Factory;

void WriteToken(const std::wstring& name, const wchar_t* classId, bool own) {
    ScopedRegKey key, attributes;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (TokensKey + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, key.Receive(), nullptr));
    RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()), (name.size() + 1) * 2);
    RegSetValueExW(key.Get(), L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(classId), (wcslen(classId) + 1) * 2);
    const DWORD one = 1;
    if (own) RegSetValueExW(key.Get(), engine::OwnTokenValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCreateKeyExW(key.Get(), L"Attributes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, attributes.Receive(), nullptr);
    RegSetValueExW(attributes.Get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()), (name.size() + 1) * 2);
}

class EngineHostingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, apartment_.registered);
        engine::ListRegisteredVoices(true);
        Endless = SawAbort = false;
        OwnRate = 0;
        GivenTokenId = GivenFragments = L"";
        for (const wchar_t* name : {L"TxtHostToy", L"TxtHostMissing", L"TxtHostOwn"}) {
            WriteToken(name, name == std::wstring(L"TxtHostMissing") ? MissingClassText : ToyClassText,
                       name == std::wstring(L"TxtHostOwn"));
        }
        // The toy's class lives in the multithreaded apartment, where the voice makes engines.
        mta_ = std::thread([this] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            DWORD cookie = 0;
            registered_ = CoRegisterClassObject(ToyClass, &Factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            SetEvent(ready_.Get());
            WaitForSingleObject(stop_.Get(), INFINITE);
            CoRevokeClassObject(cookie);
            CoUninitialize();
        });
        WaitForSingleObject(ready_.Get(), Patience);
        ASSERT_EQ(S_OK, registered_);
        ASSERT_EQ(S_OK, wired_.voice->SetOutput(&output_, FALSE));
    }
    void TearDown() override {
        SetEvent(stop_.Get());
        mta_.join();
        for (const wchar_t* name : {L"TxtHostToy", L"TxtHostMissing", L"TxtHostOwn"}) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (TokensKey + std::wstring(name)).c_str());
        }
    }

    std::vector<std::wstring> ListedIds(const wchar_t* required, ScopedComPtr<ISpObjectToken>* wanted = nullptr,
                                        const std::wstring& wantedId = L"") {
        ScopedComPtr<ISpObjectTokenCategory> category;
        EXPECT_EQ(S_OK, CoCreateInstance(engine::CategoryClassId, nullptr, CLSCTX_ALL, __uuidof(ISpObjectTokenCategory),
                                         category.ReceiveVoid()));
        EXPECT_EQ(S_OK, category->SetId(engine::VoicesCategoryId, FALSE));
        ScopedComPtr<IEnumSpObjectTokens> tokens;
        EXPECT_EQ(S_OK, category->EnumTokens(required, nullptr, tokens.Receive()));
        std::vector<std::wstring> ids;
        for (ScopedComPtr<ISpObjectToken> token; tokens->Next(1, token.Receive(), nullptr) == S_OK;) {
            TaskWideString id;
            token->GetId(id.Receive());
            ids.push_back(id.Get());
            if (wanted && ids.back() == wantedId) wanted->Assign(token.Get());
        }
        return ids;
    }

    EngineApartment apartment_;
    RecordingStream output_{22050, 16, 1};
    WiredVoice wired_;
    ScopedHandle ready_{CreateEventW(nullptr, TRUE, FALSE, nullptr)}, stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HRESULT registered_ = E_FAIL;
    std::thread mta_;
};

TEST_F(EngineHostingTest, RegisteredVoicesAreListedOnceAndSpokenByTheirOwnEngine) {
    std::vector<std::wstring> expected;
    for (const engine::VoiceInfo& voice : engine::DefaultVoices()) expected.push_back(voice.id);
    std::vector<std::wstring> ids = ListedIds(nullptr);
    ASSERT_GE(ids.size(), expected.size() + 2);
    EXPECT_EQ(expected, std::vector<std::wstring>(ids.begin(), ids.begin() + expected.size()));
    EXPECT_EQ(1, std::count(ids.begin(), ids.end(), TokenIds + L"TxtHostToy"));
    EXPECT_EQ(1, std::count(ids.begin(), ids.end(), TokenIds + L"TxtHostMissing"));
    EXPECT_EQ(0, std::count(ids.begin(), ids.end(), TokenIds + L"TxtHostOwn")) << "the engine's own token";

    ScopedComPtr<ISpObjectToken> toy;
    EXPECT_EQ(std::vector<std::wstring>{TokenIds + L"TxtHostToy"}, ListedIds(L"Name=TxtHostToy", &toy, TokenIds + L"TxtHostToy"));
    ASSERT_TRUE(toy.IsValid());
    ASSERT_EQ(S_OK, wired_.voice->SetVoice(toy.Get()));
    ASSERT_EQ(S_OK, wired_.voice->Speak(L"<rate speed=\"2\">Hi</rate> you", SPF_IS_XML, nullptr));

    EXPECT_EQ(TokenIds + L"TxtHostToy", GivenTokenId);
    EXPECT_EQ(L"Hi| you|", GivenFragments);
    std::vector<unsigned char> pcm = output_.Bytes();
    ASSERT_EQ(6u * 4, pcm.size());
    const auto* samples = reinterpret_cast<const short*>(pcm.data());
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(L"Hi you"[i / 2], samples[i]) << i;
    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    std::vector<LPARAM> wordSources;
    for (const SPEVENT& event : events) {
        if (event.eEventId == SPEI_WORD_BOUNDARY) wordSources.push_back(event.lParam);
    }
    ClearEvents(events);
    EXPECT_EQ((std::vector<LPARAM>{16, 25}), wordSources) << "where each fragment stands in the markup";
}

TEST_F(EngineHostingTest, AnEngineOfAnotherFormatIsConvertedToTheOutputs) {
    ScopedComPtr<ISpObjectToken> toy;
    ListedIds(nullptr, &toy, TokenIds + L"TxtHostToy");
    ASSERT_TRUE(toy.IsValid());
    OwnRate = 11025;  // half the output's rate
    ASSERT_EQ(S_OK, wired_.voice->SetVoice(toy.Get()));
    ASSERT_EQ(S_OK, wired_.voice->Speak(L"<rate speed=\"2\">Hi</rate> you", SPF_IS_XML, nullptr));
    EXPECT_EQ(2u * 6 * 2 * 2, output_.Bytes().size()) << "two frames a character, at twice the rate";
    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    std::vector<ULONGLONG> wordOffsets;
    for (const SPEVENT& event : events) {
        if (event.eEventId == SPEI_WORD_BOUNDARY) wordOffsets.push_back(event.ullAudioStreamOffset);
    }
    ClearEvents(events);
    EXPECT_EQ((std::vector<ULONGLONG>{0, 2 * 2 * 2 * 2}), wordOffsets) << "the second fragment after two characters";
}

TEST_F(EngineHostingTest, APurgeAbortsTheEngineAndAnEngineThatCannotBeMadeFailsSpeak) {
    ScopedComPtr<ISpObjectToken> toy, missing;
    ListedIds(nullptr, &toy, TokenIds + L"TxtHostToy");
    ListedIds(nullptr, &missing, TokenIds + L"TxtHostMissing");
    ASSERT_TRUE(toy.IsValid() && missing.IsValid());

    Endless = true;
    ASSERT_EQ(S_OK, wired_.voice->SetVoice(toy.Get()));
    ASSERT_EQ(S_OK, wired_.voice->Speak(L"x", SPF_ASYNC, nullptr));
    ASSERT_TRUE(output_.WaitForWrites(3, Patience));
    EXPECT_EQ(S_OK, wired_.voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr));
    EXPECT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
    EXPECT_TRUE(SawAbort);

    ASSERT_EQ(S_OK, wired_.voice->SetVoice(missing.Get()));
    const long writes = output_.WriteCount();
    EXPECT_EQ(REGDB_E_CLASSNOTREG, wired_.voice->Speak(L"Hello", SPF_ASYNC, nullptr));
    EXPECT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
    EXPECT_EQ(writes, output_.WriteCount());
}

}  // namespace
}  // namespace enginetest
