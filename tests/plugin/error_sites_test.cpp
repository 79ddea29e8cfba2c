// Every engine call that can fail is reported once, with its call site, on the clipboard and in a box
// titled "Text Speech Error"; the callback returns its failure value and the plug-in keeps working:
// Stop, the next Play and Quit. The failures without a code show fixed texts and leave the clipboard.
#include "tests/plugin/named_lock.h"
#include "tests/plugin/plugin_fixture.h"

namespace {

enum class Phase { Init, Play, Stop };

struct SiteCase {
    const char* name;
    engine::Op op;
    int nthCall;
    HRESULT result;
    Phase phase;
    const char* message;
};

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) return "<clipboard not opened>";
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data) {
        const char* chars = static_cast<const char*>(GlobalLock(data));
        if (chars) text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void SetClipboardText(const char* text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, lstrlenA(text) + 1);
    lstrcpyA(static_cast<char*>(GlobalLock(block)), text);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

// Wine's clipboard manager may still be taking back what the test program before this one left on
// the clipboard, and empty it after this one has put its text there: the text goes on again until it
// has stayed for a while.
void PutOnClipboard(const char* text) {
    const DWORD deadline = GetTickCount() + 10000;
    do {
        SetClipboardText(text);
        Sleep(250);  // whether it stays: nothing may take it away meanwhile
    } while (ClipboardText() != text && GetTickCount() < deadline);
}

void PrintTo(const SiteCase& c, std::ostream* os) { *os << c.name; }

// The clipboard is the desktop's: test programs running beside this one use it too.
class ClipboardTest : public PluginTest {
protected:
    // Plays another file after a failure: with 0 it must be spoken to its end, with -1 refused.
    void ExpectNextPlay(int expected) {
        ASSERT_EQ(expected, host_->Play(MakeFile("next.txt", "The next file.")));
        if (expected == 0) {
            EXPECT_TRUE(host_->WaitForEndOfFile(10000)) << "the next file is spoken to its end";
        }
        host_->Stop();
    }

private:
    NamedTestLock clipboard_{"in_txt_tests_clipboard"};
};

class ErrorSites : public ClipboardTest, public ::testing::WithParamInterface<SiteCase> {};

TEST_P(ErrorSites, FailureIsReportedOnceWithItsSite) {
    const SiteCase& c = GetParam();
    // The second installed voice, so that Play goes through the voice selection.
    LoadPlugin(WithSettings(SettingsWithVoice(engine::DefaultVoices()[1].id)));
    PutOnClipboard("before");
    engine::InjectFailure(c.op, c.nthCall, c.result);
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    std::string file = MakeFile("a.txt", "Some words to speak.");

    host_->Init();
    int played = host_->Play(file);
    if (c.phase == Phase::Init) {
        EXPECT_EQ(-1, played);  // start-up stopped: nothing plays, without a second message
    } else if (c.phase == Phase::Play) {
        EXPECT_EQ(-1, played);
    } else {
        EXPECT_EQ(0, played);
        host_->Stop();
        EXPECT_EQ(0u, host::CountCalls(host::Call::Close));  // a failed stop leaves the output open
    }
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    std::vector<host::SeenBox> seen = boxes.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.message, seen[0].text);
    EXPECT_EQ(c.message, ClipboardText());

    // The plug-in still stops, plays the next file (after a failed start-up it refuses it quietly) and
    // shuts down cleanly.
    engine::ClearFailures();
    host_->Module()->Stop();
    if (c.phase != Phase::Init) {
        // A failed Resume closes the output at once; Stop closes it (again).
        EXPECT_EQ(c.op == engine::Op::Resume ? 2u : 1u, host::CountCalls(host::Call::Close));
    }
    ExpectNextPlay(c.phase == Phase::Init ? -1 : 0);
    host_->Quit();
    host_->Unload();
    EXPECT_EQ(1u, boxes.Count());
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Voice).live);
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Translator).live);
}

