// Helpers for the speech engine stand-in's own tests: a COM apartment with the engine's classes,
// an output stream that records (and can hold up) Write calls, temporary files, event draining.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "base/scoped.h"

namespace enginetest {

// The calling thread as a single-threaded apartment with the engine's classes registered.
class EngineApartment {
public:
    EngineApartment();
    ~EngineApartment();
    HRESULT registered = E_FAIL;
};

// An output stream with a fixed format that records every Write. While `hold` is set, Write
// waits until it is released (or for ever).
class RecordingStream : public ISpStreamFormat {
public:
    RecordingStream(DWORD samplesPerSec, WORD bitsPerSample, WORD channels);
    ~RecordingStream();

    void SetFormat(const GUID& formatId, const WAVEFORMATEX& format);
    void HoldWrites();
    void ReleaseWrites();
    // Waits until `count` Write calls have started; false after `milliseconds`.
    bool WaitForWrites(long count, DWORD milliseconds);

    std::vector<unsigned char> Bytes();
    long WriteCount() const { return writesStarted_; }
    long WritesFinished() const { return writesFinished_; }
    WAVEFORMATEX Format() const { return format_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFormat(GUID* formatId, WAVEFORMATEX** format) override;

    std::atomic<long> references_{0};

private:
    GUID formatId_;
    WAVEFORMATEX format_;
    CRITICAL_SECTION lock_;
    std::vector<unsigned char> bytes_;
    HANDLE gate_;  // manual-reset: set while writes may go on
    HANDLE writeStarted_;
    std::atomic<long> writesStarted_{0};
    std::atomic<long> writesFinished_{0};
};

extern const GUID WaveFormatExId;

// A file in the temporary folder, deleted at the end of the scope.
class TempFile {
public:
    explicit TempFile(const std::vector<unsigned char>& bytes, const wchar_t* extension = L".txt");
    explicit TempFile(const std::string& text, const wchar_t* extension = L".txt");
    ~TempFile();
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// A voice created through COM as the plug-in creates it, with a translator setting `event`
// and every text-to-speech event in both interests.
struct WiredVoice {
    WiredVoice();
    ~WiredVoice();
    ScopedComPtr<ISpVoice> voice;
    ScopedComPtr<ISpNotifyTranslator> translator;
    HANDLE event;
};

extern const ULONGLONG AllSpeechEvents;  // what the plug-in asks for

// Every event queued now, in order; their payloads are the caller's (see ClearEvents).
std::vector<SPEVENT> DrainEvents(ISpVoice* voice);
void ClearEvents(std::vector<SPEVENT>& events);

// Event ids with stream numbers, e.g. "1:1 5:1 2:1", for comparing sequences.
std::string EventTrace(const std::vector<SPEVENT>& events, bool withWords = true);

}  // namespace enginetest
