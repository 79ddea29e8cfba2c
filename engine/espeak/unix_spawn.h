// Running Linux programs from Windows code under Wine: Wine's ntdll can start a Unix process
// and wait for it, and kernel32 can turn a Windows path into the Unix one. Neither exists on
// Windows, where everything here reports "not available".
#pragma once

#include <string>

namespace engine {

// True when this process runs under Wine and can start Unix processes.
bool UnixSpawnAvailable();

// Runs `/bin/sh -c command` and waits for it. The caller redirects the command's input and
// output itself (a Unix child otherwise shares Wine's stdout). Runs the command from a worker
// thread of its own, so it may be called from any thread. Returns the exit status, or -1 when
// the command could not be started.
long RunUnixShell(const std::string& command);

// The Unix path of a Windows path; empty when there is none (or not under Wine).
std::string UnixPath(const std::wstring& windowsPath);

// `text` as one word for /bin/sh: in single quotes, with every ' written as '\''.
std::string ShellQuoted(const std::string& text);

}  // namespace engine
