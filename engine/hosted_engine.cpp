#include "engine/hosted_engine.h"

#include "engine/engine_state.h"
#include "engine/espeak/espeak_runner.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/recorded_sound.h"
#include "engine/sapi_codes.h"
#include "engine/tokens.h"
#include "engine/voice.h"
#include "engine/wave_out.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace engine {

const wchar_t OwnTokenValue[] = L"TxtEngine Token";

namespace {

const wchar_t VoiceTokensKey[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens";
const wchar_t VoiceTokensId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";

using NamedValues = std::vector<std::pair<std::wstring, std::wstring>>;

// The key's string values; the default value is named "".
NamedValues ReadStringValues(HKEY key) {
    NamedValues values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[1024] = {};
        DWORD nameLength = 256, type = 0, bytes = sizeof data - sizeof(wchar_t);
        LONG error = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
        if (error == ERROR_NO_MORE_ITEMS) break;
        if (error == ERROR_SUCCESS && type == REG_SZ) values.emplace_back(name, data);
    }
    return values;
}

std::wstring ValueOf(const NamedValues& values, const wchar_t* name) {
    for (const auto& value : values) {
        if (_wcsicmp(value.first.c_str(), name) == 0) return value.second;
    }
    return std::wstring();
}

// A token key of someone else's voice; false for one registration wrote for the engine's own.
bool ReadRegisteredVoice(HKEY tokens, const wchar_t* name, VoiceInfo& voice) {
    ScopedRegKey key, attributes;
    if (RegOpenKeyExW(tokens, name, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
    if (RegQueryValueExW(key.Get(), OwnTokenValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return false;
    voice.id = std::wstring(VoiceTokensId) + name;
    voice.values = ReadStringValues(key.Get());
    if (RegOpenKeyExW(key.Get(), L"Attributes", 0, KEY_READ, attributes.Receive()) == ERROR_SUCCESS) {
        voice.attributes = ReadStringValues(attributes.Get());
    }
    voice.registered = true;
    voice.engineClassId = ValueOf(voice.values, L"CLSID");
    return true;
}

bool SameFormat(const PcmFormat& a, const PcmFormat& b) {
    return a.samplesPerSec == b.samplesPerSec && a.channels == b.channels && a.bitsPerSample == b.bitsPerSample;
}

HRESULT CreateAndPrepare(const CLSID& classId, const VoiceInfo& voice, const PcmFormat& format,
                         ScopedComPtr<TtsEngine>& engine, PcmFormat& engineFormat) {
    ScopedComPtr<TtsEngine> created;
    HRESULT result = CoCreateInstance(classId, nullptr, CLSCTX_ALL, TtsEngineIid, created.ReceiveVoid());
    if (FAILED(result)) return result;
    ScopedComPtr<ISpObjectWithToken> withToken;
    if (SUCCEEDED(created->QueryInterface(__uuidof(ISpObjectWithToken), withToken.ReceiveVoid()))) {
        ScopedComPtr<ISpObjectToken> token(NewToken(voice));
        result = withToken->SetObjectToken(token.Get());
        if (FAILED(result)) return result;
    }
    const WAVEFORMATEX wanted = WaveFormatOf(format);
    GUID formatId = GUID_NULL;
    ScopedTaskMem<WAVEFORMATEX> given;
    result = created->GetOutputFormat(&WaveFormatExId, &wanted, &formatId, given.Receive());
    if (FAILED(result)) return result;
    // Another PCM format is converted as the sound arrives.
    if (!IsEqualGUID(formatId, WaveFormatExId) || FAILED(AcceptOutputFormat(formatId, given.Get(), engineFormat))) {
        return SPERR_UNSUPPORTED_FORMAT;
    }
    engine.Reset(created.Detach());
    return S_OK;
}

// An event as the engine gave it, with a payload of its own that the voice's event queue owns.
SPEVENT CopyEvent(const SPEVENT& given) {
    SPEVENT event = given;
    switch (given.elParamType) {
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
        if (given.lParam) reinterpret_cast<IUnknown*>(given.lParam)->AddRef();
        break;
    case SPET_LPARAM_IS_STRING:
    case SPET_LPARAM_IS_POINTER: {
        const size_t bytes = given.elParamType == SPET_LPARAM_IS_POINTER
                                 ? given.wParam
                                 : (wcslen(reinterpret_cast<const wchar_t*>(given.lParam)) + 1) * sizeof(wchar_t);
        void* copy = given.lParam ? CoTaskMemAlloc(bytes) : nullptr;
        if (copy) std::memcpy(copy, reinterpret_cast<const void*>(given.lParam), bytes);
        event.lParam = reinterpret_cast<LPARAM>(copy);
        if (!copy) event.elParamType = SPET_LPARAM_IS_UNDEFINED;
        break;
    }
    default:
        break;
    }
    return event;
}

// The speech as fragments: a new one wherever the markup changes how the text is spoken, a
// bookmark or a silence stands.
class FragmentList {
public:
    FragmentList(const SpeechText& speech, long voiceRate) : speech_(speech) {
        std::vector<ULONG> cuts = {0, Size()};
        for (const auto& change : speech.prosody) cuts.push_back(change.position);
        for (const auto& mark : speech.bookmarks) cuts.push_back(mark.position);
        for (const auto& silence : speech.silences) cuts.push_back(silence.position);
        for (ULONG& cut : cuts) cut = std::min(cut, Size());
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        for (size_t i = 0; i < cuts.size(); ++i) AddAt(cuts[i], i + 1 < cuts.size() ? cuts[i + 1] : cuts[i], voiceRate);
        for (size_t i = 0; i + 1 < fragments_.size(); ++i) fragments_[i].next = &fragments_[i + 1];
    }

    const TtsTextFragment* First() const { return fragments_.empty() ? nullptr : &fragments_.front(); }

private:
    ULONG Size() const { return static_cast<ULONG>(speech_.text.size()); }

    ULONG SourceOffset(ULONG position) const {
        if (position < Size()) return SourceSpan(speech_, {position, 1}).position;
        if (Size() == 0) return 0;
        const TextSpan last = SourceSpan(speech_, {Size() - 1, 1});
        return last.position + last.length;
    }

    // Bookmarks and silences that stand at `from`, then the text up to `to`.
    void AddAt(ULONG from, ULONG to, long voiceRate) {
        while (nextProsody_ < speech_.prosody.size() && speech_.prosody[nextProsody_].position <= from) {
            prosody_ = speech_.prosody[nextProsody_++].prosody;
        }
        while (nextMark_ < speech_.bookmarks.size() && speech_.bookmarks[nextMark_].position <= from) {
            const std::wstring& name = speech_.bookmarks[nextMark_++].name;
            Add(SPVA_Bookmark, name.c_str(), static_cast<ULONG>(name.size()), from, voiceRate);
        }
        while (nextSilence_ < speech_.silences.size() && speech_.silences[nextSilence_].position <= from) {
            Add(SPVA_Silence, nullptr, 0, from, voiceRate).state.SilenceMSecs = speech_.silences[nextSilence_++].milliseconds;
        }
        if (to > from) Add(prosody_.spell ? SPVA_SpellOut : SPVA_Speak, speech_.text.c_str() + from, to - from, from, voiceRate);
    }

    TtsTextFragment& Add(SPVACTIONS action, LPCWSTR text, ULONG length, ULONG position, long voiceRate) {
        TtsTextFragment fragment = {};
        fragment.state.eAction = action;
        fragment.state.LangID = GetUserDefaultLangID();
        fragment.state.EmphAdj = prosody_.emphasis ? 1 : 0;
        // The engine adds the site's rate to RateAdj: an absolute rate is made relative to it.
        fragment.state.RateAdj = prosody_.absoluteRate ? prosody_.rate - voiceRate : prosody_.rate;
        fragment.state.Volume = std::min(prosody_.volume, 100u);
        fragment.text = text;
        fragment.length = length;
        fragment.sourceOffset = SourceOffset(position);
        fragments_.push_back(fragment);
        return fragments_.back();
    }

    const SpeechText& speech_;
    std::vector<TtsTextFragment> fragments_;  // linked once complete, so never moved after
    Prosody prosody_;
    size_t nextProsody_ = 0, nextMark_ = 0, nextSilence_ = 0;
};

// The site the engine speaks to, for the length of one Speak call.
class EngineSite : public TtsEngineSite {
public:
    EngineSite(HostedStream& stream, const PcmFormat& engineFormat, const PcmFormat& format)
        : stream_(stream), from_(engineFormat), to_(format), converting_(!SameFormat(engineFormat, format)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(ISpEventSink)) && !IsEqualIID(iid, TtsEngineSiteIid)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<TtsEngineSite*>(this);
        return S_OK;
    }
    // Lives on the stack of the call that hands it out, which outlasts the engine's Speak.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE AddEvents(const SPEVENT* events, ULONG count) override {
        if (!events && count) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            SPEVENT event = CopyEvent(events[i]);
            if (converting_) event.ullAudioStreamOffset = ConvertedOffset(event.ullAudioStreamOffset, from_, to_);
            stream_.AddEvent(event);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEventInterest(ULONGLONG* interest) override {
        if (!interest) return E_POINTER;
        *interest = stream_.EventInterest();
        return S_OK;
    }
    DWORD STDMETHODCALLTYPE GetActions() override { return stream_.Actions(); }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG bytes, ULONG* written) override {
        if (written) *written = 0;
        if (!data && bytes) return E_POINTER;
        if (bytes && !WriteConverted(data, bytes)) return E_ABORT;  // purged, or the output failed
        if (written) *written = bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRate(long* rate) override {
        if (!rate) return E_POINTER;
        *rate = stream_.Rate();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVolume(USHORT* volume) override {
        if (!volume) return E_POINTER;
        *volume = stream_.Volume();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSkipInfo(int* type, long* count) override {
        if (!type || !count) return E_POINTER;
        *type = TtsSkipSentence;
        *count = static_cast<long>(stream_.SkipRequest());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CompleteSkip(long skipped) override {
        if (skipped < 0 || static_cast<ULONG>(skipped) > stream_.SkipRequest()) return E_INVALIDARG;
        stream_.SkipDone(skipped);
        return S_OK;
    }

private:
    // Frames are counted over the whole stream, so every piece comes out at the length that keeps the
    // sound where the converted event offsets say it is.
    bool WriteConverted(const void* data, ULONG bytes) {
        if (!converting_) return stream_.WriteAudio(data, bytes);
        const auto* begin = static_cast<const unsigned char*>(data);
        RecordedSound piece;
        if (!DecodePcm(std::vector<unsigned char>(begin, begin + bytes), WaveFormatOf(from_), piece)) return false;
        framesIn_ += piece.samples.size();
        const ULONGLONG framesOut = framesIn_ * to_.samplesPerSec / from_.samplesPerSec;
        std::vector<short> samples;
        if (from_.samplesPerSec == to_.samplesPerSec) {
            samples = std::move(piece.samples);
        } else if (FAILED(ConvertWithSox(piece.samples, from_.samplesPerSec, to_.samplesPerSec, samples))) {
            samples = Resampled(piece.samples, from_.samplesPerSec, to_.samplesPerSec);
        }
        samples.resize(static_cast<size_t>(framesOut - framesOut_), samples.empty() ? 0 : samples.back());
        framesOut_ = framesOut;
        const std::vector<unsigned char> pcm = PackPcm(samples, to_);
        return pcm.empty() || stream_.WriteAudio(pcm.data(), static_cast<ULONG>(pcm.size()));
    }

    HostedStream& stream_;
    PcmFormat from_, to_;
    bool converting_;
    ULONGLONG framesIn_ = 0, framesOut_ = 0;
};

}  // namespace

std::vector<VoiceInfo> RegisteredVoices() {
    std::vector<VoiceInfo> voices;
    if (!RegisteredVoicesListed()) return voices;
    ScopedRegKey tokens;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, VoiceTokensKey, 0, KEY_READ, tokens.Receive()) != ERROR_SUCCESS) return voices;
    VoiceInfo installed;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        LONG error = RegEnumKeyExW(tokens.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS) break;
        VoiceInfo voice;
        if (error == ERROR_SUCCESS && ReadRegisteredVoice(tokens.Get(), name, voice) &&
            !FindInstalledVoice(voice.id, installed)) {
            voices.push_back(std::move(voice));
        }
    }
    return voices;
}

bool FindRegisteredVoice(const std::wstring& id, VoiceInfo& voice) {
    for (VoiceInfo& candidate : RegisteredVoices()) {
        if (_wcsicmp(candidate.id.c_str(), id.c_str()) == 0) {
            voice = std::move(candidate);
            return true;
        }
    }
    return false;
}

std::vector<VoiceInfo> ListedVoices() {
    std::vector<VoiceInfo> voices = InstalledVoices();
    for (VoiceInfo& voice : RegisteredVoices()) voices.push_back(std::move(voice));
    return voices;
}

ULONGLONG ConvertedOffset(ULONGLONG offset, const PcmFormat& from, const PcmFormat& to) {
    return offset / from.BlockAlign() * to.samplesPerSec / from.samplesPerSec * to.BlockAlign();
}

HRESULT CreateHostedEngine(const VoiceInfo& voice, const PcmFormat& format, ScopedComPtr<TtsEngine>& engine,
                           PcmFormat& engineFormat) {
    CLSID classId;
    if (voice.engineClassId.empty() || FAILED(CLSIDFromString(voice.engineClassId.c_str(), &classId))) {
        return REGDB_E_CLASSNOTREG;
    }
    // Made in the multithreaded apartment, which the voice's engine thread that calls it belongs to
    // (and keeps alive), whatever apartment the caller of Speak is in.
    HRESULT result = E_FAIL;
    std::thread([&] {
        HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        result = CreateAndPrepare(classId, voice, format, engine, engineFormat);
        if (SUCCEEDED(init)) CoUninitialize();
    }).join();
    return result;
}

HRESULT SpeakHosted(TtsEngine* engine, const PcmFormat& engineFormat, const PcmFormat& format, const SpeechText& speech,
                    HostedStream& stream) {
    FragmentList fragments(speech, stream.Rate());
    if (!fragments.First()) return S_OK;  // nothing to say
    EngineSite site(stream, engineFormat, format);
    const WAVEFORMATEX wave = WaveFormatOf(engineFormat);
    return engine->Speak(0, WaveFormatExId, &wave, fragments.First(), &site);
}

}  // namespace engine
