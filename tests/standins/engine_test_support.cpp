#include "tests/standins/engine_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/events.h"

namespace enginetest {

const GUID WaveFormatExId = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};
const ULONGLONG AllSpeechEvents = 0x24000FFFEull;

namespace {
const CLSID VoiceClass = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const CLSID TranslatorClass = {0xE2AE5372, 0x5D40, 0x11D2, {0x96, 0x0E, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28}};
}  // namespace

EngineApartment::EngineApartment() {
    engine::Reset();  // a fresh engine even when several tests share a process
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    registered = engine::RegisterClasses();
}

EngineApartment::~EngineApartment() {
    engine::RevokeClasses();
    CoUninitialize();
}

RecordingStream::RecordingStream(DWORD samplesPerSec, WORD bitsPerSample, WORD channels)
    : formatId_(WaveFormatExId),
      gate_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      writeStarted_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    InitializeCriticalSection(&lock_);
    std::memset(&format_, 0, sizeof format_);
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = channels;
    format_.nSamplesPerSec = samplesPerSec;
    format_.wBitsPerSample = bitsPerSample;
    format_.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
    format_.nAvgBytesPerSec = samplesPerSec * format_.nBlockAlign;
}

RecordingStream::~RecordingStream() {
    CloseHandle(gate_);
    CloseHandle(writeStarted_);
    DeleteCriticalSection(&lock_);
}

void RecordingStream::SetFormat(const GUID& formatId, const WAVEFORMATEX& format) {
    formatId_ = formatId;
    format_ = format;
}

void RecordingStream::HoldWrites() { ResetEvent(gate_); }
void RecordingStream::ReleaseWrites() { SetEvent(gate_); }

bool RecordingStream::WaitForWrites(long count, DWORD milliseconds) {
    DWORD deadline = GetTickCount() + milliseconds;
    while (writesStarted_ < count) {
        DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0) return false;
        WaitForSingleObject(writeStarted_, deadline - now);
    }
    return true;
}

std::vector<unsigned char> RecordingStream::Bytes() {
    EnterCriticalSection(&lock_);
    std::vector<unsigned char> copy = bytes_;
    LeaveCriticalSection(&lock_);
    return copy;
}

HRESULT RecordingStream::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(ISpStreamFormat)) || IsEqualIID(iid, IID_IStream) ||
        IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<ISpStreamFormat*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT RecordingStream::Write(const void* data, ULONG bytes, ULONG* written) {
    ++writesStarted_;
    SetEvent(writeStarted_);
    WaitForSingleObject(gate_, INFINITE);
    EnterCriticalSection(&lock_);
    const auto* first = static_cast<const unsigned char*>(data);
    bytes_.insert(bytes_.end(), first, first + bytes);
    LeaveCriticalSection(&lock_);
    if (written) *written = bytes;
    ++writesFinished_;
    return S_OK;
}

HRESULT RecordingStream::GetFormat(GUID* formatId, WAVEFORMATEX** format) {
    *formatId = formatId_;
    *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    std::memcpy(*format, &format_, sizeof(WAVEFORMATEX));
    return S_OK;
}

TempFile::TempFile(const std::vector<unsigned char>& bytes, const wchar_t* extension) {
    wchar_t folder[MAX_PATH];
    wchar_t name[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"eng", 0, name);
    DeleteFileW(name);
    path_ = std::wstring(name) + extension;
    ScopedHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

TempFile::TempFile(const std::string& text, const wchar_t* extension)
    : TempFile(std::vector<unsigned char>(text.begin(), text.end()), extension) {}

TempFile::~TempFile() { DeleteFileW(path_.c_str()); }

WiredVoice::WiredVoice() : event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    EXPECT_EQ(S_OK, CoCreateInstance(VoiceClass, nullptr, 7, __uuidof(ISpVoice), voice.ReceiveVoid()));
    EXPECT_EQ(S_OK, CoCreateInstance(TranslatorClass, nullptr, 7, __uuidof(ISpNotifyTranslator),
                                     translator.ReceiveVoid()));
    if (!voice || !translator) return;
    EXPECT_EQ(S_OK, translator->InitWin32Event(event, FALSE));
    EXPECT_EQ(S_OK, voice->SetNotifySink(translator.Get()));
    EXPECT_EQ(S_OK, voice->SetInterest(AllSpeechEvents, AllSpeechEvents));
}

WiredVoice::~WiredVoice() {
    voice.Reset();
    translator.Reset();
    CloseHandle(event);
}

std::vector<SPEVENT> DrainEvents(ISpVoice* voice) {
    std::vector<SPEVENT> events;
    for (;;) {
        SPEVENT event;
        std::memset(&event, 0, sizeof event);
        ULONG fetched = 0;
        HRESULT result = voice->GetEvents(1, &event, &fetched);
        if (result != S_OK) {
            EXPECT_EQ(S_FALSE, result);
            EXPECT_EQ(0u, fetched);
            return events;
        }
        EXPECT_EQ(1u, fetched);
        events.push_back(event);
    }
}

void ClearEvents(std::vector<SPEVENT>& events) {
    for (SPEVENT& event : events) engine::ReleaseEventPayload(event);
    events.clear();
}

std::string EventTrace(const std::vector<SPEVENT>& events, bool withWords) {
    std::string trace;
    for (const SPEVENT& event : events) {
        if (!withWords && event.eEventId == SPEI_WORD_BOUNDARY) continue;
        if (!trace.empty()) trace += ' ';
        trace += std::to_string(event.eEventId) + ":" + std::to_string(event.ulStreamNum);
    }
    return trace;
}

}  // namespace enginetest
