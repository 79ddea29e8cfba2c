#include "host/player_entries.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>

#include "host/call_log.h"

namespace host {

namespace {

std::atomic<DspMode> Mode{DspMode::Off};
std::mutex ScriptMutex;
std::deque<int> ScriptedAnswers;


intptr_t Pointer(const void* p) { return reinterpret_cast<intptr_t>(p); }

void __cdecl SAVSAInit(int latency_in_ms, int sample_rate) { LogCall(Call::SAVSAInit, {latency_in_ms, sample_rate}); }

void __cdecl SAVSADeInit() { LogCall(Call::SAVSADeInit, {}); }

void __cdecl SAAddPCMData(void* data, int channels, int bits, int time_in_ms) {
    LogCall(Call::SAAddPCMData, {Pointer(data), channels, bits, time_in_ms});
}

void __cdecl VSAAddPCMData(void* data, int channels, int bits, int time_in_ms) {
    LogCall(Call::VSAAddPCMData, {Pointer(data), channels, bits, time_in_ms});
}

void __cdecl VSASetInfo(int channels, int sample_rate) { LogCall(Call::VSASetInfo, {channels, sample_rate}); }

void __cdecl SetInfo(int bitrate_kbps, int sample_rate_khz, int channels, int synched) {
    LogCall(Call::SetInfo, {bitrate_kbps, sample_rate_khz, channels, synched});
}

int __cdecl DspIsActive() {
    int active = Mode != DspMode::Off ? 1 : 0;
    {
        std::lock_guard<std::mutex> lock(ScriptMutex);
        if (!ScriptedAnswers.empty()) {
            active = ScriptedAnswers.front();
            ScriptedAnswers.pop_front();
        }
    }
    LogCall(Call::DspIsActive, {}, active);
    return active;
}

int __cdecl DspDoSamples(short* samples, int frames, int bits, int channels, int sample_rate) {
    HostCall entry{Call::DspDoSamples};
    entry.args[0] = Pointer(samples);
    entry.args[1] = frames;
    entry.args[2] = bits;
    entry.args[3] = channels;
    entry.args[4] = sample_rate;
    entry.thread = GetCurrentThreadId();
    const int bytesPerFrame = channels * (bits / 8);
    if (frames > 0 && bytesPerFrame > 0 && CallLogging()) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(samples);
        entry.data.assign(bytes, bytes + frames * bytesPerFrame);
    }
    int result = frames;
    switch (Mode.load()) {
        case DspMode::DoubleFrames: result = DoubleEveryFrame(samples, frames, bytesPerFrame); break;
        case DspMode::Oversized: result = OVERSIZED_DSP_FRAMES; break;
        default: break;
    }
    entry.result = result;
    LogCall(std::move(entry));
    return result;
}

int __cdecl NotUsed() { return 0; }

}  // namespace

void SetDspMode(DspMode mode) { Mode = mode; }

DspMode CurrentDspMode() { return Mode; }

void ScriptDspIsActive(const std::vector<int>& answers) {
    std::lock_guard<std::mutex> lock(ScriptMutex);
    ScriptedAnswers.assign(answers.begin(), answers.end());
}

int DoubleEveryFrame(void* samples, int frames, int bytesPerFrame) {
    if (frames <= 0 || bytesPerFrame <= 0) return frames > 0 ? frames : 0;
    uint8_t* bytes = static_cast<uint8_t*>(samples);
    // From the last frame back, so no frame is overwritten before it is copied.
    for (int i = frames - 1; i >= 0; --i) {
        uint8_t* source = bytes + i * bytesPerFrame;
        std::memmove(bytes + (2 * i + 1) * bytesPerFrame, source, bytesPerFrame);
        std::memmove(bytes + 2 * i * bytesPerFrame, source, bytesPerFrame);
    }
    return 2 * frames;
}

void FillHostEntries(In_Module& module, HWND mainWindow, HINSTANCE dllInstance, Out_Module* output) {
    module.hMainWindow = mainWindow;
    module.hDllInstance = dllInstance;
    module.SAVSAInit = SAVSAInit;
    module.SAVSADeInit = SAVSADeInit;
    module.SAAddPCMData = SAAddPCMData;
    module.SAGetMode = reinterpret_cast<void*>(NotUsed);
    module.SAAdd = reinterpret_cast<void*>(NotUsed);
    module.VSAAddPCMData = VSAAddPCMData;
    module.VSAGetMode = reinterpret_cast<void*>(NotUsed);
    module.VSAAdd = reinterpret_cast<void*>(NotUsed);
    module.VSASetInfo = VSASetInfo;
    module.dsp_isactive = DspIsActive;
    module.dsp_dosamples = DspDoSamples;
    module.SetInfo = SetInfo;
    module.outMod = output;
    output->hMainWindow = mainWindow;
    output->hDllInstance = dllInstance;
}

}  // namespace host

