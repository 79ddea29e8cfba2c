// The stream object the voice writes its PCM into. It tells the voice the output format and hands every
// block on to the player's visualisation, DSP chain and output module.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <atomic>

#include "base/scoped.h"
#include "playback/chunk_arithmetic.h"

constexpr DWORD OUTPUT_WAIT_MS = 20;

class SpeechOutputStreamObject : public ISpStreamFormat {
public:
    SpeechOutputStreamObject();
    virtual ~SpeechOutputStreamObject() = default;

    // Makes the stream-format index's wave format the stream's and opens the output module in it.
    // Returns the output module's Open result, or -1 when the index gives no wave format.
    int Configure(int streamFormatIndex);

    const WAVEFORMATEX* WaveFormat() const { return current_.load()->wave.Get(); }

    // A Write that waits for room looks again at once (a stop under way ends the wait).
    void WakeWaitingWrite() { SetEvent(wake_.Get()); }
    // Play: a Write waits for room again.
    void ResetWake() { ResetEvent(wake_.Get()); }
    // Shut-down: every Write from now on returns at once and hands nothing on, a waiting one too.
    void Close();
    // Waits up to timeoutMs for the Writes under way to leave; true when none is left inside Write.
    bool WaitUntilNoWrite(DWORD timeoutMs) const;
    // Start-up: Write hands the voice's PCM on again.
    void Reopen() { closed_ = false; }

    // IUnknown: the object is static and counts no references.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override;

    // IStream: accepted and ignored.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* stream, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override;

    // ISpStreamFormat
    HRESULT STDMETHODCALLTYPE GetFormat(GUID* formatId, WAVEFORMATEX** waveFormat) override;

    // One stream format: its format id and wave format (none for an index without one).
    struct Format {
        bool built = false;
        GUID id = GUID_NULL;
        ScopedTaskMem<WAVEFORMATEX> wave;
    };

private:
    const Format* FormatOf(int streamFormatIndex);

    // Each index's format is built the first time it is configured and is neither changed nor freed
    // until the stream goes: a Write or GetFormat that the engine still runs for an earlier file (after
    // a purge that failed or timed out) reads a whole, valid record while Configure moves on.
    static constexpr int FORMAT_INDEX_COUNT = 69;
    Format formats_[FORMAT_INDEX_COUNT];
    std::atomic<const Format*> current_;
    // Set while a Write should stop waiting for room; Write waits on it between looks at the room.
    ScopedHandle wake_;
    std::atomic<bool> closed_{false};
    std::atomic<int> writesInside_{0};
};

// The one stream, for the module's life.
extern SpeechOutputStreamObject SpeechOutputStream;
