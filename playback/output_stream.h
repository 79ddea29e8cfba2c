// The stream object the voice writes its PCM into. It tells the voice the output format and hands every
// block on to the player's visualisation, DSP chain and output module.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <atomic>

#include "playback/chunk_arithmetic.h"

constexpr DWORD OUTPUT_WAIT_MS = 20;

class SpeechOutputStreamObject : public ISpStreamFormat {
public:
    SpeechOutputStreamObject();
    virtual ~SpeechOutputStreamObject();

    // Makes the stream-format index's wave format the stream's and opens the output module in it.
    // Returns the output module's Open result, or -1 when the index gives no wave format.
    int Configure(int streamFormatIndex);

    const WAVEFORMATEX* WaveFormat() const { return current_.load()->wave; }

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

    // One stream format: its format id and wave format (null for an index without one).
    struct Format {
        bool built = false;
        GUID id = GUID_NULL;
        WAVEFORMATEX* wave = nullptr;
    };

private:
    const Format* FormatOf(int streamFormatIndex);

    // Each index's format is built the first time it is configured and is neither changed nor freed
    // until the stream goes: a Write or GetFormat that the engine still runs for an earlier file (after
    // a purge that failed or timed out) reads a whole, valid record while Configure moves on.
    static constexpr int FORMAT_INDEX_COUNT = 69;
    Format formats_[FORMAT_INDEX_COUNT];
    std::atomic<const Format*> current_;
};

// The one stream, for the module's life. Defined in plugin/module_objects.cpp, with the other
// module-lifetime objects.
extern SpeechOutputStreamObject SpeechOutputStream;
