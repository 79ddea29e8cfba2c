// Random schedules of the player's calls (Play, Pause, UnPause, Stop, waiting for the end of a file and
// playing the next) at random moments, against an output that plays in real time and a buffer small
// enough that the voice is often held in Write. Each shard runs its own seed; IN_TXT_STRESS=long makes
// every shard run a hundred times as many schedules (make stress).
#include <windows.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "host/process_handles.h"
#include "tests/plugin/plugin_fixture.h"

namespace {

constexpr int SHARDS = 10;
constexpr int SHORT_SCHEDULES_PER_SHARD = 5;
constexpr int LONG_SCHEDULES_PER_SHARD = 100;
// Far above anything a call needs (a Stop waits for the voice to leave Write, at most a few tens of ms).
constexpr double CALL_BOUND_MS = 10000;  // only a hang takes this long
// Handles that may appear once, whenever the timing first makes them: the stand-ins' mutexes create
// their wait event on their first contention and keep it. A leak per schedule grows past this.
constexpr DWORD LAZY_HANDLES = 3;
// An unstopped file must end within its own duration plus this.
constexpr DWORD END_BOUND_MS = 5000;

int SchedulesPerShard() {
    const char* mode = std::getenv("IN_TXT_STRESS");
    return mode && std::string(mode) == "long" ? LONG_SCHEDULES_PER_SHARD : SHORT_SCHEDULES_PER_SHARD;
}

double NowMs() { return static_cast<double>(host::HostClockUs()) / 1000.0; }

// The process's handles: the system's count, or the probed one where it gives none (Wine).
DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    return static_cast<DWORD>(host::ProbedHandleCount());
}

struct TextFile {
    std::string path;
    long long pcmBytes;  // what the voice speaks for it, in the output's format
};

enum class Action { Pause, UnPause, Stop, Wait, PlayNext, RunToEnd };

const char* ActionName(Action action) {
    switch (action) {
        case Action::Pause: return "Pause";
        case Action::UnPause: return "UnPause";
        case Action::Stop: return "Stop";
        case Action::Wait: return "Wait";
        case Action::PlayNext: return "PlayNext";
        case Action::RunToEnd: return "RunToEnd";
    }
    return "?";
}

