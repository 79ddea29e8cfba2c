// An ordinary SAPI program, run in a Wine prefix where the engine's server DLL is registered: what
// any program there gets. One step per run, named by the first argument; prints what it found and
// exits 0 only when the step holds.
//   category-audio      the audio output category (answered by Wine's own class): its default token id
//   voices              enumerating voices with and without attribute strings
//   reopen              a voice's saved id opened again with Wine's token class, then spoken with
//   speak TEXT          a synchronous Speak to the default output; prints the capture file's size on return
//   no-device           a Speak with no sound device fails with the error a program can see
//   notify              each SetNotify* form, WaitForNotifyEvent and SpeakCompleteEvent
//   calls               Skip, SpeakStream, SetRate, SetOutput and null or bogus arguments
//   events              the voice's events through its connection point, as an automation client gets them
//   priority            an alert voice holding the device: SetSyncSpeakTimeout, a normal voice waiting
//   apartment           the multithreaded apartment made at SetOutput, not with the voice; the voices
//                       category's default before SetId
#include <initguid.h>
#include <windows.h>
#include <sapi.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const GUID WaveFormatExId = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};
const GUID TextFormatId = {0x7CEEF9F9, 0x3D13, 0x11D2, {0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const wchar_t VoicesId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";
const wchar_t AudioOutId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\AudioOutput";
const DWORD Deadline = 60000;
const ULONGLONG EndOfStream = (1ull << SPEI_END_INPUT_STREAM) | (1ull << SPEI_RESERVED1) | (1ull << SPEI_RESERVED2);
const wchar_t Sentences[] =
    L"This is the first sentence of the text. This is the second one, a little longer than the first. "
    L"Here is the third sentence. And a fourth sentence follows it. The fifth sentence. And the sixth, the last.";

int failures = 0;

void Check(bool holds, const char* what, HRESULT result = S_OK) {
    std::printf("%s: %s (0x%08lX)\n", holds ? "ok" : "FAIL", what, static_cast<unsigned long>(result));
    if (!holds) ++failures;
}

template <typename T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

HRESULT CreateVoice(Com<ISpVoice>& voice) {
    return CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, voice.Out());
}

HRESULT OpenCategory(const wchar_t* id, Com<ISpObjectTokenCategory>& category) {
    HRESULT result = CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                      category.Out());
    return SUCCEEDED(result) ? category->SetId(id, FALSE) : result;
}

std::wstring Attribute(ISpObjectToken* token, const wchar_t* name) {
    Com<ISpDataKey> attributes;
    wchar_t* value = nullptr;
    if (FAILED(token->OpenKey(L"Attributes", &attributes.p)) || FAILED(attributes->GetStringValue(name, &value))) return L"";
    std::wstring text = value;
    CoTaskMemFree(value);
    return text;
}

std::wstring TokenId(ISpObjectToken* token) {
    wchar_t* id = nullptr;
    if (FAILED(token->GetId(&id))) return L"";
    std::wstring text = id;
    CoTaskMemFree(id);
    return text;
}

bool ListsLanguage(const std::wstring& languages, unsigned long wanted) {
    for (size_t start = 0; start <= languages.size();) {
        size_t end = languages.find(L';', start);
        if (end == std::wstring::npos) end = languages.size();
        if (std::wcstoul(languages.substr(start, end - start).c_str(), nullptr, 16) == wanted) return true;
        start = end + 1;
    }
    return false;
}

std::vector<ISpObjectToken*> Tokens(ISpObjectTokenCategory* category, const wchar_t* required, const wchar_t* optional) {
    std::vector<ISpObjectToken*> tokens;
    Com<IEnumSpObjectTokens> list;
    if (FAILED(category->EnumTokens(required, optional, &list.p))) return tokens;
    ISpObjectToken* token = nullptr;
    while (list->Next(1, &token, nullptr) == S_OK) tokens.push_back(token);
    return tokens;
}

void Release(std::vector<ISpObjectToken*>& tokens) {
    for (ISpObjectToken* token : tokens) token->Release();
    tokens.clear();
}