INSTANTIATE_TEST_SUITE_P(
    EngineCalls, ErrorSites,
    ::testing::Values(
        SiteCase{"Translator", engine::Op::CreateTranslator, 1, E_FAIL, Phase::Init,
                 "Error result 80004005, facility 0, code 16389, line 400"},
        SiteCase{"InitWin32Event", engine::Op::InitWin32Event, 1, E_OUTOFMEMORY, Phase::Init,
                 "Error result 8007000E, facility 7, code 14, line 402"},
        SiteCase{"SetNotifySink", engine::Op::SetNotifySink, 1, E_INVALIDARG, Phase::Init,
                 "Error result 80070057, facility 7, code 87, line 404"},
        SiteCase{"SetInterest", engine::Op::SetInterest, 1, E_FAIL, Phase::Init,
                 "Error result 80004005, facility 0, code 16389, line 407"},
        SiteCase{"EnumTokens", engine::Op::EnumTokens, 1, E_OUTOFMEMORY, Phase::Play,
                 "Error result 8007000E, facility 7, code 14, line 592"},
        SiteCase{"MissingCategory", engine::Op::CategorySetId, 1, static_cast<HRESULT>(0x8004503A), Phase::Play,
                 "Error result 8004503A, facility 4, code 20538, line 592"},
        SiteCase{"Next", engine::Op::EnumNext, 2, E_FAIL, Phase::Play,
                 "Error result 80004005, facility 0, code 16389, line 600"},
        SiteCase{"GetId", engine::Op::TokenGetId, 1, E_FAIL, Phase::Play,
                 "Error result 80004005, facility 0, code 16389, line 605"},
        SiteCase{"SetVoice", engine::Op::SetVoice, 1, E_INVALIDARG, Phase::Play,
                 "Error result 80070057, facility 7, code 87, line 613"},
        SiteCase{"SetRate", engine::Op::SetRate, 1, E_FAIL, Phase::Play,
                 "Error result 80004005, facility 0, code 16389, line 620"},
        SiteCase{"Speak", engine::Op::Speak, 1, static_cast<HRESULT>(0x80070002), Phase::Play,
                 "Error result 80070002, facility 7, code 2, line 648"},
        SiteCase{"Resume", engine::Op::Resume, 1, E_FAIL, Phase::Play,
                 "Error result 80004005, facility 0, code 16389, line 650"},
        SiteCase{"Purge", engine::Op::SpeakPurge, 1, E_FAIL, Phase::Stop,
                 "Error result 80004005, facility 0, code 16389, line 677"},
        SiteCase{"WaitUntilDone", engine::Op::WaitUntilDone, 1, static_cast<HRESULT>(0xFFFF0001), Phase::Stop,
                 "Error result FFFF0001, facility 8191, code 1, line 679"}),
    [](const ::testing::TestParamInfo<SiteCase>& info) { return std::string(info.param.name); });

// The player plays the next file right after a Stop that failed, without stopping again: the next
// file starts on an output closed and opened again, with nothing of the stopped file left before it.
TEST_F(ClipboardTest, PlayAfterAFailedStopStartsCleanAndIsHeardWhole) {
    for (engine::Op failing : {engine::Op::SpeakPurge, engine::Op::WaitUntilDone}) {
        SCOPED_TRACE(failing == engine::Op::SpeakPurge ? "purge failed" : "wait failed");
        ClosePlayer();  // the round before, with its calls
        LoadAndInit();
        engine::SetSynthesisSpeed(engine::Speed::RealTime);
        host::MessageBoxWatcher boxes({"Text Speech Error"});
        std::string longText;
        for (int i = 0; i < 100; ++i) longText += "This sentence keeps the voice busy. ";
        ASSERT_EQ(0, host_->Play(MakeFile("long.txt", longText)));
        ASSERT_TRUE(host_->PumpUntil([] { return host::OutputSnapshot().written > 0; }, 10000));
        engine::InjectFailure(failing, 1, E_FAIL);
        host_->Stop();
        ASSERT_TRUE(boxes.WaitForCount(1, 10000));

        engine::SetSynthesisSpeed(engine::Speed::AsFastAsPossible);
        const std::string next = "The next file, heard whole.";
        ASSERT_EQ(0, host_->Play(MakeFile("next.txt", next)));
        ULONG stream = engine::LastStreamNumber();
        ASSERT_TRUE(host_->WaitForEndOfFile(20000));
        std::vector<std::string> around;  // the output's opening and closing, and the visualisation's end
        for (const host::HostCall& call : host::LoggedCalls()) {
            if (call.call == host::Call::Open || call.call == host::Call::Close || call.call == host::Call::SAVSADeInit)
                around.push_back(host::CallName(call.call));
        }
        EXPECT_EQ((std::vector<std::string>{"Open", "Close", "SAVSADeInit", "Open"}), around);
        ASSERT_NO_FATAL_FAILURE(ExpectSpokenWholeAtTheEnd(next, stream));
        EXPECT_EQ(1u, boxes.Count());
    }
}

