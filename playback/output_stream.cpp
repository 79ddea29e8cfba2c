#include "playback/output_stream.h"

#include <cstring>

#include "playback/playback_state.h"
#include "playback/stream_format.h"
#include "base/module_objects.h"

namespace {

// Only Write uses it, and the engine never runs two Writes at once.
BYTE DspBuffer[DSP_BUFFER_SIZE];

// The format of an unconfigured stream, and of an index without one.
const SpeechOutputStreamObject::Format NoFormat;

const IID* const SupportedInterfaces[] = {&IID_ISpStreamFormat, &IID_IStream, &IID_ISequentialStream, &IID_IUnknown};

int FrameSizeOf(const WAVEFORMATEX* format) { return format->nChannels * (format->wBitsPerSample / 8); }

// Hands one chunk to the visualisation, the DSP (when active) and the output module.
void HandOnChunk(const BYTE* chunk, int length, const WAVEFORMATEX* format) {
    const In_Module& host = PluginModule;
    int channels = format->nChannels, bits = format->wBitsPerSample, frameSize = FrameSizeOf(format);
    int time = host.outMod->GetWrittenTime();
    host.SAAddPCMData(const_cast<BYTE*>(chunk), channels, bits, time);
    host.VSAAddPCMData(const_cast<BYTE*>(chunk), channels, bits, time);

    if (host.dsp_isactive() && frameSize > 0) {
        std::memcpy(DspBuffer, chunk, length);
        int frames = host.dsp_dosamples(reinterpret_cast<short*>(DspBuffer), length / frameSize, bits, channels,
                                        format->nSamplesPerSec);
        chunk = DspBuffer;
        length = DspResultBytes(frames, frameSize);
    }
    host.outMod->Write(reinterpret_cast<char*>(const_cast<BYTE*>(chunk)), length);
}

// Counts a Write from its first instruction to its return, so shut-down can tell when none is left.
class WriteInside {
public:
    explicit WriteInside(std::atomic<int>& count) : count_(count) { ++count_; }
    ~WriteInside() { --count_; }
    WriteInside(const WriteInside&) = delete;
    WriteInside& operator=(const WriteInside&) = delete;

private:
    std::atomic<int>& count_;
};

}  // namespace

SpeechOutputStreamObject SpeechOutputStream;

SpeechOutputStreamObject::SpeechOutputStreamObject()
    : current_(&NoFormat), wake_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

const SpeechOutputStreamObject::Format* SpeechOutputStreamObject::FormatOf(int streamFormatIndex) {
    if (streamFormatIndex < 0 || streamFormatIndex >= FORMAT_INDEX_COUNT) return &NoFormat;
    Format& format = formats_[streamFormatIndex];
    if (!format.built) {
        // Out of memory leaves it unbuilt, to be tried again by the next Configure.
        if (BuildWaveFormat(streamFormatIndex, &format.id, format.wave.Receive()) == E_OUTOFMEMORY) return &NoFormat;
        format.built = true;
    }
    return &format;
}

int SpeechOutputStreamObject::Configure(int streamFormatIndex) {
    const Format* format = FormatOf(streamFormatIndex);
    current_ = format;
    const WAVEFORMATEX* wave = format->wave.Get();
    if (!wave) return -1;  // nothing to open the output with
    return PluginModule.outMod->Open(wave->nSamplesPerSec, wave->nChannels, wave->wBitsPerSample, -1, -1);
}

void SpeechOutputStreamObject::Close() {
    closed_ = true;
    WakeWaitingWrite();
}

bool SpeechOutputStreamObject::WaitUntilNoWrite(DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    while (writesInside_ > 0) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(1);
    }
    return true;
}

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    for (const IID* supported : SupportedInterfaces) {
        if (std::memcmp(&iid, supported, sizeof(IID)) == 0) {
            *object = this;
            return S_OK;
        }
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SpeechOutputStreamObject::AddRef() { return 0; }

ULONG STDMETHODCALLTYPE SpeechOutputStreamObject::Release() { return 0; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Read(void* buffer, ULONG size, ULONG* read) {
    if (read) *read = size;
    if (size >= sizeof(WORD)) {
        const WORD byteOrderMark = 0xFEFF;
        std::memcpy(buffer, &byteOrderMark, sizeof byteOrderMark);
    }
    return S_OK;
}

// Passes the voice's PCM on in chunks, waiting for room in the output. This is the only brake on
// synthesis: the engine's thread stays here while the output has no room. A stop under way ends the
// wait (the rest of the block is purged speech), so the engine's purge can complete; after shut-down
// nothing is handed on at all.
HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Write(const void* data, ULONG size, ULONG* written) {
    WriteInside inside(writesInside_);  // counted before closed_ is read: Close sees this Write or it sees closed_
    if (written) *written = size;
    const WAVEFORMATEX* format = current_.load()->wave.Get();
    if (!format || closed_) return S_OK;  // nothing can take the data

    const In_Module& host = PluginModule;
    int chunkSize = ChunkBytes(FrameSizeOf(format), host.dsp_isactive() != 0);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    ULONG offset = 0;
    do {
        int length = NextChunkLength(chunkSize, size, offset);
        if (host.outMod->CanWrite() < length) {
            if (PlaybackState.StopRequested || closed_) break;
            WaitForSingleObject(wake_.Get(), OUTPUT_WAIT_MS);
            continue;
        }
        if (closed_) break;
        HandOnChunk(bytes + offset, length, format);
        offset += length;
    } while (offset < size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::SetSize(ULARGE_INTEGER) { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                                           ULARGE_INTEGER*) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Commit(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Revert() { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Stat(STATSTG* stat, DWORD) {
    if (stat) {
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->grfLocksSupported = LOCK_WRITE | LOCK_EXCLUSIVE;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::Clone(IStream**) { return S_OK; }

HRESULT STDMETHODCALLTYPE SpeechOutputStreamObject::GetFormat(GUID* formatId, WAVEFORMATEX** waveFormat) {
    const Format* current = current_.load();
    *formatId = current->id;
    if (!current->wave) {
        *waveFormat = nullptr;
    } else if (FAILED(CopyWaveFormat(current->wave.Get(), waveFormat))) {
        *formatId = GUID_NULL;
    }
    return S_OK;
}