int CategoryAudio() {
    Com<ISpObjectTokenCategory> category;
    HRESULT result = OpenCategory(AudioOutId, category);
    Check(SUCCEEDED(result), "SetId of the audio output category", result);
    if (FAILED(result)) return 1;
    wchar_t* id = nullptr;
    result = category->GetDefaultTokenId(&id);
    std::printf("default audio output: 0x%08lX %ls\n", static_cast<unsigned long>(result), id ? id : L"(none)");
    CoTaskMemFree(id);
    return 0;
}

struct Selection {
    const wchar_t* required;
    const wchar_t* optional;
    bool (*fits)(ISpObjectToken*);  // every token listed (or, with an optional string, the first) fits
    bool some;                      // at least one is listed
};

int Voices() {
    Com<ISpObjectTokenCategory> category;
    HRESULT result = OpenCategory(VoicesId, category);
    Check(SUCCEEDED(result), "SetId of the voices category", result);
    if (FAILED(result)) return 1;
    std::vector<ISpObjectToken*> all = Tokens(category.p, nullptr, nullptr);
    const size_t count = all.size();
    std::printf("%u voices\n", static_cast<unsigned>(count));
    Check(count > 1, "the voices are listed");
    Release(all);
    const Selection selections[] = {
        {L"Language=409", nullptr, [](ISpObjectToken* t) { return ListsLanguage(Attribute(t, L"Language"), 0x409); }, true},
        {L"Language=409;Gender=Female", nullptr,
         [](ISpObjectToken* t) {
             return ListsLanguage(Attribute(t, L"Language"), 0x409) && Attribute(t, L"Gender") == L"Female";
         },
         true},
        {L"Language=40C;407", nullptr,
         [](ISpObjectToken* t) {
             const std::wstring languages = Attribute(t, L"Language");
             return ListsLanguage(languages, 0x40C) || ListsLanguage(languages, 0x407);
         },
         true},
        {L"Vendor=TxtTone;Age=Adult", nullptr, [](ISpObjectToken* t) { return Attribute(t, L"Vendor") == L"TxtTone"; }, true},
        {L"Name=No such voice", nullptr, nullptr, false},
        {L"Gender=Female", L"Language=40C", [](ISpObjectToken* t) { return ListsLanguage(Attribute(t, L"Language"), 0x40C); }, true},
    };
    for (const Selection& selection : selections) {
        std::vector<ISpObjectToken*> tokens = Tokens(category.p, selection.required, selection.optional);
        bool fit = tokens.empty() != selection.some && tokens.size() <= count;
        for (size_t i = 0; i < tokens.size() && selection.fits; ++i) {
            if (!selection.optional || i == 0) fit = fit && selection.fits(tokens[i]);
        }
        std::printf("%ls | %ls: %u voices\n", selection.required, selection.optional ? selection.optional : L"",
                    static_cast<unsigned>(tokens.size()));
        Check(fit, "the voices listed fit the attributes");
        Release(tokens);
    }
    return 0;
}

int Reopen() {
    Com<ISpObjectTokenCategory> category;
    HRESULT result = OpenCategory(VoicesId, category);
    std::vector<ISpObjectToken*> tokens = Tokens(category.p, L"Language=407", nullptr);
    Check(!tokens.empty(), "a German voice is listed", result);
    if (tokens.empty()) return 1;
    const std::wstring id = TokenId(tokens[0]);
    Release(tokens);
    Com<ISpObjectToken> token;
    result = CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken, token.Out());
    if (SUCCEEDED(result)) result = token->SetId(nullptr, id.c_str(), FALSE);
    std::printf("reopened %ls\n", id.c_str());
    Check(SUCCEEDED(result), "the saved id opens with Wine's token class", result);
    if (FAILED(result)) return 1;
    Check(ListsLanguage(Attribute(token.p, L"Language"), 0x407), "the reopened token has its attributes");
    Com<ISpVoice> voice;
    result = CreateVoice(voice);
    if (SUCCEEDED(result)) result = voice->SetVoice(token.p);
    Check(SUCCEEDED(result), "SetVoice with the reopened token", result);
    Com<ISpObjectToken> chosen;
    if (SUCCEEDED(result)) result = voice->GetVoice(&chosen.p);
    Check(SUCCEEDED(result) && TokenId(chosen.p) == id, "GetVoice gives the same voice back", result);
    return 0;
}

long FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) ? static_cast<long>(data.nFileSizeLow) : -1;
}

int SpeakToDefaultOutput(const wchar_t* text, const char* capture) {
    Com<ISpVoice> voice;
    HRESULT result = CreateVoice(voice);
    Check(SUCCEEDED(result), "the voice is created", result);
    if (FAILED(result)) return 1;
    const DWORD start = GetTickCount();
    result = voice->Speak(text, SPF_DEFAULT, nullptr);
    std::printf("spoken in %lu ms\ncaptured on return: %ld\n", GetTickCount() - start, FileSize(capture));
    Check(result == S_OK, "Speak to the default output", result);
    return 0;
}

int NoDevice() {
    Com<ISpVoice> voice;
    HRESULT result = CreateVoice(voice);
    if (SUCCEEDED(result)) result = voice->Speak(L"Nobody hears this.", SPF_DEFAULT, nullptr);
    Check(result == static_cast<HRESULT>(0x80045009), "without a sound device Speak fails with SPERR_NO_DRIVER", result);
    return 0;
}

HANDLE CallbackEvent = nullptr;
DWORD CallbackThread = 0;
void __stdcall OnNotify(WPARAM wParam, LPARAM) {
    CallbackThread = GetCurrentThreadId();
    if (wParam == 7) SetEvent(CallbackEvent);
}

// Dispatches this thread's messages until the event is set.
bool PumpUntil(HANDLE event) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < Deadline) {
        if (MsgWaitForMultipleObjects(1, &event, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return false;
}

bool MessageArrives(HWND window, UINT message) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < Deadline) {
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            if (msg.message == message && msg.wParam == 7) return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return false;
}

void Drain(ISpVoice* voice) {
    SPEVENT event;
    ULONG fetched = 0;
    while (voice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1) {
        if (event.elParamType == SPET_LPARAM_IS_OBJECT && event.lParam) reinterpret_cast<IUnknown*>(event.lParam)->Release();
        else if (event.elParamType == SPET_LPARAM_IS_POINTER || event.elParamType == SPET_LPARAM_IS_STRING) CoTaskMemFree(reinterpret_cast<void*>(event.lParam));
    }
}

int Notify() {
    Com<ISpVoice> voice;
    HRESULT result = CreateVoice(voice);
    if (SUCCEEDED(result)) result = voice->SetInterest(EndOfStream, EndOfStream);
    Check(SUCCEEDED(result), "voice and interest", result);
    if (FAILED(result)) return 1;
    Check(voice->WaitForNotifyEvent(0) == static_cast<HRESULT>(0x80045001), "WaitForNotifyEvent before SetNotifyWin32Event");

    result = voice->SetNotifyWin32Event();
    Check(result == S_OK && voice->GetNotifyEventHandle() != nullptr, "SetNotifyWin32Event", result);
    voice->Speak(L"Event.", SPF_ASYNC, nullptr);
    Check(voice->WaitForNotifyEvent(Deadline) == S_OK, "WaitForNotifyEvent is woken");
    Check(WaitForSingleObject(voice->SpeakCompleteEvent(), Deadline) == WAIT_OBJECT_0, "SpeakCompleteEvent is set");
    Drain(voice.p);

    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    result = voice->SetNotifyWindowMessage(window, WM_APP + 1, 7, 0);
    Check(result == S_OK, "SetNotifyWindowMessage", result);
    voice->Speak(L"Window.", SPF_ASYNC, nullptr);
    Check(MessageArrives(window, WM_APP + 1), "the window message is posted");
    voice->WaitUntilDone(Deadline);
    Drain(voice.p);
    Check(voice->SetNotifyWindowMessage(reinterpret_cast<HWND>(0x1234), WM_APP, 0, 0) == E_INVALIDARG,
          "SetNotifyWindowMessage with a bogus window");

    CallbackEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    result = voice->SetNotifyCallbackFunction(OnNotify, 7, 0);
    Check(result == S_OK, "SetNotifyCallbackFunction", result);
    voice->Speak(L"Callback.", SPF_ASYNC, nullptr);
    Check(PumpUntil(CallbackEvent) && CallbackThread == GetCurrentThreadId(),
          "the callback is called on the thread that set it, from its message loop");
    voice->WaitUntilDone(Deadline);
    Drain(voice.p);
    Check(voice->SetNotifyCallbackFunction(nullptr, 0, 0) == E_INVALIDARG, "SetNotifyCallbackFunction(NULL)");
    voice->SetNotifySink(nullptr);
    DestroyWindow(window);
    return 0;
}

// A wave-format stream over memory, as a program hands SpeakStream recorded sound.
class WaveMemoryStream : public ISpStreamFormat {
public:
    WaveMemoryStream(const std::vector<short>& samples, DWORD rate, const GUID& formatId = WaveFormatExId)
        : formatId_(formatId) {
        CreateStreamOnHGlobal(nullptr, TRUE, &inner_);
        inner_->Write(samples.data(), static_cast<ULONG>(samples.size() * 2), nullptr);
        LARGE_INTEGER zero = {};
        inner_->Seek(zero, STREAM_SEEK_SET, nullptr);
        format_ = {WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16, 0};
    }
    ~WaveMemoryStream() { inner_->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IStream || iid == IID_ISequentialStream || iid == IID_ISpStreamFormat) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG bytes, ULONG* read) override { return inner_->Read(data, bytes, read); }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) override { return inner_->Write(data, bytes, written); }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override { return inner_->Seek(move, origin, position); }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFormat(GUID* formatId, WAVEFORMATEX** format) override {
        *formatId = formatId_;
        *format = nullptr;
        if (formatId_ != WaveFormatExId) return S_OK;
        *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof format_));
        **format = format_;
        return S_OK;
    }

