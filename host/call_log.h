// Every call the plug-in makes on the player: the output module's operations, the visualisation,
// DSP and information entries of the input module, and the end-of-file messages the main window
// receives. One chronological log for the process, safe to append to from any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace host {

enum class Call {
    // Out_Module
    Open, Close, Write, CanWrite, IsPlaying, Pause, SetVolume, SetPan, Flush, GetOutputTime, GetWrittenTime,
    // In_Module entries filled by the player
    SAVSAInit, SAVSADeInit, SAAddPCMData, VSAAddPCMData, VSASetInfo, SetInfo, DspIsActive, DspDoSamples,
    // Message 1026 arriving at the main window
    EndOfFile,
};

const char* CallName(Call call);

struct HostCall {
    Call call;
    intptr_t args[5] = {};   // in the order of the operation's parameters; pointers as integers
    intptr_t result = 0;     // for operations that return something
    DWORD thread = 0;        // GetCurrentThreadId of the caller
    uint64_t sequence = 0;   // position in the log, from 1
    std::vector<uint8_t> data;  // Write: the bytes (when recorded); DspDoSamples: the frames given
};

// Appends a call and returns its sequence number.
uint64_t LogCall(HostCall call);
// Appends a call made on the calling thread with these arguments and result.
uint64_t LogCall(Call call, std::initializer_list<intptr_t> args, intptr_t result = 0);
std::vector<HostCall> LoggedCalls();
std::vector<HostCall> LoggedCalls(Call call);
size_t CountCalls(Call call);
void ClearCallLog();

// Whether calls are logged at all (on by default). Off, LogCall keeps nothing and returns 0, the
// Write and DSP entries copy no bytes, and the log stays as it was: for long or speed-sensitive runs
// (a benchmark) where the log's growth would cost more than the calls themselves.
void SetCallLogging(bool on);
bool CallLogging();

// Whether Write calls keep a copy of their bytes (on by default).
void SetRecordWrittenBytes(bool on);
bool RecordWrittenBytes();

}  // namespace host
