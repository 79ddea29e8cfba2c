// Pausing, stopping and the end of purged speech, through the real DLL.
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/plugin/plugin_fixture.h"

namespace {

std::string LongText(int sentences) {
    std::string text;
    for (int i = 0; i < sentences; ++i) text += "This sentence is here to keep the voice busy for a while. ";
    return text;
}

host::HostOptions RealTimeOutput() {
    host::HostOptions options = PluginTest::DefaultOptions();
    options.output.drain = host::DrainMode::Clock;
    options.output.speed = 1.0;
    return options;
}

// The device buffer has no room for another chunk of 576 frames: a voice writing more waits inside Write.
bool DeviceBufferFull() {
    host::OutputState output = host::OutputSnapshot();
    const long long chunk = 576LL * output.format.channels * (output.format.bits / 8);
    return output.written - output.played > output.capacity - chunk;
}

class PlaybackControl : public PluginTest {};

TEST_F(PlaybackControl, PauseAndUnPausePauseTheOutputOnly) {
    LoadAndInit(RealTimeOutput());
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", LongText(3))));
    In_Module* module = host_->Module();
    EXPECT_EQ(0, module->IsPaused());
    module->Pause();
    EXPECT_EQ(1, module->IsPaused());
    module->UnPause();
    EXPECT_EQ(0, module->IsPaused());

    auto pauses = host::LoggedCalls(host::Call::Pause);
    ASSERT_EQ(2u, pauses.size());
    EXPECT_EQ(1, pauses[0].args[0]);
    EXPECT_EQ(0, pauses[1].args[0]);
    EXPECT_EQ(0, LogCount(L"Pause"));  // the voice itself is never paused
}

TEST_F(PlaybackControl, PausedOutputHoldsTheVoiceBackAndUnPauseLetsItFinish) {
    LoadAndInit(RealTimeOutput());
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", LongText(60))));  // more than the device buffer holds
    host_->Module()->Pause();
    ASSERT_TRUE(host_->PumpUntil(DeviceBufferFull, 10000));
    long long heldAt = host::OutputSnapshot().written;
    host_->PumpMessages(400);
    EXPECT_EQ(heldAt, host::OutputSnapshot().written);  // nothing more fits while paused
    EXPECT_EQ(0, host::OutputSnapshot().writesBeyondRoom);
    EXPECT_EQ(0, host_->EndOfFileCount());

    host::SetOutputDrain(host::DrainMode::Instant);
    host_->Module()->UnPause();
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(engine::DeliveredPcm(), OutputBytes());
}

TEST_F(PlaybackControl, StopWhilePausedAndFullDoesNotHang) {
    LoadAndInit(RealTimeOutput());
    engine::SetPurgeWatchdog(5000);
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", LongText(60))));
    host_->Module()->Pause();
    // Wait until the device buffer is full and the voice waits inside Write.
    ASSERT_TRUE(host_->PumpUntil(DeviceBufferFull, 10000));
    host_->PumpMessages(200);

    auto start = std::chrono::steady_clock::now();
    host_->Stop();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(4));
    EXPECT_FALSE(engine::PurgeTimedOut());
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_EQ(1u, host::CountCalls(host::Call::Close));
    EXPECT_EQ(1, host_->Module()->IsPaused());  // Stop clears nothing

    host_->PumpMessages(500);
    EXPECT_EQ(0, host_->EndOfFileCount());
    EXPECT_EQ(0, host::OutputSnapshot().writesWhileClosed);
}

TEST_F(PlaybackControl, PlayAfterPauseAndStopStartsUnpaused) {
    LoadAndInit();
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Short.")));
    host_->Module()->Pause();
    host_->Stop();
    ASSERT_EQ(0, host_->Play(MakeFile("b.txt", "Shorter.")));
    EXPECT_EQ(0, host_->Module()->IsPaused());
}

TEST_F(PlaybackControl, StoppedFileDoesNotAdvanceThePlaylist) {
    LoadAndInit();
    engine::SetSynthesisSpeed(engine::Speed::RealTime);
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", LongText(4))));
    host_->PumpMessages(300);
    host_->Stop();
    host_->PumpMessages(1000);
    EXPECT_EQ(0, host_->EndOfFileCount());
    EXPECT_TRUE(LogHas(L"Speak(NULL, 2)"));
    EXPECT_TRUE(LogHas(L"WaitUntilDone(0)"));
    EXPECT_EQ(1u, host::CountCalls(host::Call::SAVSADeInit));
}

