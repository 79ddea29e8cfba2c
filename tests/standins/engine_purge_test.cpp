// Purging the stand-in voice: it waits for the engine thread to leave Write, discards the
// rest, still ends every purged stream, and gives up (reported) when Write never returns.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/standins/engine_test_support.h"

namespace enginetest {
namespace {

const DWORD Patience = 20000;

class EnginePurgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, apartment_.registered);
        engine::SetBlockSizes({256});
        ASSERT_EQ(S_OK, wired_.voice->SetOutput(&output_, FALSE));
    }

    ULONG StartSpeaking(const std::string& text) {
        files_.emplace_back(new TempFile(text));
        ULONG number = 0;
        EXPECT_EQ(S_OK, wired_.voice->Speak(files_.back()->Path().c_str(), 21, &number));
        return number;
    }

    HRESULT Purge() { return wired_.voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr); }

    EngineApartment apartment_;
    RecordingStream output_{22050, 16, 1};
    WiredVoice wired_;
    std::vector<std::unique_ptr<TempFile>> files_;
};

TEST_F(EnginePurgeTest, APurgeReturnsOnlyAfterTheBlockedWriteReturnedAndDiscardsTheRest) {
    output_.HoldWrites();
    ULONG number = StartSpeaking(std::string(200, 'x'));
    ASSERT_TRUE(output_.WaitForWrites(1, Patience));

    std::atomic<bool> purged{false};
    HRESULT result = E_PENDING;
    std::thread stopper([&] {
        result = Purge();
        purged = true;
    });
    Sleep(300);
    EXPECT_FALSE(purged) << "the purge came back while the engine was still inside Write";
    output_.ReleaseWrites();
    stopper.join();
    EXPECT_EQ(S_OK, result);

    EXPECT_EQ(1, output_.WriteCount());
    EXPECT_EQ(1, output_.WritesFinished());
    EXPECT_EQ(S_OK, wired_.voice->WaitUntilDone(0));
    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().eEventId);
    EXPECT_EQ(number, events.back().ulStreamNum);
    EXPECT_EQ(256u, events.back().ullAudioStreamOffset);
    ClearEvents(events);

    // The voice speaks on afterwards, with the next number.
    EXPECT_EQ(number + 1, StartSpeaking("ok"));
    EXPECT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
}

TEST_F(EnginePurgeTest, StreamsThatNeverStartedStillBeginAndEnd) {
    ASSERT_EQ(S_OK, wired_.voice->Pause());
    StartSpeaking("one");
    StartSpeaking("two");
    StartSpeaking("three");
    EXPECT_EQ(S_FALSE, wired_.voice->WaitUntilDone(0));
    ASSERT_EQ(S_OK, Purge());
    EXPECT_EQ(S_OK, wired_.voice->WaitUntilDone(0));
    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    EXPECT_EQ("1:1 2:1 1:2 2:2 1:3 2:3", EventTrace(events));
    ClearEvents(events);

    ASSERT_EQ(S_OK, wired_.voice->Resume());
    EXPECT_EQ(4u, StartSpeaking("four"));
    ASSERT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
    EXPECT_TRUE(engine::DeliveredPcm(1).empty());
    EXPECT_TRUE(engine::DeliveredPcm(3).empty());
    EXPECT_EQ(output_.Bytes(), engine::DeliveredPcm(4));
    EXPECT_EQ(4u * engine::FramesPerCharacter(0) * 2, output_.Bytes().size());
}

TEST_F(EnginePurgeTest, TheWatchdogTurnsAPurgeStuckBehindWriteIntoAReportedFailure) {
    engine::SetPurgeWatchdog(300);
    output_.HoldWrites();
    ULONG number = StartSpeaking("never heard");
    ASSERT_TRUE(output_.WaitForWrites(1, Patience));

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), Purge());
    EXPECT_TRUE(engine::PurgeTimedOut());

    // Once Write comes back the purged stream ends without further audio.
    output_.ReleaseWrites();
    ASSERT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
    EXPECT_EQ(1, output_.WriteCount());
    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().eEventId);
    EXPECT_EQ(number, events.back().ulStreamNum);
    ClearEvents(events);
}

TEST_F(EnginePurgeTest, APurgedStreamsEndCanBeMadeToArriveDuringTheNextStream) {
    engine::SetLatePurgedEndEvents(true);
    output_.HoldWrites();
    ULONG first = StartSpeaking(std::string(50, 'a'));
    ASSERT_TRUE(output_.WaitForWrites(1, Patience));
    std::thread stopper([&] { EXPECT_EQ(S_OK, Purge()); });
    Sleep(100);
    output_.ReleaseWrites();
    stopper.join();

    std::vector<SPEVENT> events = DrainEvents(wired_.voice.Get());
    EXPECT_EQ(std::string::npos, EventTrace(events).find("2:" + std::to_string(first)));
    ClearEvents(events);

    ULONG second = StartSpeaking("bb cc");
    ASSERT_EQ(S_OK, wired_.voice->WaitUntilDone(Patience));
    events = DrainEvents(wired_.voice.Get());
    std::string trace = " " + EventTrace(events, false) + " ";
    size_t start = trace.find(" 1:" + std::to_string(second) + " ");
    size_t lateEnd = trace.find(" 2:" + std::to_string(first) + " ");
    size_t end = trace.find(" 2:" + std::to_string(second) + " ");
    ASSERT_NE(std::string::npos, lateEnd) << trace;
    EXPECT_LT(start, lateEnd) << trace;
    EXPECT_LT(lateEnd, end) << trace;
    ClearEvents(events);
}

// As a real engine's may, the voice's last Release can be made to wait for its engine thread, here
// held inside Write, well past the watchdog's time after which it would otherwise let it go.
TEST_F(EnginePurgeTest, WhenAskedTheLastReleaseWaitsForTheEngineThreadToLeaveWrite) {
    engine::SetPurgeWatchdog(100);
    engine::SetReleaseWaitsForEngineThread(true);
    output_.HoldWrites();
    StartSpeaking("held up");
    ASSERT_TRUE(output_.WaitForWrites(1, Patience));

    ScopedHandle released(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread releaser([&] { wired_.voice.Reset(); SetEvent(released.Get()); });
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(released.Get(), 1000)) << "Release came back with Write still held";
    output_.ReleaseWrites();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(released.Get(), Patience));
    releaser.join();
    EXPECT_EQ(1, output_.WritesFinished());
    EXPECT_EQ(0, output_.references_) << "the engine thread still held the output when Release came back";
}

}  // namespace
}  // namespace enginetest
