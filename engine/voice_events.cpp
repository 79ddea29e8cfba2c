#include "engine/voice_events.h"

#include "engine/engine.h"
#include "engine/voice_automation.h"

#include <climits>
#include <map>
#include <mutex>
#include <vector>

namespace engine {
namespace {

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// A stream position as SAPI gives it to scripts: a number that may exceed a Long.
VARIANT Position(ULONGLONG offset) {
    if (offset <= LONG_MAX) return Long(static_cast<LONG>(offset));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = static_cast<double>(offset);
    return v;
}

// The connected clients, shared with the calls that send them events, which may still run on the
// connecting thread while the voice goes away on another.
struct EventClients {
    std::mutex lock;
    std::map<DWORD, ScopedComPtr<IDispatch>> connected;
    DWORD lastCookie = 0;

    // A client may disconnect itself while it handles an event: each call goes to a list taken before.
    std::vector<ScopedComPtr<IDispatch>> Snapshot() {
        std::vector<ScopedComPtr<IDispatch>> clients;
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& entry : connected) clients.emplace_back().Assign(entry.second.Get());
        return clients;
    }
};

void Send(const AutomationEvent& event, EventClients& clients) {
    ScopedComPtr<IDispatch> token;
    ScopedComPtr<ISpObjectToken> spToken;
    if (event.object && SUCCEEDED(event.object->QueryInterface(__uuidof(ISpObjectToken), spToken.ReceiveVoid()))) {
        *token.Receive() = NewTokenAutomation(spToken.Get());
    }
    DISPID member = 0;
    std::vector<VARIANT> arguments;
    if (!AutomationArguments(event, token.Get(), member, arguments)) return;
    for (const ScopedComPtr<IDispatch>& client : clients.Snapshot()) {
        DISPPARAMS parameters = {arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        client->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
    }
    for (VARIANT& argument : arguments) VariantClear(&argument);
}

// Runs on the connecting thread: the events queued since the last call, in order.
void SendEvents(const std::weak_ptr<VoiceCore>& weakCore, const std::shared_ptr<EventClients>& clients) {
    std::shared_ptr<VoiceCore> core = weakCore.lock();
    if (!core) return;
    std::deque<AutomationEvent> events;
    {
        std::lock_guard<std::mutex> guard(core->lock);
        events.swap(core->automationEvents);
    }
    for (const AutomationEvent& event : events) Send(event, *clients);
}

// The connection point: an object of its own for QueryInterface, kept alive by the voice.
class EventPoint final : public IConnectionPoint {
public:
    EventPoint(ISpVoice* owner, IConnectionPointContainer* container, std::shared_ptr<VoiceCore> core)
        : voice_(owner), container_(container), core_(std::move(core)) {}

    ~EventPoint() {
        std::shared_ptr<ThreadCaller> caller;
        {
            std::lock_guard<std::mutex> guard(core_->lock);
            caller = std::move(core_->eventCaller);
        }
        if (caller) caller->Close();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return voice_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return voice_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = __uuidof(_ISpeechVoiceEvents);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (!container) return E_POINTER;
        *container = container_;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* client, DWORD* cookie) override {
        if (cookie) *cookie = 0;
        if (!client || !cookie) return E_POINTER;
        ScopedComPtr<IDispatch> events;
        if (FAILED(client->QueryInterface(__uuidof(_ISpeechVoiceEvents), events.ReceiveVoid())) &&
            FAILED(client->QueryInterface(IID_IDispatch, events.ReceiveVoid()))) {
            return CONNECT_E_CANNOTCONNECT;
        }
        HRESULT result = ListenOnThisThread();
        if (FAILED(result)) return result;
        std::lock_guard<std::mutex> guard(clients_->lock);
        *cookie = ++clients_->lastCookie;
        clients_->connected[*cookie] = std::move(events);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        ScopedComPtr<IDispatch> client;  // released outside the lock
        std::lock_guard<std::mutex> guard(clients_->lock);
        auto found = clients_->connected.find(cookie);
        if (found == clients_->connected.end()) return CONNECT_E_NOCONNECTION;
        client = std::move(found->second);
        clients_->connected.erase(found);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
        if (connections) *connections = nullptr;
        return E_NOTIMPL;  // allowed for a connection point
    }

private:
    // The first client's thread receives the events from now on.
    HRESULT ListenOnThisThread() {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (core_->eventCaller) return S_OK;
        std::weak_ptr<VoiceCore> core = core_;
        std::shared_ptr<EventClients> clients = clients_;
        core_->eventCaller = ThreadCaller::Create([core, clients] { SendEvents(core, clients); });
        return core_->eventCaller ? S_OK : E_FAIL;
    }

    ISpVoice* voice_;
    IConnectionPointContainer* container_;
    std::shared_ptr<VoiceCore> core_;
    std::shared_ptr<EventClients> clients_ = std::make_shared<EventClients>();
};

// The container and the class information are faces of the voice; hosts that bind events by name
// (WSH's prefix, .NET) find the event interface through IProvideClassInfo2.
class VoiceConnections final : public IConnectionPointContainer, public IProvideClassInfo2 {
public:
    VoiceConnections(ISpVoice* owner, std::shared_ptr<VoiceCore> core) : voice_(owner), point_(owner, this, std::move(core)) {}

    HRESULT Face(REFIID iid, void** object) {
        if (IsEqualIID(iid, IID_IConnectionPointContainer)) *object = static_cast<IConnectionPointContainer*>(this);
        else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)) *object = static_cast<IProvideClassInfo2*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override { return voice_->QueryInterface(iid, object); }
    ULONG STDMETHODCALLTYPE AddRef() override { return voice_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return voice_->Release(); }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;  // allowed: clients find the point by its interface
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (!IsEqualIID(iid, __uuidof(_ISpeechVoiceEvents))) return CONNECT_E_NOCONNECTION;
        *point = &point_;
        point_.AddRef();
        return S_OK;
    }