private:
    GUID formatId_;
    IStream* inner_ = nullptr;
    WAVEFORMATEX format_;
};

int OutputTokenAndTextStream(ISpVoice* voice);

int Calls() {
    Com<ISpVoice> voice;
    HRESULT result = CreateVoice(voice);
    Check(SUCCEEDED(result), "the voice is created", result);
    if (FAILED(result)) return 1;
    ULONG skipped = 0;
    result = voice->Speak(Sentences, SPF_ASYNC, nullptr);
    if (SUCCEEDED(result)) result = voice->Skip(L"Sentence", 3, &skipped);
    std::printf("skipped %lu sentences\n", skipped);
    Check(result == S_OK && skipped == 3, "Skip of three sentences while speaking", result);
    Check(voice->Skip(L"Word", 1, &skipped) == E_INVALIDARG && voice->Skip(nullptr, 1, &skipped) == E_INVALIDARG &&
              voice->Skip(L"Sentence", 1, nullptr) == E_POINTER,
          "Skip of another item, or with null arguments");
    Check(voice->WaitUntilDone(Deadline) == S_OK, "the skipped speech ends");

    std::vector<short> tone(8000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = (i / 20) % 2 ? 8000 : -8000;
    WaveMemoryStream wave(tone, 16000);
    ULONG number = 0;
    result = voice->SpeakStream(&wave, SPF_DEFAULT, &number);
    Check(result == S_OK && number > 0, "SpeakStream of a wave stream", result);
    IStream* plain = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &plain);
    Check(voice->SpeakStream(plain, SPF_DEFAULT, &number) == E_INVALIDARG && voice->SpeakStream(nullptr, 0, &number) == E_INVALIDARG,
          "SpeakStream of a stream without a format, or of none");
    Check(voice->SetOutput(plain, FALSE) == E_INVALIDARG, "SetOutput of an object that is no audio stream");
    plain->Release();

    LONG rate = 0;
    Check(voice->SetRate(25) == S_OK && voice->GetRate(&rate) == S_OK && rate == 25, "SetRate keeps 25");
    Check(voice->Speak(L"Fast.", SPF_DEFAULT, nullptr) == S_OK, "speaking at rate 25 (spoken at 10)");
    Check(voice->Speak(nullptr, SPF_DEFAULT, nullptr) == E_INVALIDARG, "Speak(NULL) without a purge");
    Check(voice->GetVoice(nullptr) == E_POINTER && voice->GetRate(nullptr) == E_POINTER &&
              voice->GetEvents(1, nullptr, nullptr) == E_POINTER,
          "null out pointers");
    Check(voice->GetStatus(nullptr, nullptr) == S_OK, "GetStatus with nothing to fill");
    Check(voice->SetVolume(101) == E_INVALIDARG, "SetVolume(101)");
    return OutputTokenAndTextStream(voice.p);
}

