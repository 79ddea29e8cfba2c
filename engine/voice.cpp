#include "engine/voice.h"

#include "engine/com_object.h"
#include "engine/engine_state.h"
#include "engine/events.h"
#include "engine/file_bytes.h"
#include "engine/notify_translator.h"
#include "engine/recorded_sound.h"
#include "engine/sapi_codes.h"
#include "engine/tokens.h"
#include "engine/voice_automation.h"
#include "engine/voice_choice.h"
#include "engine/voice_core.h"
#include "engine/voice_events.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <cwchar>

namespace engine {
namespace {

// The core of the voice whose SetOutput last succeeded; weak, so it never keeps a voice alive.
std::mutex LastOutputLock;
std::weak_ptr<VoiceCore> LastOutputCore;

void NoteOutputCore(const std::shared_ptr<VoiceCore>& core) {
    std::lock_guard<std::mutex> guard(LastOutputLock);
    LastOutputCore = core;
}

const ULONGLONG FlagCheckBits = (1ull << SPEI_RESERVED1) | (1ull << SPEI_RESERVED2);

bool InterestMaskValid(ULONGLONG mask) { return mask == 0 || (mask & FlagCheckBits) == FlagCheckBits; }

std::wstring HexInterest(ULONGLONG mask) {
    wchar_t text[24];
    std::swprintf(text, 24, L"0x%llX", mask);
    return text;
}

std::wstring DescribeFormat(const PcmFormat& format) {
    return L"PCM " + std::to_wstring(format.samplesPerSec) + L" Hz " + std::to_wstring(format.bitsPerSample) +
           L" bit " + std::to_wstring(format.channels) + L" ch";
}

// SAPI's token class (Wine's serves it), for tokens other than the engine's own voices.
const CLSID SapiTokenClassId = {0xEF411752, 0x3736, 0x4CB4, {0x9C, 0x8C, 0x8E, 0xF4, 0xCC, 0xB5, 0x8E, 0xFE}};

// SAPI's text stream format.
const GUID TextFormatId = {0x7CEEF9F9, 0x3D13, 0x11D2, {0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

// A text stream holds UTF-16 text, as SAPI writes one; bytes that cannot be that (an odd count, no zero
// byte) are read as a file would be.
std::wstring DecodeStreamText(const std::vector<unsigned char>& bytes) {
    const bool wide = bytes.size() % 2 == 0 && std::find(bytes.begin(), bytes.end(), 0) != bytes.end();
    if (!wide) return DecodeTextBytes(bytes);
    size_t start = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE ? 2 : 0;
    std::wstring text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::wstring FirstInstalledVoiceId() {
    std::vector<VoiceInfo> voices = InstalledVoices();
    return voices.empty() ? std::wstring() : voices.front().id;
}

class Voice : public CountedObject<ISpVoice> {
public:
    Voice() : CountedObject(ObjectKind::Voice), core_(StartVoiceCore(FirstInstalledVoiceId())) {
        NoteRate(0);
        NoteVoiceId(core_->voiceId);
    }

    ~Voice() override { StopVoiceCore(core_); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object && (IsEqualIID(iid, __uuidof(ISpeechVoice)) || IsEqualIID(iid, IID_IDispatch))) {
            *object = automation_.Get();
            AddRef();
            return S_OK;
        }
        if (object && QueryVoiceConnections(connections_.Get(), iid, object) == S_OK) return S_OK;
        return QueryAmong(iid, object,
                          {IID_IUnknown, __uuidof(ISpNotifySource), __uuidof(ISpEventSource), __uuidof(ISpVoice)});
    }

    // ---- Notifications and events ----

    HRESULT STDMETHODCALLTYPE SetNotifySink(ISpNotifySink* sink) override {
        const std::wstring call = std::wstring(L"SetNotifySink(") + (sink ? L"sink" : L"NULL") + L")";
        if (auto injected = InjectedResult(Op::SetNotifySink)) return Logged(call, *injected);
        ScopedComPtr<ISpNotifySink> previous;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            *previous.Receive() = core_->sink.Detach();
            core_->sink.Assign(sink);
        }
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE SetInterest(ULONGLONG eventInterest, ULONGLONG queuedInterest) override {
        const std::wstring call = L"SetInterest(" + HexInterest(eventInterest) + L", " + HexInterest(queuedInterest) + L")";
        if (auto injected = InjectedResult(Op::SetInterest)) return Logged(call, *injected);
        if (!InterestMaskValid(eventInterest) || !InterestMaskValid(queuedInterest) ||
            (queuedInterest & ~eventInterest) != 0) {
            return Logged(call, E_INVALIDARG);
        }
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->eventInterest = eventInterest;
        core_->queuedInterest = queuedInterest;
        return Logged(call, S_OK);
    }

    // Not logged: the plug-in's event thread calls it all the time.
    HRESULT STDMETHODCALLTYPE GetEvents(ULONG count, SPEVENT* events, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (auto injected = InjectedResult(Op::GetEvents)) return *injected;
        if (!events || (count > 1 && !fetched)) return E_POINTER;
        ULONG taken = TakeEvents(*core_, count, events);
        for (ULONG i = 0; i < taken; ++i) {
            if (events[i].elParamType == SPET_LPARAM_IS_POINTER || events[i].elParamType == SPET_LPARAM_IS_STRING) {
                NotePayloadHandedOut(reinterpret_cast<void*>(events[i].lParam));
            }
        }
        if (fetched) *fetched = taken;
        return taken == count ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE GetInfo(SPEVENTSOURCEINFO* info) override {
        if (!info) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        info->ullEventInterest = core_->eventInterest;
        info->ullQueuedInterest = core_->queuedInterest;
        info->ulCount = static_cast<ULONG>(core_->events.size());
        return S_OK;
    }

    // ---- Output, voice, rate ----

    HRESULT STDMETHODCALLTYPE SetOutput(IUnknown* output, WINBOOL allowFormatChanges) override {
        if (auto injected = InjectedResult(Op::SetOutput)) return Logged(L"SetOutput(...)", *injected);
        EnsureEngineThread(core_);
        if (!output) {  // the default output: the sound device
            ScopedComPtr<ISpObjectToken> previousToken;
            std::lock_guard<std::mutex> guard(core_->lock);
            core_->output.Reset();
            core_->outputFormat = PcmFormat();
            *previousToken.Receive() = outputToken_.Detach();
            return Logged(L"SetOutput(NULL)", S_OK);
        }
        ScopedComPtr<ISpObjectToken> token;
        if (SUCCEEDED(output->QueryInterface(__uuidof(ISpObjectToken), token.ReceiveVoid()))) return SetOutputToken(token.Get());
        ScopedComPtr<ISpStreamFormat> stream;
        HRESULT result = output->QueryInterface(__uuidof(ISpStreamFormat), stream.ReceiveVoid());
        if (FAILED(result)) return Logged(L"SetOutput(no stream)", E_INVALIDARG);  // as SAPI answers
        GUID formatId = GUID_NULL;
        WAVEFORMATEX* format = nullptr;
        result = stream->GetFormat(&formatId, &format);
        ScopedTaskMem<WAVEFORMATEX> formatHolder(format);
        if (FAILED(result)) return Logged(L"SetOutput(no format)", result);
        PcmFormat accepted;
        result = AcceptOutputFormat(formatId, format, accepted);
        if (FAILED(result)) return Logged(L"SetOutput(unsupported format)", result);
        ScopedComPtr<ISpObjectToken> previousToken;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            core_->output.Assign(stream.Get());
            core_->outputFormat = accepted;
            *previousToken.Receive() = outputToken_.Detach();
        }
        NoteOutputCore(core_);
        return Logged(L"SetOutput(" + DescribeFormat(accepted) + L")", S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetOutputStream(ISpStreamFormat** stream) override {
        if (!stream) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *stream = core_->output.Get();
        if (*stream) (*stream)->AddRef();
        return *stream ? S_OK : SPERR_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE SetVoice(ISpObjectToken* token) override {
        if (auto injected = InjectedResult(Op::SetVoice)) return Logged(L"SetVoice(...)", *injected);
        std::wstring id;
        if (!token) {
            id = FirstInstalledVoiceId();
        } else if (!OwnTokenId(token, id)) {
            ScopedTaskMem<wchar_t> foreignId;
            HRESULT result = token->GetId(foreignId.Receive());
            if (FAILED(result)) return Logged(L"SetVoice(?)", result);
            id = foreignId.Get() ? foreignId.Get() : L"";
        }
        ScopedComPtr<ISpObjectToken> previous;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            *previous.Receive() = core_->voiceToken.Detach();
            core_->voiceToken.Assign(token);
            core_->voiceId = id;
        }
        NoteVoiceId(id);
        return Logged(L"SetVoice(" + (token ? id : std::wstring(L"NULL")) + L")", S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetVoice(ISpObjectToken** token) override {
        if (!token) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *token = core_->voiceToken.Get();
        if (*token) (*token)->AddRef();
        else *token = NewTokenForId(core_->voiceId);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetRate(LONG rate) override {
        const std::wstring call = L"SetRate(" + std::to_wstring(rate) + L")";
        if (auto injected = InjectedResult(Op::SetRate)) return Logged(call, *injected);
        // Any value is kept, as SAPI keeps it; speech clamps it to -10..10.
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            core_->rate = rate;
        }
        NoteRate(rate);
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetRate(LONG* rate) override {
        if (!rate) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *rate = core_->rate;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetVolume(USHORT volume) override {
        if (volume > 100) return E_INVALIDARG;
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->volume = volume;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetVolume(USHORT* volume) override {
        if (!volume) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *volume = core_->volume;
        return S_OK;
    }

    // ---- Speaking ----

    HRESULT STDMETHODCALLTYPE Speak(LPCWSTR text, DWORD flags, ULONG* streamNumber) override {
        const std::wstring call = L"Speak(" + NullableText(text) + L", " + std::to_wstring(flags) + L")";
        if (streamNumber) *streamNumber = 0;
        if (auto injected = InjectedResult(text ? Op::Speak : Op::SpeakPurge)) return Logged(call, *injected);
        if ((flags & SPF_IS_XML) && (flags & SPF_IS_NOT_XML)) return Logged(call, E_INVALIDARG);
        if (!text && !(flags & SPF_PURGEBEFORESPEAK)) return Logged(call, E_INVALIDARG);
        EnsureEngineThread(core_);
        auto stream = std::make_unique<SpeechStream>();
        if (text) {
            const std::wstring voiceId = VoiceId();
            HRESULT result = PrepareSpeechOrRunOut(text, flags, voiceId, stream->speech);
            if (SUCCEEDED(result)) result = CheckVoicesCanSpeak(stream->speech, voiceId);
            if (SUCCEEDED(result)) result = HostRegisteredVoice(voiceId, *stream);
            if (FAILED(result)) return Logged(call, result);
        }
        ULONG number = 0;
        HRESULT result = QueueSpeech(std::move(stream), text != nullptr, flags, &number);
        if (streamNumber) *streamNumber = number;
        if (FAILED(result) || !text) return Logged(call, result);
        return Logged(call + L" -> " + std::to_wstring(number), result);
    }

    // Plays the sound of a wave stream, or speaks the text of a text stream (read from where it stands
    // to its end), as SAPI does.
    HRESULT STDMETHODCALLTYPE SpeakStream(IStream* input, DWORD flags, ULONG* streamNumber) override {
        if (streamNumber) *streamNumber = 0;
        if (!input) return Logged(L"SpeakStream(NULL)", E_INVALIDARG);
        std::wstring text;
        HRESULT textResult = ReadStreamText(input, text);
        if (textResult == S_OK) return Speak(text.c_str(), flags & ~SPF_IS_FILENAME, streamNumber);
        if (FAILED(textResult)) return Logged(L"SpeakStream(text)", textResult);
        EnsureEngineThread(core_);
        auto stream = std::make_unique<SpeechStream>();
        auto sound = std::make_shared<RecordedSound>();
        HRESULT result = ReadRecordedSound(input, *sound);
        if (FAILED(result)) return Logged(L"SpeakStream(...)", result);
        stream->recorded = std::move(sound);
        return Logged(L"SpeakStream(...)", QueueSpeech(std::move(stream), true, flags, streamNumber));
    }

    HRESULT STDMETHODCALLTYPE Skip(LPCWSTR itemType, LONG items, ULONG* skipped) override {
        if (!skipped) return E_POINTER;
        *skipped = 0;
        if (!itemType || _wcsicmp(itemType, L"Sentence") != 0) return E_INVALIDARG;
        if (items < 0) return E_NOTIMPL;  // backward: not offered by this voice
        *skipped = SkipSentences(*core_, static_cast<ULONG>(items));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Pause() override {
        if (auto injected = InjectedResult(Op::Pause)) return Logged(L"Pause()", *injected);
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            ++core_->pauseCount;
        }
        PauseDefaultAudio(*core_, true);  // what is already queued on the device stops too
        return Logged(L"Pause()", S_OK);
    }

    HRESULT STDMETHODCALLTYPE Resume() override {
        if (auto injected = InjectedResult(Op::Resume)) return Logged(L"Resume()", *injected);
        bool resumed;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            if (core_->pauseCount > 0) --core_->pauseCount;
            resumed = core_->pauseCount == 0;
        }
        if (resumed) PauseDefaultAudio(*core_, false);
        NudgeEngine(*core_);
        return Logged(L"Resume()", S_OK);
    }

    HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG milliseconds) override {
        const std::wstring call = L"WaitUntilDone(" + std::to_wstring(milliseconds) + L")";
        if (auto injected = InjectedResult(Op::WaitUntilDone)) return Logged(call, *injected);
        return Logged(call, WaitForDone(*core_, milliseconds) ? S_OK : S_FALSE);
    }

    HRESULT STDMETHODCALLTYPE GetStatus(SPVOICESTATUS* status, LPWSTR* lastBookmark) override {
        if (lastBookmark) *lastBookmark = nullptr;
        if (auto injected = InjectedResult(Op::GetStatus)) return Logged(L"GetStatus()", *injected);
        std::wstring bookmark;
        if (status) {
            std::memset(status, 0, sizeof *status);
            std::lock_guard<std::mutex> guard(core_->lock);
            bool idle = core_->queue.empty() && core_->currentStream == 0;
            status->ulCurrentStream = core_->currentStream ? core_->currentStream : core_->lastStreamNumber;
            status->ulLastStreamQueued = core_->lastStreamNumber;
            status->hrLastResult = core_->lastResult;
            status->dwRunningState = idle ? SPRS_DONE : (core_->currentStream ? SPRS_IS_SPEAKING : 0);
            bookmark = core_->lastBookmark;
        }
        if (lastBookmark) {
            size_t bytes = (bookmark.size() + 1) * sizeof(wchar_t);
            *lastBookmark = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
            if (!*lastBookmark) return E_OUTOFMEMORY;
            std::memcpy(*lastBookmark, bookmark.c_str(), bytes);
        }
        return Logged(L"GetStatus()", S_OK);
    }

    // ---- Not used by the plug-in ----

    // The notify source's own forms: a notify translator of the engine's made the voice's sink.
    HRESULT STDMETHODCALLTYPE SetNotifyWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        return SinkToTranslator([&](ISpNotifyTranslator* t) { return t->InitWindowMessage(window, message, wParam, lParam); });
    }
    HRESULT STDMETHODCALLTYPE SetNotifyCallbackFunction(SPNOTIFYCALLBACK* function, WPARAM wParam, LPARAM lParam) override {
        return SinkToTranslator([&](ISpNotifyTranslator* t) { return t->InitCallback(function, wParam, lParam); });
    }
    HRESULT STDMETHODCALLTYPE SetNotifyCallbackInterface(ISpNotifyCallback* callback, WPARAM wParam, LPARAM lParam) override {
        return SinkToTranslator([&](ISpNotifyTranslator* t) { return t->InitSpNotifyCallback(callback, wParam, lParam); });
    }
    HRESULT STDMETHODCALLTYPE SetNotifyWin32Event() override {
        return SinkToTranslator([](ISpNotifyTranslator* t) { return t->InitWin32Event(nullptr, TRUE); });
    }
    HRESULT STDMETHODCALLTYPE WaitForNotifyEvent(DWORD milliseconds) override {
        ScopedComPtr<ISpNotifyTranslator> translator;
        if (!SinkTranslator(translator) || !translator->GetEventHandle()) return SPERR_UNINITIALIZED;
        return translator->Wait(milliseconds);
    }
    HANDLE STDMETHODCALLTYPE GetNotifyEventHandle() override {
        ScopedComPtr<ISpNotifyTranslator> translator;
        return SinkTranslator(translator) ? translator->GetEventHandle() : nullptr;
    }
    // The token the output was chosen by; the sound device's when none was set; S_FALSE for a stream.
    HRESULT STDMETHODCALLTYPE GetOutputObjectToken(ISpObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = nullptr;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            if (outputToken_) {
                *token = outputToken_.Get();
                (*token)->AddRef();
                return S_OK;
            }
            if (core_->output) return S_FALSE;
        }
        return DefaultAudioOutputToken(token);
    }
    HRESULT STDMETHODCALLTYPE SetPriority(SPVPRIORITY priority) override {
        if (priority != SPVPRI_NORMAL && priority != SPVPRI_ALERT && priority != SPVPRI_OVER) return E_INVALIDARG;
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->priority = priority;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(SPVPRIORITY* priority) override {
        if (!priority) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *priority = core_->priority;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetAlertBoundary(SPEVENTENUM boundary) override {
        if (boundary < SPEI_MIN_TTS || boundary > SPEI_MAX_TTS) return E_INVALIDARG;
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->alertBoundary = boundary;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAlertBoundary(SPEVENTENUM* boundary) override {
        if (!boundary) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *boundary = core_->alertBoundary;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSpeakTimeout(ULONG milliseconds) override {
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->syncSpeakTimeout = milliseconds;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSpeakTimeout(ULONG* milliseconds) override {
        if (!milliseconds) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *milliseconds = core_->syncSpeakTimeout;
        return S_OK;
    }
    HANDLE STDMETHODCALLTYPE SpeakCompleteEvent() override { return core_->completeEvent.Get(); }
    HRESULT STDMETHODCALLTYPE IsUISupported(LPCWSTR, void*, ULONG, WINBOOL* supported) override {
        if (supported) *supported = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override { return E_NOTIMPL; }

private:
    // An audio output's token chooses the sound device, which the voice plays on itself; another
    // token's object must be an audio stream.
    HRESULT SetOutputToken(ISpObjectToken* token) {
        TaskWideString id;
        HRESULT result = token->GetId(id.Receive());
        if (FAILED(result)) return Logged(L"SetOutput(token)", result);
        if (!IsAudioOutputTokenId(id.Get() ? id.Get() : L"")) {
            ScopedComPtr<ISpStreamFormat> stream;
            result = token->CreateInstance(nullptr, CLSCTX_ALL, __uuidof(ISpStreamFormat), stream.ReceiveVoid());
            return FAILED(result) ? Logged(L"SetOutput(token)", result) : SetOutput(stream.Get(), TRUE);
        }
        result = SetOutput(nullptr, TRUE);
        std::lock_guard<std::mutex> guard(core_->lock);
        outputToken_.Assign(token);
        return result;
    }

    // Purges first when asked; queues the stream unless there is nothing to speak; a synchronous
    // call waits until it has been heard.
    HRESULT QueueSpeech(std::unique_ptr<SpeechStream> stream, bool speaks, DWORD flags, ULONG* streamNumber) {
        if (flags & SPF_PURGEBEFORESPEAK) {
            HRESULT result = PurgeSpeech(*core_);
            if (FAILED(result)) return result;
        }
        if (!speaks) return S_OK;
        std::shared_ptr<WaveOutput> audio;
        if (!HasOutputStream()) {
            HRESULT result = OpenDefaultAudio(*core_, audio);
            if (FAILED(result)) return result;
        }
        ULONG number = QueueStream(*core_, std::move(stream), std::move(audio));
        NoteStreamNumber(number);
        if (!(flags & SPF_ASYNC)) {
            // It cannot start while alert voices hold the device past the voice's timeout.
            if (!WaitForStartOrWithdraw(*core_, number)) return SPERR_DEVICE_BUSY;
            WaitForDone(*core_, INFINITE);
        }
        if (streamNumber) *streamNumber = number;
        return S_OK;
    }

    static HRESULT ReadRecordedSound(IStream* input, RecordedSound& sound) {
        ScopedComPtr<ISpStreamFormat> stream;
        if (FAILED(input->QueryInterface(__uuidof(ISpStreamFormat), stream.ReceiveVoid()))) return E_INVALIDARG;
        GUID formatId = GUID_NULL;
        WAVEFORMATEX* format = nullptr;
        HRESULT result = stream->GetFormat(&formatId, &format);
        ScopedTaskMem<WAVEFORMATEX> formatHolder(format);
        if (FAILED(result)) return result;
        if (!IsEqualGUID(formatId, WaveFormatExId) || !format) return SPERR_UNSUPPORTED_FORMAT;
        std::vector<unsigned char> bytes;
        result = ReadToEnd(stream.Get(), bytes);
        if (FAILED(result)) return result;
        return DecodePcm(bytes, *format, sound) ? S_OK : SPERR_UNSUPPORTED_FORMAT;
    }

    static HRESULT ReadToEnd(ISequentialStream* stream, std::vector<unsigned char>& bytes) {
        unsigned char chunk[16384];
        for (;;) {
            ULONG read = 0;
            HRESULT result = stream->Read(chunk, sizeof chunk, &read);
            if (FAILED(result)) return result;
            bytes.insert(bytes.end(), chunk, chunk + read);
            if (read == 0 || result == S_FALSE) return S_OK;
        }
    }

    // The text of a stream in SAPI's text format: S_FALSE for a stream of another format or none.
    static HRESULT ReadStreamText(IStream* input, std::wstring& text) {
        ScopedComPtr<ISpStreamFormat> stream;
        if (FAILED(input->QueryInterface(__uuidof(ISpStreamFormat), stream.ReceiveVoid()))) return S_FALSE;
        GUID formatId = GUID_NULL;
        WAVEFORMATEX* format = nullptr;
        HRESULT result = stream->GetFormat(&formatId, &format);
        ScopedTaskMem<WAVEFORMATEX> formatHolder(format);
        if (FAILED(result) || !IsEqualGUID(formatId, TextFormatId)) return S_FALSE;
        std::vector<unsigned char> bytes;
        result = ReadToEnd(stream.Get(), bytes);
        if (FAILED(result)) return result;
        text = DecodeStreamText(bytes);
        return S_OK;
    }

    template <typename Init>
    HRESULT SinkToTranslator(Init init) {
        ScopedComPtr<ISpNotifyTranslator> translator;
        HRESULT result = CreateNotifyTranslator(__uuidof(ISpNotifyTranslator), translator.ReceiveVoid());
        if (SUCCEEDED(result)) result = init(translator.Get());
        if (SUCCEEDED(result)) result = SetNotifySink(translator.Get());
        return result;
    }

    // The voice's sink when it is a notify translator.
    bool SinkTranslator(ScopedComPtr<ISpNotifyTranslator>& translator) {
        ScopedComPtr<ISpNotifySink> sink;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            sink.Assign(core_->sink.Get());
        }
        return sink && SUCCEEDED(sink->QueryInterface(__uuidof(ISpNotifyTranslator), translator.ReceiveVoid()));
    }

    bool HasOutputStream() {
        std::lock_guard<std::mutex> guard(core_->lock);
        return static_cast<bool>(core_->output);
    }

    // A voice someone else registered speaks through its own engine, made now so that a Speak it
    // cannot serve fails with the reason instead of ending in silence.
    HRESULT HostRegisteredVoice(const std::wstring& voiceId, SpeechStream& stream) {
        VoiceInfo voice;
        if (FindInstalledVoice(voiceId, voice) || !FindRegisteredVoice(voiceId, voice)) return S_OK;
        PcmFormat format;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            format = core_->outputFormat;
        }
        return CreateHostedEngine(voice, format, stream.hostedEngine, stream.hostedFormat);
    }

    std::wstring VoiceId() {
        std::lock_guard<std::mutex> guard(core_->lock);
        return core_->voiceId;
    }

    // The text of a Speak call: the string itself, or the file it names. Markup when the
    // flags say so, or, without either markup flag, when the text starts with a tag; its <voice>
    // and <lang> tags choose among the installed voices, starting from the voice's own.
    static HRESULT PrepareSpeech(LPCWSTR text, DWORD flags, const std::wstring& voiceId, SpeechText& speech) {
        std::wstring input = text;
        if (flags & SPF_IS_FILENAME) {
            std::vector<unsigned char> bytes;
            HRESULT result = ReadFileBytes(text, bytes);
            if (FAILED(result)) return result;
            input = DecodeTextBytes(bytes);
        }
        bool isXml = (flags & SPF_IS_XML) || (!(flags & SPF_IS_NOT_XML) && LooksLikeMarkup(input));
        const std::vector<VoiceInfo> voices = isXml ? InstalledVoices() : std::vector<VoiceInfo>();
        auto chooseVoice = [&](const std::wstring& required, const std::wstring& optional, const std::wstring& current) {
            return ChooseVoice(voices, required, optional, current.empty() ? voiceId : current);
        };
        speech = ParseSpeech(std::move(input), isXml, chooseVoice);
        return S_OK;
    }

    // A text too large for the memory left fails the call, as a real voice's E_OUTOFMEMORY does,
    // instead of ending the caller's process.
    static HRESULT PrepareSpeechOrRunOut(LPCWSTR text, DWORD flags, const std::wstring& voiceId, SpeechText& speech) {
        try {
            return PrepareSpeech(text, flags, voiceId, speech);
        } catch (const std::bad_alloc&) {
            speech = SpeechText();
            return E_OUTOFMEMORY;
        }
    }

    std::shared_ptr<VoiceCore> core_;
    ScopedComPtr<ISpObjectToken> outputToken_;  // guarded by the core's lock
    ScopedVoiceAutomation automation_{NewVoiceAutomation(this, core_)};  // ISpeechVoice and IDispatch
    ScopedVoiceConnections connections_{NewVoiceConnections(this, core_)};
};

}  // namespace

HRESULT AcceptOutputFormat(const GUID& formatId, const WAVEFORMATEX* format, PcmFormat& accepted) {
    if (!IsEqualGUID(formatId, WaveFormatExId) || !format || format->wFormatTag != WAVE_FORMAT_PCM ||
        (format->nChannels != 1 && format->nChannels != 2) ||
        (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) || format->nSamplesPerSec == 0) {
        return SPERR_UNSUPPORTED_FORMAT;
    }
    accepted.samplesPerSec = format->nSamplesPerSec;
    accepted.channels = format->nChannels;
    accepted.bitsPerSample = format->wBitsPerSample;
    return S_OK;
}

const wchar_t AudioOutputsCategoryId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\AudioOutput";

bool IsAudioOutputTokenId(const std::wstring& id) {
    const size_t length = wcslen(AudioOutputsCategoryId);
    return id.size() > length && _wcsnicmp(id.c_str(), AudioOutputsCategoryId, length) == 0 && id[length] == L'\\';
}

// The audio output category's default token (Wine's own category and token classes answer it).
HRESULT DefaultAudioOutputToken(ISpObjectToken** token) {
    ScopedComPtr<ISpObjectTokenCategory> category;
    ScopedComPtr<ISpObjectToken> made;
    TaskWideString id;
    HRESULT result = CreateCategory(__uuidof(ISpObjectTokenCategory), category.ReceiveVoid());
    if (SUCCEEDED(result)) result = category->SetId(AudioOutputsCategoryId, FALSE);
    if (SUCCEEDED(result)) result = category->GetDefaultTokenId(id.Receive());
    if (SUCCEEDED(result)) {
        result = CoCreateInstance(SapiTokenClassId, nullptr, CLSCTX_ALL, __uuidof(ISpObjectToken), made.ReceiveVoid());
    }
    if (SUCCEEDED(result)) result = made->SetId(nullptr, id.Get(), FALSE);
    if (SUCCEEDED(result)) *token = made.Detach();
    return result;
}

HRESULT GetLastOutputStream(ISpStreamFormat** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    std::shared_ptr<VoiceCore> core;
    {
        std::lock_guard<std::mutex> guard(LastOutputLock);
        core = LastOutputCore.lock();
    }
    if (!core) return SPERR_NOT_FOUND;
    std::lock_guard<std::mutex> guard(core->lock);
    *stream = core->output.Get();
    if (*stream) (*stream)->AddRef();
    return *stream ? S_OK : SPERR_NOT_FOUND;
}

HRESULT CreateVoice(REFIID iid, void** object) {
    ScopedComPtr<ISpVoice> voice(new Voice);
    return voice->QueryInterface(iid, object);
}

}  // namespace engine
