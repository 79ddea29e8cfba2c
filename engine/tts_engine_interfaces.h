// The engine side of SAPI 5 (what sapiddk.h declares), which MinGW does not ship: the interfaces a
// text-to-speech engine implements and the site its voice hands it, with their layouts.
#pragma once

#include <windows.h>
#include <sapi.h>

namespace engine {

enum TtsSkipType { TtsSkipSentence = 1 };  // SPVSKIPTYPE

// SPVESACTIONS: what GetActions reports.
constexpr DWORD TtsContinue = 0;
constexpr DWORD TtsAbort = 1 << 0;
constexpr DWORD TtsSkip = 1 << 1;
constexpr DWORD TtsRate = 1 << 2;
constexpr DWORD TtsVolume = 1 << 3;

// SPVTEXTFRAG
struct TtsTextFragment {
    TtsTextFragment* next;
    SPVSTATE state;
    LPCWSTR text;
    ULONG length;
    ULONG sourceOffset;
};

// ISpTTSEngineSite
struct TtsEngineSite : public ISpEventSink {
    virtual DWORD STDMETHODCALLTYPE GetActions() = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(long* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVolume(USHORT* volume) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSkipInfo(int* type, long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompleteSkip(long skipped) = 0;
};

// ISpTTSEngine
struct TtsEngine : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Speak(DWORD flags, REFGUID formatId, const WAVEFORMATEX* format,
                                            const TtsTextFragment* fragments, TtsEngineSite* site) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputFormat(const GUID* targetFormatId, const WAVEFORMATEX* targetFormat,
                                                      GUID* formatId, WAVEFORMATEX** format) = 0;
};

const IID TtsEngineIid = {0xA74D7C8E, 0x4CC5, 0x4F2F, {0xA6, 0xEB, 0x80, 0x4D, 0xEE, 0x18, 0x50, 0x0E}};
const IID TtsEngineSiteIid = {0x9880499B, 0xCCE9, 0x11D2, {0xB5, 0x03, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

}  // namespace engine