// The sound device's token, none for a stream; a text stream is spoken; null or bogus arguments.
int OutputTokenAndTextStream(ISpVoice* voice) {
    Com<ISpObjectToken> token;
    HRESULT result = voice->SetOutput(nullptr, TRUE);
    if (SUCCEEDED(result)) result = voice->GetOutputObjectToken(&token.p);
    std::printf("output token: %ls\n", token.p ? TokenId(token.p).c_str() : L"(none)");
    Check(result == S_OK && TokenId(token.p).find(L"\\AudioOutput\\") != std::wstring::npos,
          "GetOutputObjectToken of the sound device", result);
    const wchar_t text[] = L"Three spoken words";
    std::vector<short> units(text, text + wcslen(text));
    WaveMemoryStream textStream(units, 0, TextFormatId);
    ULONG number = 0;
    const ULONGLONG words = (1ull << SPEI_WORD_BOUNDARY) | (1ull << SPEI_RESERVED1) | (1ull << SPEI_RESERVED2);
    result = voice->SetInterest(words, words);
    if (SUCCEEDED(result)) result = voice->SpeakStream(&textStream, SPF_DEFAULT, &number);
    int spoken = 0;
    SPEVENT event;
    ULONG fetched = 0;
    while (voice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1) spoken += event.eEventId == SPEI_WORD_BOUNDARY;
    std::printf("text stream: %d words\n", spoken);
    Check(result == S_OK && number > 0 && spoken == 3, "SpeakStream of a text stream speaks its text", result);
    Com<ISpObjectToken> none;
    WaveMemoryStream waveOutput({}, 22050);
    voice->SetOutput(&waveOutput, TRUE);
    Check(voice->GetOutputObjectToken(&none.p) == S_FALSE && !none.p && voice->GetOutputObjectToken(nullptr) == E_POINTER,
          "no token for a stream; GetOutputObjectToken(NULL)");
    Check(voice->GetPriority(nullptr) == E_POINTER && voice->GetAlertBoundary(nullptr) == E_POINTER &&
              voice->GetSyncSpeakTimeout(nullptr) == E_POINTER && voice->SetPriority(static_cast<SPVPRIORITY>(7)) == E_INVALIDARG &&
              voice->SetAlertBoundary(static_cast<SPEVENTENUM>(99)) == E_INVALIDARG,
          "null or bogus arguments to the priority calls");
    return 0;
}

// A wave stream whose first Write waits until the gate opens.
class GatedStream : public WaveMemoryStream {
public:
    GatedStream() : WaveMemoryStream({}, 22050) {}
    HANDLE firstWrite = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) override {
        SetEvent(firstWrite);
        WaitForSingleObject(gate, INFINITE);
        return WaveMemoryStream::Write(data, bytes, written);
    }
};