// The end of the purged stream arrives only after the next file has begun: it must not end that file.
TEST_F(PlaybackControl, EndOfPurgedSpeechNeverEndsTheNextFile) {
    LoadAndInit();
    engine::SetLatePurgedEndEvents(true);
    engine::SetSynthesisSpeed(engine::Speed::RealTime);
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", LongText(4))));
    host_->PumpMessages(300);
    host_->Stop();

    engine::SetSynthesisSpeed(engine::Speed::AsFastAsPossible);
    engine::SetBlockSizes({1000});
    const std::string second = "The second file has a good many words in it, spoken in small blocks.";
    ASSERT_EQ(0, host_->Play(MakeFile("b.txt", second)));
    ULONG stream = engine::LastStreamNumber();
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    // When the player is told, the whole of the second file has been spoken and handed to the output.
    ASSERT_NO_FATAL_FAILURE(ExpectSpokenWholeAtTheEnd(second, stream));
    host_->PumpMessages(1000);
    EXPECT_EQ(1, host_->EndOfFileCount());
}

// Programs other than the player load input plug-ins: they may pass no main window, and call Play and
// Stop from a thread of their own while the thread that called Init is busy elsewhere.
class OtherHosts : public PluginTest {};

TEST_F(OtherHosts, WithoutAMainWindowAFilePlaysPausesAndStops) {
    ASSERT_NO_FATAL_FAILURE(LoadPlugin());
    host_->Module()->hMainWindow = nullptr;
    host_->Init();
    const std::string text = "Spoken for a host that has no window.";
    ASSERT_EQ(0, host_->Module()->Play(const_cast<char*>(MakeFile("a.txt", text).c_str())));
    const ULONG stream = engine::LastStreamNumber();
    ASSERT_TRUE(host_->PumpUntil([&] { return OutputBytes().size() >= engine::DeliveredPcm(stream).size() &&
                                              engine::WaitUntilIdle(0); }, 10000));
    ASSERT_NO_FATAL_FAILURE(ExpectSpokenWholeAtTheEnd(text, stream));
    host_->PumpMessages(300);  // nothing follows the speech: there is no player's window to show it for
    EXPECT_EQ(0u, host::CountCalls(host::Call::GetOutputTime));

    ASSERT_EQ(0, host_->Module()->Play(const_cast<char*>(MakeFile("b.txt", LongText(20)).c_str())));
    host_->Module()->Pause();
    EXPECT_EQ(1, host_->Module()->IsPaused());
    host_->Module()->UnPause();
    host_->Module()->Stop();
    EXPECT_EQ(2u, host::CountCalls(host::Call::Close));
    host_->Module()->Quit();
    host_->Unload();
}

// Play, Stop and Play again (a cross-fade) from a thread of the host's while the thread that called Init
// pumps no messages: none of them waits for that thread.
TEST_F(OtherHosts, PlayAndStopFromAnotherThreadNeverWaitForTheInitThread) {
    LoadAndInit();
    In_Module* module = host_->Module();
    const std::string first = MakeFile("first.txt", LongText(200));
    const std::string second = MakeFile("second.txt", LongText(3));
    int results[2] = {-2, -2};
    std::atomic<bool> done{false};
    std::thread host([&] {
        results[0] = module->Play(const_cast<char*>(first.c_str()));
        module->Stop();
        results[1] = module->Play(const_cast<char*>(second.c_str()));
        done = true;
    });
    // This thread is busy elsewhere: it waits without pumping messages.
    const DWORD deadline = GetTickCount() + 10000;
    while (!done && GetTickCount() < deadline) Sleep(5);
    const bool returned = done;
    if (!returned) host_->PumpUntil([&] { return done.load(); }, 30000);  // let a call that waits go
    host.join();
    EXPECT_TRUE(returned) << "a call waited for the Init thread";
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(0, results[1]);
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
}

}  // namespace
