#include "engine/wave_out.h"

#include "engine/sapi_codes.h"

namespace engine {
namespace {

// The engine waits in slices this long, so a purge or a release is seen promptly even when the
// device stops calling back.
const DWORD WaitSliceMilliseconds = 20;

}  // namespace

WAVEFORMATEX WaveFormatOf(const PcmFormat& format) {
    WAVEFORMATEX wave = {};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = format.channels;
    wave.nSamplesPerSec = format.samplesPerSec;
    wave.wBitsPerSample = format.bitsPerSample;
    wave.nBlockAlign = format.BlockAlign();
    wave.nAvgBytesPerSec = format.samplesPerSec * format.BlockAlign();
    return wave;
}


HRESULT WaveOpenResult(MMRESULT result) {
    switch (result) {
    case MMSYSERR_NOERROR: return S_OK;
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER: return SPERR_NO_DRIVER;
    case MMSYSERR_ALLOCATED: return SPERR_DEVICE_BUSY;
    case WAVERR_BADFORMAT: return SPERR_UNSUPPORTED_FORMAT;
    case MMSYSERR_NOMEM: return E_OUTOFMEMORY;
    default: return SPERR_DEVICE_NOT_ENABLED;
    }
}

HRESULT WaveOutput::Open(const PcmFormat& format, std::shared_ptr<WaveOutput>& output) {
    output.reset();
    if (waveOutGetNumDevs() == 0) return SPERR_NO_DRIVER;
    HANDLE doneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!doneEvent) return HRESULT_FROM_WIN32(GetLastError());
    const WAVEFORMATEX wave = WaveFormatOf(format);
    HWAVEOUT device = nullptr;
    MMRESULT opened = waveOutOpen(&device, WAVE_MAPPER, &wave, reinterpret_cast<DWORD_PTR>(doneEvent), 0,
                                  CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        CloseHandle(doneEvent);
        return WaveOpenResult(opened);
    }
    output.reset(new WaveOutput(device, doneEvent, format));
    return S_OK;
}

WaveOutput::WaveOutput(HWAVEOUT device, HANDLE doneEvent, const PcmFormat& format)
    : device_(device), doneEvent_(doneEvent), queueLimit_(format.samplesPerSec * format.BlockAlign() / 4) {}

WaveOutput::~WaveOutput() {
    waveOutReset(device_);
    ReclaimPlayed();
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& block : blocks_) waveOutUnprepareHeader(device_, &block->header, sizeof block->header);
        blocks_.clear();
    }
    waveOutClose(device_);
    CloseHandle(doneEvent_);
}

size_t WaveOutput::ReclaimPlayed() {
    std::lock_guard<std::mutex> guard(lock_);
    while (!blocks_.empty() && (blocks_.front()->header.dwFlags & WHDR_DONE)) {
        waveOutUnprepareHeader(device_, &blocks_.front()->header, sizeof(WAVEHDR));
        blocks_.pop_front();
    }
    size_t queued = 0;
    for (const auto& block : blocks_) queued += block->data.size();
    return queued;
}

bool WaveOutput::WaitUntil(const std::function<bool()>& done, const StopCheck& stopping) {
    for (;;) {
        if (stopping()) return false;
        if (done()) return true;
        WaitForSingleObject(doneEvent_, WaitSliceMilliseconds);
    }
}

bool WaveOutput::Write(const unsigned char* data, size_t bytes, const StopCheck& stopping) {
    if (!WaitUntil([&] { return ReclaimPlayed() < queueLimit_; }, stopping)) return false;
    auto block = std::make_unique<Block>();
    block->data.assign(data, data + bytes);
    block->header = WAVEHDR();
    block->header.lpData = reinterpret_cast<LPSTR>(block->data.data());
    block->header.dwBufferLength = static_cast<DWORD>(bytes);
    std::lock_guard<std::mutex> guard(lock_);
    if (waveOutPrepareHeader(device_, &block->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return false;
    if (waveOutWrite(device_, &block->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(device_, &block->header, sizeof(WAVEHDR));
        return false;
    }
    blocks_.push_back(std::move(block));
    return true;
}

bool WaveOutput::Drain(const StopCheck& stopping) {
    return WaitUntil([&] { return ReclaimPlayed() == 0; }, stopping);
}

void WaveOutput::Pause() { waveOutPause(device_); }
void WaveOutput::Resume() { waveOutRestart(device_); }

void WaveOutput::Reset() {
    waveOutReset(device_);
    ReclaimPlayed();
}

}  // namespace engine