// An alert voice holds the device: a normal voice's synchronous Speak fails after its timeout, and a
// normal voice already speaking stops at its next word until the alert voice is done.
int Priority() {
    Com<ISpVoice> alert, normal;
    HRESULT result = CreateVoice(alert);
    if (SUCCEEDED(result)) result = CreateVoice(normal);
    if (SUCCEEDED(result)) result = alert->SetPriority(SPVPRI_ALERT);
    std::wstring longText;
    for (int i = 0; i < 40; ++i) longText += L"The alert voice goes on speaking for a long while. ";
    if (SUCCEEDED(result)) result = alert->Speak(longText.c_str(), SPF_ASYNC, nullptr);
    SPVOICESTATUS status = {};
    const DWORD start = GetTickCount();
    while (SUCCEEDED(result) && alert->GetStatus(&status, nullptr) == S_OK && !(status.dwRunningState & SPRS_IS_SPEAKING) &&
           GetTickCount() - start < Deadline) {
        Sleep(10);
    }
    Check(SUCCEEDED(result) && (status.dwRunningState & SPRS_IS_SPEAKING), "the alert voice speaks", result);
    if (FAILED(result)) return 1;
    GatedStream sink;
    ULONG timeout = 0;
    result = normal->SetOutput(&sink, TRUE);
    if (SUCCEEDED(result)) result = normal->SetSyncSpeakTimeout(200);
    if (SUCCEEDED(result)) result = normal->Speak(L"Not now.", SPF_DEFAULT, nullptr);
    Check(result == static_cast<HRESULT>(0x80045006) && normal->GetSyncSpeakTimeout(&timeout) == S_OK && timeout == 200,
          "a synchronous Speak that cannot start in time fails with SPERR_DEVICE_BUSY", result);
    // The normal voice starts while the alert voice is idle, then the alert voice comes.
    alert->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    alert->WaitUntilDone(Deadline);
    normal->Speak(L"One. Two. Three. Four. Five. Six. Seven. Eight. Nine. Ten.", SPF_ASYNC, nullptr);
    Check(WaitForSingleObject(sink.firstWrite, Deadline) == WAIT_OBJECT_0, "the normal voice writes");
    alert->Speak(longText.c_str(), SPF_ASYNC, nullptr);
    SetEvent(sink.gate);
    Check(normal->WaitUntilDone(1000) == S_FALSE && normal->GetStatus(&status, nullptr) == S_OK &&
              (status.dwRunningState & SPRS_IS_SPEAKING),
          "a normal voice that was speaking waits while the alert voice speaks");
    alert->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    Check(normal->WaitUntilDone(Deadline) == S_OK, "and goes on once it is done");
    return 0;
}

// An automation client's handler of the voice's events: counts them by member, on the thread they arrive.
class EventCounter : public IDispatch {
public:
    int starts = 0, words = 0, ends = 0, wordsElsewhere = 0;
    LONG lastWordEnd = 0;  // CharacterPosition + Length of the last word
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (member == DISPID_SVEStreamStart) ++starts;
        if (member == DISPID_SVEWord && parameters->cArgs == 4) {  // arguments last first
            ++words;
            if (GetCurrentThreadId() != MainThread) ++wordsElsewhere;
            lastWordEnd = parameters->rgvarg[1].lVal + parameters->rgvarg[0].lVal;
        }
        if (member == DISPID_SVEStreamEnd) {
            ++ends;
            SetEvent(ended);
        }
        return S_OK;
    }
    DWORD MainThread = GetCurrentThreadId();
};

