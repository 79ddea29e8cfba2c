// Start-up and shut-down of the whole plug-in: what is left when start-up stops early, how long Quit
// takes in each state of the event thread, and bringing the plug-in up and down twice in one process.
#include "tests/plugin/plugin_fixture.h"

#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// A top-level window of this process with the caption; other test programs may run beside this one.
HWND FindOwnWindow(const char* caption) {
    struct Search {
        const char* caption;
        HWND found;
    } search = {caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL CALLBACK {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            char text[64] = {};
            GetWindowTextA(window, text, sizeof text);
            if (process != GetCurrentProcessId() || lstrcmpA(text, s->caption) != 0) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class StartUp : public PluginTest {};

TEST_F(StartUp, WithoutASpeechEngineOnlyTheVoiceIsMissing) {
    LoadPlugin();
    engine::InjectFailure(engine::Op::CreateVoice, 1, REGDB_E_CLASSNOTREG);
    host::MessageBoxWatcher boxes;
    host_->Init();
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    EXPECT_EQ("Failed to initialize Microsoft Text-to-Speech engine version 5.0", boxes.Seen()[0].text);

    EXPECT_EQ(-1, host_->Module()->Play(const_cast<char*>(MakeFile("a.txt", "Hello.").c_str())));
    host_->Module()->Stop();
    EXPECT_EQ(0u, host::CountCalls(host::Call::Close));
    // The info window was created all the same: InfoBox shows it.
    host_->Module()->InfoBox(const_cast<char*>(MakeFile("b.txt", "Shown.").c_str()), host_->MainWindow());
    EXPECT_NE(nullptr, FindOwnWindow("Text info"));

    auto start = Clock::now();
    host_->Quit();
    EXPECT_LT(MsSince(start), 250);
    EXPECT_EQ(nullptr, FindOwnWindow("Text info"));
    host_->PumpMessages(100);
    EXPECT_EQ(1u, boxes.Count());
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Translator).addRefs);
}

TEST_F(StartUp, TranslatorFailureLeavesTheVoiceButNoPlayback) {
    LoadPlugin();
    engine::InjectFailure(engine::Op::CreateTranslator, 1, E_FAIL);
    host::MessageBoxWatcher boxes;
    host_->Init();
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    EXPECT_EQ(1, engine::Counts(engine::ObjectKind::Voice).live);
    EXPECT_EQ(-1, host_->Play(MakeFile("a.txt", "Hello.")));
    host_->Quit();
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Voice).live);
    EXPECT_EQ(1u, boxes.Count());
    // Start-up stopped before the settings were loaded: nothing is written at shut-down.
    EXPECT_EQ("", host_->ReadIni());
}

TEST_F(StartUp, QuitEndsAnIdleEventThreadAtOnce) {
    LoadAndInit();
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hello.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    host_->Stop();
    int threadsBefore = ThreadsOfThisProcess();
    auto start = Clock::now();
    host_->Quit();
    EXPECT_LT(MsSince(start), 250);
    EXPECT_LT(ThreadsOfThisProcess(), threadsBefore);
}

// The player quits without stopping while the event thread holds the file's end for an output that
// never drains: the thread ends by itself, without being forced after the grace period.
TEST_F(StartUp, QuitWhileTheOutputDrainsEndsTheEventThreadAtOnce) {
    host::HostOptions options = DefaultOptions();
    options.output.drain = host::DrainMode::Stalled;  // the device never plays anything
    LoadAndInit(options);
    ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Hello there.")));
    ASSERT_TRUE(engine::WaitUntilIdle(10000));
    // The event thread now polls IsPlaying for ever.
    ASSERT_TRUE(host_->PumpUntil([] { return host::CountCalls(host::Call::IsPlaying) > 3; }, 10000));

    int threadsBefore = ThreadsOfThisProcess();
    auto start = Clock::now();
    host_->Module()->Quit();
    EXPECT_LT(MsSince(start), 250);
    EXPECT_LT(ThreadsOfThisProcess(), threadsBefore);

    // After Quit no thread of the plug-in calls the output any more.
    size_t polls = host::CountCalls(host::Call::IsPlaying);
    Sleep(200);
    EXPECT_EQ(polls, host::CountCalls(host::Call::IsPlaying));
    EXPECT_EQ(0, host_->EndOfFileCount());
    EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Voice).live);
}

