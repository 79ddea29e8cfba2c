#include "host/call_log.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>

namespace host {

namespace {

std::mutex LogMutex;
// A deque: a long run logs millions of calls, and a vector would need ever larger blocks in one piece.
std::deque<HostCall> Log;
bool LogFull = false;  // memory ran out: later calls are not logged
uint64_t NextSequence = 1;
std::atomic<bool> KeepWrittenBytes{true};
std::atomic<bool> Logging{true};

}  // namespace

const char* CallName(Call call) {
    static const char* const names[] = {
        "Open", "Close", "Write", "CanWrite", "IsPlaying", "Pause", "SetVolume", "SetPan", "Flush",
        "GetOutputTime", "GetWrittenTime", "SAVSAInit", "SAVSADeInit", "SAAddPCMData", "VSAAddPCMData",
        "VSASetInfo", "SetInfo", "dsp_isactive", "dsp_dosamples", "EndOfFile"};
    const size_t index = static_cast<size_t>(call);
    return index < sizeof names / sizeof names[0] ? names[index] : "?";
}

// The log is the tests' record, not the player's: when memory runs out it stops growing (saying so
// once) rather than end the process under the plug-in.
uint64_t LogCall(HostCall call) {
    if (!Logging) return 0;
    std::lock_guard<std::mutex> lock(LogMutex);
    call.sequence = NextSequence++;
    if (LogFull) return call.sequence;
    try {
        Log.push_back(std::move(call));
    } catch (const std::bad_alloc&) {
        LogFull = true;
        std::fprintf(stderr, "player stand-in: memory ran out, the call log stops here\n");
    }
    return NextSequence - 1;
}

uint64_t LogCall(Call call, std::initializer_list<intptr_t> args, intptr_t result) {
    if (!Logging) return 0;
    HostCall entry{call};
    int i = 0;
    for (intptr_t arg : args) entry.args[i++] = arg;
    entry.result = result;
    entry.thread = GetCurrentThreadId();
    return LogCall(std::move(entry));
}

std::vector<HostCall> LoggedCalls() {
    std::lock_guard<std::mutex> lock(LogMutex);
    return std::vector<HostCall>(Log.begin(), Log.end());
}

std::vector<HostCall> LoggedCalls(Call call) {
    std::lock_guard<std::mutex> lock(LogMutex);
    std::vector<HostCall> matching;
    for (const HostCall& entry : Log)
        if (entry.call == call) matching.push_back(entry);
    return matching;
}

size_t CountCalls(Call call) {
    std::lock_guard<std::mutex> lock(LogMutex);
    size_t count = 0;
    for (const HostCall& entry : Log)
        if (entry.call == call) ++count;
    return count;
}

void ClearCallLog() {
    std::lock_guard<std::mutex> lock(LogMutex);
    Log.clear();
    LogFull = false;
}

void SetRecordWrittenBytes(bool on) { KeepWrittenBytes = on; }
bool RecordWrittenBytes() { return KeepWrittenBytes; }

void SetCallLogging(bool on) { Logging = on; }
bool CallLogging() { return Logging; }

}  // namespace host