int Events() {
    Com<ISpVoice> voice;
    Com<IConnectionPointContainer> container;
    Com<IConnectionPoint> point;
    HRESULT result = CreateVoice(voice);
    if (SUCCEEDED(result)) result = voice->QueryInterface(IID_IConnectionPointContainer, container.Out());
    if (SUCCEEDED(result)) result = container->FindConnectionPoint(DIID__ISpeechVoiceEvents, &point.p);
    EventCounter counter;
    DWORD cookie = 0;
    if (SUCCEEDED(result)) result = point->Advise(&counter, &cookie);
    Check(SUCCEEDED(result), "a client connects to the voice's events", result);
    if (FAILED(result)) return 1;
    const wchar_t text[] = L"One two three four.";
    result = voice->Speak(text, SPF_ASYNC, nullptr);
    Check(SUCCEEDED(result) && PumpUntil(counter.ended), "EndStream arrives", result);
    std::printf("events: %d starts, %d words (%d on another thread), %d ends\n", counter.starts, counter.words,
                counter.wordsElsewhere, counter.ends);
    Check(counter.starts == 1 && counter.words == 4 && counter.wordsElsewhere == 0 && counter.ends == 1 &&
              counter.lastWordEnd == static_cast<LONG>(wcslen(text)),
          "StartStream, a Word for each word with its place, EndStream, all on the connecting thread");
    Com<IProvideClassInfo2> classInfo;
    Com<IConnectionPoint> samePoint;
    GUID source = {};
    result = voice->QueryInterface(IID_IProvideClassInfo2, classInfo.Out());
    if (SUCCEEDED(result)) result = classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
    if (SUCCEEDED(result)) result = point->QueryInterface(IID_IConnectionPoint, samePoint.Out());
    Check(SUCCEEDED(result) && source == DIID__ISpeechVoiceEvents && samePoint.p == point.p,
          "the class information names the event interface; the point answers for itself", result);
    Check(point->Unadvise(cookie) == S_OK && point->Unadvise(cookie) == CONNECT_E_NOCONNECTION &&
              point->Advise(nullptr, &cookie) == E_POINTER && container->FindConnectionPoint(IID_IDispatch, nullptr) == E_POINTER,
          "Unadvise once; null arguments");
    return 0;
}

DWORD WINAPI ApartmentOfNewThread(void* type) {
    APTTYPEQUALIFIER qualifier;
    return static_cast<DWORD>(CoGetApartmentType(static_cast<APTTYPE*>(type), &qualifier));
}

// What a thread that never initialised COM finds: CO_E_NOTINITIALIZED while no apartment is
// multithreaded, else the implicit multithreaded apartment.
HRESULT ApartmentSeenElsewhere(APTTYPE& type) {
    DWORD result = 0;
    HANDLE thread = CreateThread(nullptr, 0, ApartmentOfNewThread, &type, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return static_cast<HRESULT>(result);
}

int Apartment() {
    APTTYPE type = APTTYPE_CURRENT;
    Com<ISpVoice> voice;
    HRESULT result = CreateVoice(voice);
    Check(SUCCEEDED(result) && ApartmentSeenElsewhere(type) == CO_E_NOTINITIALIZED,
          "creating a voice makes no multithreaded apartment", result);
    result = voice->SetOutput(nullptr, TRUE);
    Check(SUCCEEDED(result) && ApartmentSeenElsewhere(type) == S_OK && type == APTTYPE_MTA,
          "SetOutput makes it", result);
    Com<ISpObjectTokenCategory> category;
    wchar_t* untouched = const_cast<wchar_t*>(L"untouched");
    wchar_t* id = untouched;
    result = CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory, category.Out());
    if (SUCCEEDED(result)) result = category->GetDefaultTokenId(&id);
    Check(result == static_cast<HRESULT>(0x80045001) && id == untouched &&
              category->GetDefaultTokenId(nullptr) == static_cast<HRESULT>(0x80045001),
          "GetDefaultTokenId before SetId: SPERR_UNINITIALIZED, the pointer untouched", result);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::string step = argv[1];
    int status = 2;
    if (step == "category-audio") status = CategoryAudio();
    else if (step == "voices") status = Voices();
    else if (step == "reopen") status = Reopen();
    else if (step == "speak" && argc >= 4) {
        std::vector<wchar_t> text(strlen(argv[2]) + 1);
        MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, text.data(), static_cast<int>(text.size()));
        status = SpeakToDefaultOutput(text.data(), argv[3]);
    }
    else if (step == "no-device") status = NoDevice();
    else if (step == "notify") status = Notify();
    else if (step == "calls") status = Calls();
    else if (step == "apartment") status = Apartment();
    else if (step == "events") status = Events();
    else if (step == "priority") status = Priority();
    CoUninitialize();
    std::fflush(stdout);
    return status != 0 ? status : failures != 0 ? 1 : 0;
}
