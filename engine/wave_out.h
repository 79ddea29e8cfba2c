// The voice's default audio output: the sound device, through waveOut, in the voice's own format.
// The engine thread hands it blocks and waits on it; other threads pause, resume and reset it.
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>
#include <mmsystem.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace engine {

// The PCM wave format record of a format.
WAVEFORMATEX WaveFormatOf(const PcmFormat& format);

// Tells a wait that its stream is being stopped (purged, or the voice released).
using StopCheck = std::function<bool()>;

class WaveOutput {
public:
    ~WaveOutput();
    WaveOutput(const WaveOutput&) = delete;
    WaveOutput& operator=(const WaveOutput&) = delete;

    // Opens the default sound device; the SAPI error a program would see when there is none
    // (SPERR_NO_DRIVER), it is in use (SPERR_DEVICE_BUSY) or it refuses the format.
    static HRESULT Open(const PcmFormat& format, std::shared_ptr<WaveOutput>& output);

    // Queues a copy of the block for playing, first waiting while more than a quarter second is
    // queued, so the engine stays just ahead of what is heard. False when stopped meanwhile.
    bool Write(const unsigned char* data, size_t bytes, const StopCheck& stopping);

    // Waits until everything queued has played. False when stopped meanwhile.
    bool Drain(const StopCheck& stopping);

    void Pause();
    void Resume();
    // Silences at once what is queued.
    void Reset();

private:
    struct Block {
        WAVEHDR header;
        std::vector<unsigned char> data;
    };

    WaveOutput(HWAVEOUT device, HANDLE doneEvent, const PcmFormat& format);
    // Gives back the blocks that have played; the number of bytes still queued.
    size_t ReclaimPlayed();
    bool WaitUntil(const std::function<bool()>& done, const StopCheck& stopping);

    std::mutex lock_;  // guards blocks_
    HWAVEOUT device_;
    HANDLE doneEvent_;
    size_t queueLimit_;
    std::deque<std::unique_ptr<Block>> blocks_;
};

// The SAPI result for a waveOutOpen failure.
HRESULT WaveOpenResult(MMRESULT result);

}  // namespace engine