class RandomSchedules : public PluginTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        host::HostOptions options = DefaultOptions();
        options.output.drain = host::DrainMode::Clock;
        options.output.speed = 1.0;
        options.output.defaultBufferMs = 60;  // the voice waits in Write for most of a file
        options.recordEngineOutput = false;
        LoadAndInit(options);
        host::SetRecordWrittenBytes(false);
        MakeFiles();
    }

    // Texts of about 0.01 to 0.2 s at the default 48 kHz, 16-bit mono (64 frames a character).
    void MakeFiles() {
        const char* texts[] = {"Short.", "A few more words to say.",
                               "This one goes on for a while, long enough to be paused and stopped in the "
                               "middle of its speech, and then some more words.",
                               "<speak>Markup <emph>with</emph> tags that are not spoken.</speak>"};
        const char* names[] = {"a.txt", "b.txt", "c.txt", "d.xml"};
        const WAVEFORMATEX format = PcmFormat(48000, 16, 1);
        for (int i = 0; i < 4; ++i) {
            std::string bytes = texts[i];
            std::wstring spoken =
                engine::SpokenText(std::vector<unsigned char>(bytes.begin(), bytes.end()), i == 3);
            long long pcm = static_cast<long long>(engine::RenderTone(spoken, 0, engine::DefaultVoices()[0].id, format).size());
            files_.push_back({MakeFile(names[i], bytes), pcm});
        }
    }

    // Runs one call of the player's and records a failure when it did not come back within the bound.
    template <typename Call>
    void Timed(const char* name, Call call) {
        double start = NowMs();
        call();
        double took = NowMs() - start;
        if (took > CALL_BOUND_MS) Report(Fail() << name << " took " << took << " ms");
        if (took > slowestCallMs_) slowestCallMs_ = took;
    }

    ::testing::AssertionResult Fail() {
        failed_ = true;
        return ::testing::AssertionFailure();
    }
    void Report(const ::testing::AssertionResult& failure) {
        ADD_FAILURE() << "schedule " << schedule_ << " (" << trace_.str() << "): " << failure.message();
    }

    // Lets posted end-of-file messages arrive and checks each against the file it ends.
    void Pump(DWORD ms) {
        host_->PumpMessages(ms);
        CheckEnds();
    }

    // An end may only come for the file being played, once, after all its speech was played out;
    // or, arriving just after a Stop, for the file that Stop ended once it had played it all.
    void CheckEnds() {
        while (seenEnds_ < host_->EndOfFileCount()) {
            ++seenEnds_;
            if (current_ < 0) {
                Report(Fail() << "an end arrived with no file started");
                continue;
            }
            if (++endsOfCurrent_ > 1) Report(Fail() << "a second end for " << files_[current_].path);
            if (stopped_) {
                if (!fullyPlayedAtStop_) Report(Fail() << "a stopped file was ended: " << files_[current_].path);
                continue;
            }
            host::OutputState output = host::OutputSnapshot();
            if (output.written != files_[current_].pcmBytes)
                Report(Fail() << "ended after " << output.written << " of " << files_[current_].pcmBytes << " bytes");
            if (output.played != output.written)
                Report(Fail() << "ended with " << output.written - output.played << " bytes not yet played");
        }
    }

    void Play() {
        CheckEnds();
        current_ = static_cast<int>(random_() % files_.size());
        stopped_ = false;
        paused_ = false;
        endsOfCurrent_ = 0;
        int result = 0;
        Timed("Play", [&] { result = host_->Play(files_[current_].path); });
        if (result != 0) Report(Fail() << "Play returned " << result);
    }

    void Stop() {
        Pump(0);
        host::OutputState output = host::OutputSnapshot();
        fullyPlayedAtStop_ = output.written == files_[current_].pcmBytes && output.played == output.written;
        Timed("Stop", [&] { host_->Stop(); });
        stopped_ = true;
        Pump(0);  // an end posted just before the Stop arrives now
    }

    // Unpauses and waits for the end; an end that does not come is an event lost.
    void RunToEnd() {
        if (paused_) Timed("UnPause", [&] { host_->UnPause(); });
        paused_ = false;
        DWORD bound = static_cast<DWORD>(files_[current_].pcmBytes * 1000 / 96000) + END_BOUND_MS;
        if (endsOfCurrent_ == 0 && !host_->PumpUntil([&] { return host_->EndOfFileCount() > seenEnds_; }, bound))
            Report(Fail() << "no end came for " << files_[current_].path);
        CheckEnds();
        Stop();  // the player answers the end with Stop
    }

    Action NextAction() {
        static const Action actions[] = {Action::Pause, Action::UnPause, Action::Stop,   Action::Wait,
                                         Action::Wait,  Action::PlayNext, Action::RunToEnd};
        return actions[random_() % (sizeof actions / sizeof actions[0])];
    }

    void Do(Action action) {
        trace_ << ' ' << ActionName(action);
        switch (action) {
            case Action::Pause:
                if (stopped_) break;
                Timed("Pause", [&] { host_->Pause(); });
                paused_ = true;
                break;
            case Action::UnPause:
                if (stopped_) break;
                Timed("UnPause", [&] { host_->UnPause(); });
                paused_ = false;
                break;
            case Action::Stop:
                if (!stopped_) Stop();
                break;
            case Action::Wait:
                Pump(static_cast<DWORD>(random_() % 120));
                break;
            case Action::PlayNext:
                if (!stopped_) Stop();
                Play();
                break;
            case Action::RunToEnd:
                if (stopped_) Play();
                RunToEnd();
                break;
        }
    }

    // One schedule: a Play, up to eight random steps with random pauses between them, and an end:
    // either a Stop or the file played to its end.
    void RunSchedule(int schedule) {
        schedule_ = schedule;
        trace_.str("");
        host::ClearCallLog();
        Play();
        int steps = static_cast<int>(random_() % 9);
        for (int i = 0; i < steps && !failed_; ++i) {
            Do(NextAction());
            Pump(static_cast<DWORD>(random_() % 40));
        }
        Do(random_() % 2 ? Action::Stop : Action::RunToEnd);
        if (!stopped_) Stop();
        Pump(0);
    }

    std::vector<TextFile> files_;
    std::mt19937 random_;
    int current_ = -1;
    bool stopped_ = true;
    bool paused_ = false;
    bool fullyPlayedAtStop_ = false;
    int endsOfCurrent_ = 0;
    int seenEnds_ = 0;
    bool failed_ = false;
    double slowestCallMs_ = 0;
    int schedule_ = 0;
    std::ostringstream trace_;
};

TEST_P(RandomSchedules, NeverHangLoseAnEndOrEndTheWrongFile) {
    const int seed = 1000 + GetParam();
    random_.seed(seed);
    const int schedules = SchedulesPerShard();
    // Every step once first: what a step makes for the rest of the process (threads, the voice's
    // objects, Wine's own) is made now, so any growth after this is growth per schedule.
    for (Action action : {Action::Pause, Action::UnPause, Action::Wait, Action::Stop, Action::PlayNext,
                          Action::Pause, Action::RunToEnd}) {
        if (action == Action::Pause && stopped_) Play();
        Do(action);
    }
    const DWORD handlesBefore = HandleCount();
    for (int i = 0; i < schedules && !failed_; ++i) RunSchedule(i);
    EXPECT_FALSE(failed_) << "seed " << seed;
    EXPECT_EQ(0, host::OutputSnapshot().writesBeyondRoom);
    EXPECT_EQ(0, host::OutputSnapshot().writesWhileClosed);
    ASSERT_GT(handlesBefore, 0u) << "no handle count";
    EXPECT_LE(HandleCount(), handlesBefore + LAZY_HANDLES) << "handles grew over " << schedules << " schedules";
    RecordProperty("schedules", schedules);
    RecordProperty("slowest_call_ms", static_cast<int>(slowestCallMs_));

    host_->Quit();
    host_->Unload();
    ExpectEngineObjectsGivenBack();
    if (engine::TaskMemoryWatched()) {
        engine::PayloadFrees payloads = engine::TaskMemoryPayloads();
        EXPECT_EQ(payloads.handedOut, payloads.freed);
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, RandomSchedules, ::testing::Range(0, SHARDS));

}  // namespace
