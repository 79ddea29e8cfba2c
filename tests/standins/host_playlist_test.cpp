// The plug-in host and txtplay.exe, driving the host's own test plug-in (fake_in.dll), whose files
// hold the number of milliseconds they play for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/files.h"
#include "host/plugin_host.h"
#include "base/scoped.h"

namespace host {
namespace {

class Playlist : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = CreateUniqueTempFolder("host_playlist_");
        ASSERT_FALSE(folder_.empty());
        ClearCallLog();
    }
    void TearDown() override { RemoveFolderTree(folder_); }

    // A file of the test plug-in that plays for ms milliseconds.
    std::string File(const std::string& name, int ms) {
        const std::string path = folder_ + "\\" + name;
        WriteWholeFile(path, std::to_string(ms));
        return path;
    }
    static HostOptions FakePluginOptions() {
        HostOptions options;
        options.pluginPath = ProgramFolder() + "fake_in.dll";
        options.registerEngine = false;
        options.showMainWindow = false;
        options.output.drain = DrainMode::Instant;
        return options;
    }

    std::string folder_;
};

TEST_F(Playlist, EachEndOfFileIsAnsweredWithStopAndTheNextFilePlays) {
    const std::vector<std::string> files = {File("one.txt", 300), File("refuse.txt", 100), File("two.txt", 200)};
    PluginHost player(FakePluginOptions());
    ASSERT_TRUE(player.Load()) << player.Error();
    player.Init();
    std::vector<std::string> reported;
    const std::vector<PlaylistEntry> results =
        player.PlayPlaylist(files, 20000, [&](const PlaylistEntry& entry) { reported.push_back(entry.file); });

    ASSERT_EQ(3u, results.size());
    EXPECT_TRUE(results[0].ended);
    EXPECT_DOUBLE_EQ(0.3, results[0].secondsSpoken);
    EXPECT_FALSE(results[1].ended);
    EXPECT_EQ(-1, results[1].playResult);
    EXPECT_EQ("Play returned -1", results[1].failure);
    EXPECT_TRUE(results[2].ended);
    EXPECT_DOUBLE_EQ(0.2, results[2].secondsSpoken);
    EXPECT_EQ(files, reported);
    EXPECT_EQ(2, player.EndOfFileCount());

    // Each end of file came to the main thread and was followed by Stop (which closes the output).
    const std::vector<HostCall> calls = LoggedCalls();
    int ends = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].call != Call::EndOfFile) continue;
        ++ends;
        EXPECT_EQ(player.MainThread(), calls[i].thread);
        ASSERT_LT(i + 1, calls.size());
        EXPECT_EQ(Call::Close, calls[i + 1].call);
    }
    EXPECT_EQ(2, ends);
    EXPECT_EQ(3u, CountCalls(Call::Close)) << "the refused file is stopped too";
    EXPECT_EQ(2u, CountCalls(Call::Open));
}

TEST_F(Playlist, AFileThatNeverEndsTimesOutAndThePlaylistGoesOn) {
    const std::vector<std::string> files = {File("hang.txt", 100), File("next.txt", 100)};
    PluginHost player(FakePluginOptions());
    ASSERT_TRUE(player.Load()) << player.Error();
    player.Init();
    const std::vector<PlaylistEntry> results = player.PlayPlaylist(files, 1000);
    ASSERT_EQ(2u, results.size());
    EXPECT_FALSE(results[0].ended);
    EXPECT_EQ(0, results[0].playResult);
    EXPECT_EQ("no end of file after 1 s", results[0].failure);
    EXPECT_TRUE(results[1].ended);
}

TEST_F(Playlist, FixtureOnlyRecordsTheEndOfFileUnlessAskedToStop) {
    PluginHost player(FakePluginOptions());
    ASSERT_TRUE(player.Load()) << player.Error();
    player.Init();
    ASSERT_EQ(0, player.Play(File("one.txt", 100)));
    ASSERT_TRUE(player.WaitForEndOfFile(20000));
    player.PumpMessages(50);
    EXPECT_TRUE(player.Playing());
    EXPECT_EQ(0u, CountCalls(Call::Close));
    player.Stop();
    EXPECT_EQ(1u, CountCalls(Call::Close));
    EXPECT_FALSE(player.WaitForEndOfFile(200)) << "no second end of file without a second Play";
}

TEST_F(Playlist, StopOnEndOfFileAnswersTheMessage) {
    HostOptions options = FakePluginOptions();
    options.stopOnEndOfFile = true;
    PluginHost player(options);
    ASSERT_TRUE(player.Load()) << player.Error();
    player.Init();
    ASSERT_EQ(0, player.Play(File("one.txt", 100)));
    ASSERT_TRUE(player.WaitForEndOfFile(20000));
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(1u, CountCalls(Call::Close));
}