// A voice whose output has no room waits inside the plug-in's Write. The player closes without Stop
// (closed while paused, or a device that stopped playing) and unloads the library at once: Quit lets
// go of the wait, and nothing of the library runs or calls the output after it.
TEST_F(StartUp, QuitWithoutStopWhileTheVoiceWaitsForRoomThenUnload) {
    struct Case {
        const char* state;
        host::DrainMode drain;
        bool paused;
        bool releaseWaits;  // the voice's last Release waits for its own thread, as a real voice's may
    };
    for (const Case& c : {Case{"paused and full", host::DrainMode::Clock, true, false},
                          Case{"a device that never plays", host::DrainMode::Stalled, false, false},
                          Case{"paused and full, a voice whose release waits", host::DrainMode::Clock, true, true}}) {
        SCOPED_TRACE(c.state);
        host::HostOptions options = DefaultOptions();
        options.output.drain = c.drain;
        ASSERT_NO_FATAL_FAILURE(LoadAndInit(options));
        engine::SetReleaseWaitsForEngineThread(c.releaseWaits);
        std::string text;
        for (int i = 0; i < 60; ++i) text += "This sentence keeps the voice busy for a while. ";
        ASSERT_EQ(0, host_->Play(MakeFile("long.txt", text)));
        if (c.paused) host_->Module()->Pause();
        const size_t polls = host::CountCalls(host::Call::CanWrite);
        // The voice is held: the device is full and Write keeps asking for room.
        ASSERT_TRUE(host_->PumpUntil(
            [&] {
                const host::OutputState output = host::OutputSnapshot();
                return output.written - output.played > output.capacity - 576 * 2 &&
                       host::CountCalls(host::Call::CanWrite) > polls + 3;
            },
            10000));

        auto start = Clock::now();
        host_->Module()->Quit();
        EXPECT_LT(MsSince(start), 2000) << "Quit waited for the output";
        host_->Unload();
        const size_t calls = host::LoggedCalls().size();
        Sleep(300);  // nothing may happen now
        EXPECT_EQ(calls, host::LoggedCalls().size()) << "the output was called after Quit";
        EXPECT_EQ(0, engine::Counts(engine::ObjectKind::Voice).live);
        ClosePlayer();
    }
}

// A host quits from a thread other than Init's while the window follows the speech on its timer, then
// unloads the library: a pumping Init thread ends the window; a busy one gets it back left behind,
// running nothing of the library, whose timer messages then reach no unloaded code.
TEST_F(StartUp, QuitFromAnotherThreadThenUnload) {
    for (const bool initThreadPumps : {true, false}) {
        SCOPED_TRACE(initThreadPumps ? "Init's thread pumps" : "Init's thread waits");
        ASSERT_NO_FATAL_FAILURE(LoadAndInit());
        ASSERT_EQ(0, host_->Play(MakeFile("long.txt", std::string(40 * 20, 'w') + ".")));
        HWND window = FindOwnWindow("Text info");
        std::atomic<bool> quit{false};
        std::thread quitter([&] { host_->Module()->Quit(), quit = true; });
        if (initThreadPumps) {
            EXPECT_TRUE(host_->PumpUntil([&] { return quit.load(); }, 20000));
        }
        quitter.join();
        EXPECT_TRUE(initThreadPumps ? !IsWindow(window) : GetWindowLongPtrA(window, DWLP_DLGPROC) == 0);
        host_->Unload();
        host_->PumpMessages(400);  // ten ticks of the follow timer
        ClosePlayer();
    }
}

// Init creates the Text info window hidden: the foreground stays where it was, with the player's
// window in front or in a host without one (a game's music driver).
TEST_F(StartUp, InitLeavesTheForegroundWhereItWas) {
    for (const bool mainWindow : {true, false}) {
        SCOPED_TRACE(mainWindow ? "with the player's window" : "without a main window");
        ASSERT_NO_FATAL_FAILURE(LoadPlugin(mainWindow ? WithShownWindow(DefaultOptions()) : DefaultOptions()));
        if (mainWindow) SetForegroundWindow(host_->MainWindow());
        else host_->Module()->hMainWindow = nullptr;
        host_->PumpUntil([&] { return !mainWindow || GetForegroundWindow() == host_->MainWindow(); }, 10000);
        HWND before = GetForegroundWindow();
        host_->Init();
        host_->PumpMessages(0);  // what Init left queued
        EXPECT_EQ(before, GetForegroundWindow());
        ClosePlayer();
    }
}

// The player unloading and loading the plug-in again in one process.
class StartUpTwice : public PluginTest {};

TEST_F(StartUpTwice, InitAndQuitTwiceWorkAndLeakNothing) {
    int threadsAfterFirst = 0;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(LoadAndInit());
        ASSERT_EQ(0, host_->Play(MakeFile("a.txt", "Twice spoken.")));
        ASSERT_TRUE(host_->WaitForEndOfFile(20000));
        host_->Stop();
        host_->Quit();
        host_->Unload();
        ClosePlayer();
        for (engine::ObjectKind kind : {engine::ObjectKind::Voice, engine::ObjectKind::Translator,
                                        engine::ObjectKind::Category, engine::ObjectKind::Token}) {
            EXPECT_EQ(0, engine::Counts(kind).live) << static_cast<int>(kind);
        }
        if (round == 0) {
            Sleep(100);
            threadsAfterFirst = ThreadsOfThisProcess();
        } else {
            // The second round's threads end as the first round's did.
            const DWORD deadline = GetTickCount() + 10000;
            while (ThreadsOfThisProcess() > threadsAfterFirst && GetTickCount() < deadline) Sleep(10);
            EXPECT_LE(ThreadsOfThisProcess(), threadsAfterFirst);
        }
    }
}

}  // namespace