// Resume fails after the file was queued: Play fails, so nothing of the file is heard or ends it.
TEST_F(ClipboardTest, FailedResumeLeavesNothingQueuedAndTheOutputClosed) {
    LoadAndInit();
    engine::InjectFailure(engine::Op::Resume, 1, E_FAIL);
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    EXPECT_EQ(-1, host_->Play(MakeFile("a.txt", "Words that must not be heard.")));
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    EXPECT_TRUE(LogHas(L"Speak(NULL, 2)"));
    EXPECT_FALSE(host::OutputSnapshot().open);
    EXPECT_EQ(1u, host::CountCalls(host::Call::SAVSADeInit));
    ASSERT_TRUE(engine::WaitUntilIdle(10000));
    host_->PumpMessages(500);
    EXPECT_EQ(0, host_->EndOfFileCount());
}

class FixedTexts : public ClipboardTest {
protected:
    // The box of the failure is gone by now: any box from here on is one too many.
    void ExpectNextPlayWithoutBox(int expected) {
        host::MessageBoxWatcher boxes({"Text Speech Error"});
        ExpectNextPlay(expected);
        host_->PumpMessages(100);
        EXPECT_EQ(0u, boxes.Count());
    }

    // Runs start-up and one Play; returns Play's result and the single box's text.
    std::pair<int, std::string> PlayAndReadBox(bool expectBoxAtInit = false) {
        PutOnClipboard("before");
        host::MessageBoxWatcher boxes({"Text Speech Error"});
        host_->Init();
        int played = host_->Play(MakeFile("a.txt", "Words."));
        EXPECT_TRUE(boxes.WaitForCount(1, 5000));
        host_->PumpMessages(200);
        EXPECT_EQ(1u, boxes.Count());
        EXPECT_EQ("before", ClipboardText());  // fixed texts leave the clipboard alone
        std::vector<host::SeenBox> seen = boxes.Seen();
        return {played, seen.empty() ? "" : seen[0].text};
    }
};

TEST_F(FixedTexts, OutputDeviceThatDoesNotOpen) {
    host::HostOptions options = DefaultOptions();
    options.output.openResult = -1;
    LoadPlugin(options);
    auto [played, text] = PlayAndReadBox();
    EXPECT_EQ(1, played);
    EXPECT_EQ("Error opening the output device", text);
    EXPECT_EQ(0, LogCount(L"Speak("));
    host_->Stop();
    host::OutputOptions working = options.output;
    working.openResult = 0;
    host::ConfigureOutput(working);
    ExpectNextPlayWithoutBox(0);
}

TEST_F(FixedTexts, VoiceThatRefusesTheStream) {
    LoadPlugin();
    engine::InjectFailure(engine::Op::SetOutput, 1, static_cast<HRESULT>(0x80045003));
    auto [played, text] = PlayAndReadBox();
    EXPECT_EQ(-1, played);
    EXPECT_EQ("Format rejected", text);
    host_->Stop();
    ExpectNextPlayWithoutBox(0);
}

TEST_F(FixedTexts, NoSpeechEngine) {
    LoadPlugin();
    engine::InjectFailure(engine::Op::CreateVoice, 1, REGDB_E_CLASSNOTREG);
    auto [played, text] = PlayAndReadBox();
    EXPECT_EQ(-1, played);
    EXPECT_EQ("Failed to initialize Microsoft Text-to-Speech engine version 5.0", text);
    host_->Stop();  // does nothing without a voice
    EXPECT_EQ(0u, host::CountCalls(host::Call::Close));
    ExpectNextPlayWithoutBox(-1);
}

}  // namespace