TEST_F(Playlist, PrivateFolderHoldsTheCopyAndItsSettingsAndGoesAway) {
    HostOptions options = FakePluginOptions();
    options.iniContents = "[in_txt]\r\nRate=3\r\n";
    std::string folder;
    {
        PluginHost player(options);
        ASSERT_TRUE(player.Load()) << player.Error();
        folder = player.PluginFolder();
        EXPECT_NE(std::string::npos, folder.find("in_txt_test_"));
        EXPECT_EQ("Plugins", folder.substr(folder.size() - 7));
        EXPECT_TRUE(FileExists(folder + "\\in_txt.dll"));
        EXPECT_EQ(options.iniContents, player.ReadIni());

        char loadedFrom[MAX_PATH] = {};
        GetModuleFileNameA(player.Library(), loadedFrom, sizeof loadedFrom);
        EXPECT_EQ(folder + "\\in_txt.dll", std::string(loadedFrom));
        EXPECT_EQ(reinterpret_cast<HINSTANCE>(player.Library()), player.Module()->hDllInstance);
        EXPECT_EQ(player.MainWindow(), player.Module()->hMainWindow);

        player.WriteIni("[in_txt]\r\nRate=-4\r\n");
        EXPECT_EQ("[in_txt]\r\nRate=-4\r\n", player.ReadIni());
    }
    EXPECT_FALSE(FileExists(folder));
}

// Runs txtplay.exe with the arguments; returns its exit code and what it printed.
int RunTxtPlay(const std::string& arguments, std::string& printed) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1000;
    ScopedHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + ProgramFolder() + "txtplay.exe\" " + arguments;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return -1001;
    ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writer.Reset();

    // Reads until the program has ended and its output is drained. The pipe itself may never report
    // its end: a process Wine starts for the child's first window inherits the write end.
    const DWORD start = GetTickCount();
    for (;;) {
        const bool exited = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[1024];
            DWORD read = 0;
            if (!ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) || read == 0) break;
            printed.append(buffer, read);
        }
        if (exited) break;
        if (GetTickCount() - start > 60000) return -1002;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST_F(Playlist, TxtPlayReportsEachFileAndWritesOneWaveFile) {
    const std::string wav = folder_ + "\\run.wav";
    const std::string arguments = "--plugin \"" + ProgramFolder() + "fake_in.dll\" --no-engine --speed 20 --out \"" +
                                  wav + "\" \"" + File("a.txt", 300) + "\" \"" + File("b.txt", 500) + "\"";
    std::string printed;
    EXPECT_EQ(0, RunTxtPlay(arguments, printed)) << printed;
    EXPECT_EQ("a.txt: 0.3 s spoken, ended\nb.txt: 0.5 s spoken, ended\n", WithoutCarriageReturns(printed));

    // 0.8 s of 8000 Hz 16-bit mono, the samples counting up across both files.
    const std::string wave = ReadWholeFile(wav);
    ASSERT_EQ(44u + 12800, wave.size());
    uint32_t dataBytes = 0;
    std::memcpy(&dataBytes, wave.data() + 40, 4);
    EXPECT_EQ(12800u, dataBytes);
    for (int n : {0, 999, 2399, 2400, 6399}) {
        short sample = 0;
        std::memcpy(&sample, wave.data() + 44 + 2 * n, 2);
        EXPECT_EQ(n % 1000, sample) << "sample " << n;
    }
}

TEST_F(Playlist, TxtPlayFailsWhenAFileFailsAndPrintsItsMessageBox) {
    const std::string arguments = "--plugin \"" + ProgramFolder() + "fake_in.dll\" --no-engine --instant " +
                                  "--non-interactive \"" + File("box.txt", 100) + "\" \"" + File("c.txt", 100) + "\"";
    std::string printed;
    EXPECT_EQ(1, RunTxtPlay(arguments, printed)) << printed;
    EXPECT_EQ(
        "message box \"Text Speech Error\": The voice is missing\n"
        "box.txt: 0.0 s spoken, failed (Play returned -1)\n"
        "c.txt: 0.1 s spoken, ended\n",
        WithoutCarriageReturns(printed));
}

TEST_F(Playlist, TxtPlayRejectsABadCommandLine) {
    std::string printed;
    EXPECT_EQ(2, RunTxtPlay("--speed", printed));
    EXPECT_NE(std::string::npos, printed.find("usage: txtplay.exe"));
    printed.clear();
    EXPECT_EQ(2, RunTxtPlay("--no-engine --plugin \"" + folder_ + "\\missing.dll\" x.txt", printed));
    EXPECT_NE(std::string::npos, printed.find("cannot load"));
}

}  // namespace
}  // namespace host
