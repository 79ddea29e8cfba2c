// Play picks the installed voice whose token id equals the configured one, exactly.
#include "tests/plugin/plugin_fixture.h"

namespace {

class VoiceSelection : public PluginTest {
protected:
    // With this id configured, a file is spoken to its end without SetVoice and without a message.
    void ExpectSpokenByTheCurrentVoiceSilently(const std::wstring& configuredId) {
        LoadAndInit(WithSettings(SettingsWithVoice(configuredId)));
        host::MessageBoxWatcher boxes;
        EXPECT_EQ(0, host_->Play(MakeFile("a.txt", "Hello.")));
        ASSERT_TRUE(host_->WaitForEndOfFile(20000));
        EXPECT_EQ(0, LogCount(L"SetVoice("));
        EXPECT_EQ(0u, boxes.Count());
    }
};

TEST_F(VoiceSelection, SecondOfThreeVoicesIsSelectedWithoutFetchingTheThird) {
    std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    LoadAndInit(WithSettings(SettingsWithVoice(voices[1].id)));
    // Fetching a third token would fail Play with a report.
    engine::InjectFailure(engine::Op::EnumNext, 3, E_FAIL);
    host::MessageBoxWatcher boxes;
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hello.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(1, LogCount(L"SetVoice("));
    EXPECT_TRUE(LogHas(L"SetVoice(" + voices[1].id + L")"));
    EXPECT_EQ(voices[1].id, engine::CurrentVoiceId());
    EXPECT_EQ(0u, boxes.Count());
    // The voice's own sound: the second voice's tone.
    const WAVEFORMATEX format = PcmFormat(48000, 16, 1);
    EXPECT_EQ(engine::RenderTone(L"Hello.", 0, voices[1].id, format), OutputBytes());
}

// An engine may hand out a token whose GetId succeeds without a string: it is passed over, not read.
TEST_F(VoiceSelection, TokenWithoutAnIdIsPassedOver) {
    std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    LoadAndInit(WithSettings(SettingsWithVoice(voices[1].id)));
    engine::InjectFailure(engine::Op::TokenGetId, 1, S_OK);  // the first token answers with no id
    host::MessageBoxWatcher boxes;
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hello.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_TRUE(LogHas(L"SetVoice(" + voices[1].id + L")"));
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(VoiceSelection, IdsMatchOnlyExactly) {
    std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    std::wstring upper = voices[2].id;
    for (wchar_t& c : upper) c = towupper(c);
    ASSERT_NE(upper, voices[2].id);
    ExpectSpokenByTheCurrentVoiceSilently(upper);
}

TEST_F(VoiceSelection, UnknownVoiceKeepsTheCurrentOneSilently) {
    ExpectSpokenByTheCurrentVoiceSilently(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nobody");
}

TEST_F(VoiceSelection, NoConfiguredVoiceSkipsTheEnumeration) {
    LoadAndInit();
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hello.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(0, LogCount(L"SetVoice("));
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Category).addRefs);
}

// Every reference the plug-in takes from the engine, and every event payload, is given back.
TEST_F(VoiceSelection, EveryReferenceIsGivenBack) {
    std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    LoadAndInit(WithSettings(SettingsWithVoice(voices[1].id)));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(0, host_->Play(MakeFile("a" + std::to_string(i) + ".xml", "<p>One <bookmark mark=\"m\"/> two.</p>")));
        ASSERT_TRUE(host_->WaitForEndOfFile(20000));
        host_->Stop();
    }
    host_->Quit();
    host_->Unload();
    ExpectEngineObjectsGivenBack();
    EXPECT_GT(engine::Counts(engine::ObjectKind::Token).addRefs, 0);
    if (engine::TaskMemoryWatched()) {
        engine::PayloadFrees payloads = engine::TaskMemoryPayloads();
        EXPECT_GT(payloads.handedOut, 0);
        EXPECT_EQ(payloads.handedOut, payloads.freed);
    }
}

}  // namespace
