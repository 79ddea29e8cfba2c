// The player's output plug-in: writes what it is given to a wave file and models the sound card's
// buffer (device_buffer.h) against the real clock. Its operations may be called from any thread;
// every call is logged (call_log.h).
#pragma once

#include <string>

#include "host/device_buffer.h"
#include "host/wav_file.h"
#include "base/winamp.h"

namespace host {

struct OutputOptions {
    DrainMode drain = DrainMode::Clock;
    double speed = 1.0;          // with DrainMode::Clock: 1 is real time, N is N times faster
    int defaultBufferMs = 2000;  // used when Open is given a negative buffer length
    int openResult = 0;          // a negative value makes every Open fail with it
    // Wave file for what is written; empty: none. Opens with the same format as the file continue
    // it; an Open with another format starts "<name>-2.wav", "<name>-3.wav", ...
    std::string wavPath;
};

// The output module record, filled with this module's operations.
Out_Module* OutputModule();

// Applies the options to the next Open; drain mode and speed also at once.
void ConfigureOutput(const OutputOptions& options);
void SetOutputDrain(DrainMode mode, double speed = 1.0);
// Closes the wave file for good; the module stays usable.
void FinishOutput();

// The device's state now, for tests and progress reports.
struct OutputState {
    bool open = false;
    bool paused = false;
    PcmFormat format;
    long long capacity = 0;
    long long written = 0;  // bytes since Open
    long long played = 0;
    int volume = 0;
    int pan = 0;
    int writesBeyondRoom = 0;  // Write calls given more than CanWrite allowed
    int writesWhileClosed = 0;
    std::string wavPath;  // the file being written, if any
    // HostClockUs when the snapshot was taken, and when the device will have played everything
    // buffered if nothing more is written (the snapshot's time unless it drains with the clock).
    long long timeUs = 0;
    long long playsOutAtUs = 0;
};
OutputState OutputSnapshot();

// The clock the device model runs on: QueryPerformanceCounter in microseconds.
long long HostClockUs();

}  // namespace host