    // The SpVoice class as SAPI's type library describes it, with its default event interface.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override { return SpeechTypeInfo(VoiceClassId, false, info); }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
        if (!guid) return E_POINTER;
        *guid = GUID_NULL;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = __uuidof(_ISpeechVoiceEvents);
        return S_OK;
    }

private:
    ISpVoice* voice_;
    EventPoint point_;
};

}  // namespace

bool AutomationArguments(const AutomationEvent& event, IDispatch* token, DISPID& member, std::vector<VARIANT>& arguments) {
    const SPEVENT& record = event.record;
    std::vector<VARIANT> given = {Long(static_cast<LONG>(record.ulStreamNum)), Position(record.ullAudioStreamOffset)};
    switch (record.eEventId) {
    case SPEI_START_INPUT_STREAM: member = DISPID_SVEStreamStart; break;
    case SPEI_END_INPUT_STREAM: member = DISPID_SVEStreamEnd; break;
    case SPEI_VOICE_CHANGE: {
        member = DISPID_SVEVoiceChange;
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = token;
        if (token) token->AddRef();
        given.push_back(v);
        break;
    }
    case SPEI_TTS_BOOKMARK: {
        member = DISPID_SVEBookmark;
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(event.text.c_str());
        given.push_back(v);
        given.push_back(Long(static_cast<LONG>(record.wParam)));
        break;
    }
    case SPEI_WORD_BOUNDARY:
    case SPEI_SENTENCE_BOUNDARY:  // position and length of the text, from lParam and wParam
        member = record.eEventId == SPEI_WORD_BOUNDARY ? DISPID_SVEWord : DISPID_SVESentenceBoundary;
        given.push_back(Long(static_cast<LONG>(record.lParam)));
        given.push_back(Long(static_cast<LONG>(record.wParam)));
        break;
    case SPEI_TTS_AUDIO_LEVEL:
        member = DISPID_SVEAudioLevel;
        given.push_back(Long(static_cast<LONG>(record.wParam)));
        break;
    case SPEI_TTS_PRIVATE:
        member = DISPID_SVEEnginePrivate;
        given.push_back(Long(static_cast<LONG>(record.lParam)));
        break;
    default:
        return false;
    }
    arguments.assign(given.rbegin(), given.rend());
    return true;
}

IConnectionPointContainer* NewVoiceConnections(ISpVoice* owner, std::shared_ptr<VoiceCore> core) {
    return new VoiceConnections(owner, std::move(core));
}

HRESULT QueryVoiceConnections(IConnectionPointContainer* connections, REFIID iid, void** object) {
    return static_cast<VoiceConnections*>(connections)->Face(iid, object);
}

void DeleteVoiceConnections(IConnectionPointContainer* connections) {
    delete static_cast<VoiceConnections*>(connections);
}

}  // namespace engine
