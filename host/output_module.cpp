#include "host/output_module.h"

#include <mutex>

#include "host/call_log.h"

namespace host {

namespace {

std::mutex OutputMutex;  // the module is called from the player's, the engine's and the plug-in's threads
OutputOptions Options;
DeviceBuffer Device;
bool DeviceOpened = false;
PcmFormat OpenedFormat;
int Volume = 255;
int Pan = 0;
int WritesBeyondRoom = 0;
int WritesWhileClosed = 0;
WavFile Wav;
int WavFilesStarted = 0;

int64_t NowUs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency.QuadPart * 1000000 +
           counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}


// "out.wav" → "out-2.wav" for the second format of a run.
std::string NumberedWavPath(const std::string& path, int number) {
    if (number <= 1) return path;
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    return stem + "-" + std::to_string(number) + extension;
}

// Continues the wave file when the format is unchanged, else starts the next one. Lock held.
void StartWavFor(const PcmFormat& format) {
    if (Options.wavPath.empty()) return;
    if (WavIsOpen(Wav) && Wav.format == format && Wav.path == NumberedWavPath(Options.wavPath, WavFilesStarted))
        return;
    WavClose(Wav);
    ++WavFilesStarted;
    WavCreate(Wav, NumberedWavPath(Options.wavPath, WavFilesStarted), format);
}

int CurrentRoom() {
    if (!DeviceOpened) return 0;
    DeviceAdvance(Device, NowUs());
    return static_cast<int>(DeviceFreeRoom(Device));
}

int __cdecl Open(int rate, int channels, int bits, int bufferlenms, int prebufferms) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    int result = Options.openResult;
    const PcmFormat format{rate, channels, bits};
    if (result >= 0 && (rate <= 0 || channels <= 0 || bits <= 0)) result = -1;
    if (result >= 0) {
        if (DeviceOpened) WavPatch(Wav);
        const int bufferMs = bufferlenms > 0 ? bufferlenms : Options.defaultBufferMs;
        Device.mode = Options.drain;
        Device.speed = Options.speed;
        DeviceOpen(Device, BytesPerSecond(format), BlockAlign(format), bufferMs, NowUs());
        DeviceOpened = true;
        OpenedFormat = format;
        StartWavFor(format);
        result = bufferMs;  // the latency the player may expect
    }
    LogCall(Call::Open, {rate, channels, bits, bufferlenms, prebufferms}, result);
    return result;
}

void __cdecl Close() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    if (DeviceOpened) WavPatch(Wav);
    DeviceOpened = false;
    LogCall(Call::Close, {}, 0);
}

int __cdecl Write(char* buf, int len) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    HostCall entry{Call::Write};
    entry.args[0] = reinterpret_cast<intptr_t>(buf);
    entry.args[1] = len;
    entry.thread = GetCurrentThreadId();
    if (len > 0 && CallLogging() && RecordWrittenBytes()) entry.data.assign(buf, buf + len);
    if (!DeviceOpened) {
        ++WritesWhileClosed;
        entry.result = -1;
    } else {
        if (len > CurrentRoom()) ++WritesBeyondRoom;
        DeviceWrite(Device, len, NowUs());
        if (len > 0) WavAppend(Wav, buf, static_cast<uint32_t>(len));
    }
    LogCall(std::move(entry));
    return 0;
}

int __cdecl CanWrite() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    const int room = CurrentRoom();
    LogCall(Call::CanWrite, {}, room);
    return room;
}

int __cdecl IsPlaying() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    int playing = 0;
    if (DeviceOpened) {
        DeviceAdvance(Device, NowUs());
        playing = DeviceBuffered(Device) > 0 ? 1 : 0;
    }
    LogCall(Call::IsPlaying, {}, playing);
    return playing;
}

int __cdecl Pause(int pause) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    const int wasPaused = Device.paused ? 1 : 0;
    DeviceSetPaused(Device, pause != 0, NowUs());
    LogCall(Call::Pause, {pause}, wasPaused);
    return wasPaused;
}

void __cdecl SetVolume(int volume) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    Volume = volume;
    LogCall(Call::SetVolume, {volume}, 0);
}

void __cdecl SetPan(int pan) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    Pan = pan;
    LogCall(Call::SetPan, {pan}, 0);
}

void __cdecl Flush(int ms) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    if (DeviceOpened) DeviceFlush(Device, ms, NowUs());
    LogCall(Call::Flush, {ms}, 0);
}

int __cdecl GetOutputTime() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    int ms = 0;
    if (DeviceOpened) {
        DeviceAdvance(Device, NowUs());
        ms = BytesToMs(Device.played, Device.bytesPerSecond);
    }
    LogCall(Call::GetOutputTime, {}, ms);
    return ms;
}

int __cdecl GetWrittenTime() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    const int ms = DeviceOpened ? BytesToMs(Device.written, Device.bytesPerSecond) : 0;
    LogCall(Call::GetWrittenTime, {}, ms);
    return ms;
}

void __cdecl NoDialog(HWND) {}
void __cdecl NoLifetimeWork() {}

char OutputDescription[] = "txtplay wave file output";

Out_Module TheOutputModule = {
    0x10, OutputDescription, 1, nullptr, nullptr, NoDialog, NoDialog, NoLifetimeWork, NoLifetimeWork,
    Open, Close, Write, CanWrite, IsPlaying, Pause, SetVolume, SetPan, Flush, GetOutputTime, GetWrittenTime,
};

}  // namespace

Out_Module* OutputModule() { return &TheOutputModule; }

void ConfigureOutput(const OutputOptions& options) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    if (options.wavPath != Options.wavPath) {
        WavClose(Wav);
        WavFilesStarted = 0;
    }
    Options = options;
    DeviceSetDrain(Device, options.drain, options.speed, NowUs());
}

void SetOutputDrain(DrainMode mode, double speed) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    Options.drain = mode;
    Options.speed = speed;
    DeviceSetDrain(Device, mode, speed, NowUs());
}

void FinishOutput() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    WavClose(Wav);
    WavFilesStarted = 0;
}

OutputState OutputSnapshot() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    const int64_t now = NowUs();
    if (DeviceOpened) DeviceAdvance(Device, now);
    OutputState state;
    state.timeUs = now;
    state.playsOutAtUs = DeviceOpened ? DevicePlaysOutAtUs(Device) : now;
    state.open = DeviceOpened;
    state.paused = Device.paused;
    state.format = OpenedFormat;
    state.capacity = Device.capacity;
    state.written = Device.written;
    state.played = Device.played;
    state.volume = Volume;
    state.pan = Pan;
    state.writesBeyondRoom = WritesBeyondRoom;
    state.writesWhileClosed = WritesWhileClosed;
    state.wavPath = WavIsOpen(Wav) ? Wav.path : std::string();
    return state;
}

long long HostClockUs() { return NowUs(); }

}  // namespace host
