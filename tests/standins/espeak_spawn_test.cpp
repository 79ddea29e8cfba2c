// Linux commands from Windows code under Wine: exit statuses, Unix paths of Windows files, and
// words quoted for the shell arriving intact; and telling Wine from Windows, which decides whether
// the engine's server may replace SAPI's classes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <thread>

#include "engine/espeak/unix_spawn.h"
#include "engine/file_bytes.h"
#include "engine/server/server_registration.h"
#include "tests/standins/engine_test_support.h"

namespace {

class UnixSpawn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!engine::UnixSpawnAvailable()) GTEST_SKIP() << "Linux commands run only under Wine";
    }
};

TEST_F(UnixSpawn, WaitsForTheCommandAndGivesItsExitStatus) {
    EXPECT_EQ(0, engine::RunUnixShell("true"));
    EXPECT_EQ(3, engine::RunUnixShell("exit 3"));
    EXPECT_NE(0, engine::RunUnixShell("/no/such/program 2>/dev/null"));
}

TEST_F(UnixSpawn, UnixPathsReachTheSameFileAndQuotedWordsArriveIntact) {
    // Blanks, quotes, a dollar and backslashes, none of which the shell may interpret.
    const std::string tricky = "it's \"odd\" $HOME \\ `x` *";
    enginetest::TempFile file(std::string("old"));
    const std::string unixPath = engine::UnixPath(file.Path());
    ASSERT_FALSE(unixPath.empty());
    ASSERT_EQ('/', unixPath[0]);
    const std::string command =
        "printf '%s' " + engine::ShellQuoted(tricky) + " >" + engine::ShellQuoted(unixPath) + " </dev/null";
    ASSERT_EQ(0, engine::RunUnixShell(command));
    std::vector<unsigned char> bytes;
    ASSERT_EQ(S_OK, engine::ReadFileBytes(file.Path().c_str(), bytes));
    EXPECT_EQ(tricky, std::string(bytes.begin(), bytes.end()));
}

TEST_F(UnixSpawn, RunsFromAWindowsThreadAndFromWorkerThreadsAtOnce) {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // this thread now has a message queue
    long statuses[3] = {-1, -1, -1};
    std::thread a([&] { statuses[0] = engine::RunUnixShell("exit 4"); });
    std::thread b([&] { statuses[1] = engine::RunUnixShell("exit 5"); });
    statuses[2] = engine::RunUnixShell("exit 6");
    a.join();
    b.join();
    EXPECT_EQ(4, statuses[0]);
    EXPECT_EQ(5, statuses[1]);
    EXPECT_EQ(6, statuses[2]);
}

// regsvr32 txtengine_server.dll points SAPI's classes at the stand-in for the whole system: only
// under Wine, never on Windows, where it would replace the speech of every program.
TEST(ServerRegistration, OnlyUnderWineMaySapisClassesBeReplaced) {
    const struct {
        bool underWine;
        HRESULT result;
    } cases[] = {{true, S_OK}, {false, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)}};
    for (const auto& test : cases) EXPECT_EQ(test.result, engine::RegistrationAllowed(test.underWine)) << test.underWine;
    EXPECT_NE(nullptr, std::strstr(engine::RegistrationRefusal, "only under Wine"));
    // This process knows Wine by the same mark that lets it run Linux programs.
    EXPECT_EQ(engine::UnixSpawnAvailable(), engine::RunningUnderWine());
}

}  // namespace
