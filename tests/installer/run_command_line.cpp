// Runs one Windows command line exactly as written, the way a shortcut, a command prompt or the Add/Remove
// Programs entry starts a program, waits for it and exits with its exit code. Setup programs read their
// own command line raw ("/D=C:\Some Folder" must reach them unquoted), which `wine prog args...` cannot
// give them.
// With --hold DLL the library is loaded first and stays loaded until the command ends, as the plug-in is
// while the player runs.
//
// Usage: run_command_line.exe [--hold DLL] "COMMAND LINE"
// Exit codes of its own: 120 usage, 121 the library did not load, 122 the command did not start,
// 123 the command did not end within the time allowed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/scoped.h"

namespace {

constexpr DWORD kExitUsage = 120;
constexpr DWORD kExitNoLibrary = 121;
constexpr DWORD kExitNoStart = 122;
constexpr DWORD kExitTimedOut = 123;
// Generous: a setup program ends within seconds; this only keeps a hung one from blocking the run.
constexpr DWORD kCommandTimeoutMs = 120000;

DWORD RunAndWait(const char* commandLine) {
    std::string writable(commandLine);  // CreateProcessA may write into its command line
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "run_command_line: cannot start %s (error %lu)\n", commandLine, GetLastError());
        return kExitNoStart;
    }
    ScopedHandle processHandle(process.hProcess);
    ScopedHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.Get(), kCommandTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), kExitTimedOut);
        std::fprintf(stderr, "run_command_line: %s did not end\n", commandLine);
        return kExitTimedOut;
    }
    DWORD exitCode = kExitNoStart;
    GetExitCodeProcess(processHandle.Get(), &exitCode);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) {
        ScopedLibrary held(LoadLibraryA(argv[2]));
        if (!held.Get()) {
            std::fprintf(stderr, "run_command_line: cannot load %s (error %lu)\n", argv[2], GetLastError());
            return kExitNoLibrary;
        }
        return static_cast<int>(RunAndWait(argv[3]));
    }
    if (argc == 2) return static_cast<int>(RunAndWait(argv[1]));
    std::fprintf(stderr, "usage: run_command_line.exe [--hold DLL] \"COMMAND LINE\"\n");
    return kExitUsage;
}
