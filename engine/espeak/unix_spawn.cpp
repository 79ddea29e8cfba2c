#include "engine/espeak/unix_spawn.h"

#include "base/scoped.h"

#include <windows.h>

#include <thread>

namespace engine {
namespace {

using SpawnFunction = LONG(WINAPI*)(char* const argv[], int wait);
using UnixFileNameFunction = char*(CDECL*)(LPCWSTR windowsPath);

SpawnFunction FindSpawn() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<SpawnFunction>(GetProcAddress(ntdll, "__wine_unix_spawnvp")) : nullptr;
}

UnixFileNameFunction FindUnixFileName() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 ? reinterpret_cast<UnixFileNameFunction>(GetProcAddress(kernel32, "wine_get_unix_file_name"))
                    : nullptr;
}

}  // namespace

bool UnixSpawnAvailable() { return FindSpawn() != nullptr && FindUnixFileName() != nullptr; }

long RunUnixShell(const std::string& command) {
    SpawnFunction spawn = FindSpawn();
    if (!spawn) return -1;
    std::string shell = "/bin/sh", option = "-c", line = command;
    char* argv[] = {&shell[0], &option[0], &line[0], nullptr};
    long status = -1;
    // Wine starts Unix children reliably only from worker threads, not from a window's thread.
    std::thread worker([&] { status = spawn(argv, 1); });
    worker.join();
    return status;
}

std::string UnixPath(const std::wstring& windowsPath) {
    UnixFileNameFunction convert = FindUnixFileName();
    if (!convert) return std::string();
    ScopedHeapBlock path(convert(windowsPath.c_str()));  // allocated on the process heap
    return path.Get() ? std::string(path.As<char>()) : std::string();
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace engine
