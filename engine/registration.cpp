// Class factories of the voice, the notify translator and the token category, registered
// under SAPI's own class ids in the calling apartment.
#include "engine/engine.h"

#include "engine/com_object.h"

#include "engine/engine_state.h"
#include "engine/notify_translator.h"
#include "engine/sapi_codes.h"
#include "engine/tokens.h"
#include "engine/voice.h"

#include <mutex>

namespace engine {

const GUID WaveFormatExId = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};

const CLSID VoiceClassId = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const CLSID TranslatorClassId = {0xE2AE5372, 0x5D40, 0x11D2, {0x96, 0x0E, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28}};
const CLSID CategoryClassId = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};

namespace {

using Creator = HRESULT (*)(REFIID, void**);

// A factory lives as long as the process, so it counts no references.
class ClassFactory : public StaticObject<IClassFactory> {
public:
    ClassFactory(Creator create, Op op, const wchar_t* name)
        : StaticObject(IID_IClassFactory), create_(create), op_(op), name_(name) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (auto injected = InjectedResult(op_)) return Logged(name_, *injected);
        if (outer) return Logged(name_, CLASS_E_NOAGGREGATION);
        return Logged(name_, create_(iid, object));
    }

    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }

private:
    Creator create_;
    Op op_;
    const wchar_t* name_;
};

ClassFactory VoiceFactory(CreateVoice, Op::CreateVoice, L"CreateVoice");
ClassFactory TranslatorFactory(CreateNotifyTranslator, Op::CreateTranslator, L"CreateTranslator");
ClassFactory CategoryFactory(CreateCategory, Op::CreateCategory, L"CreateCategory");

struct Registration {
    DWORD threadId;
    DWORD cookie;
};

std::mutex RegistrationLock;
std::vector<Registration> Registrations;

HRESULT RegisterOne(const CLSID& classId, ClassFactory& factory) {
    DWORD cookie = 0;
    HRESULT result = CoRegisterClassObject(classId, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(result)) {
        std::lock_guard<std::mutex> guard(RegistrationLock);
        Registrations.push_back({GetCurrentThreadId(), cookie});
    }
    return result;
}

}  // namespace

HRESULT RegisterClasses() {
    StartWatchingTaskMemory();
    HRESULT result = RegisterOne(VoiceClassId, VoiceFactory);
    if (SUCCEEDED(result)) result = RegisterOne(TranslatorClassId, TranslatorFactory);
    if (SUCCEEDED(result)) result = RegisterOne(CategoryClassId, CategoryFactory);
    if (FAILED(result)) RevokeClasses();
    return result;
}

HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ClassFactory* factory = IsEqualCLSID(classId, VoiceClassId)        ? &VoiceFactory
                            : IsEqualCLSID(classId, TranslatorClassId) ? &TranslatorFactory
                            : IsEqualCLSID(classId, CategoryClassId)   ? &CategoryFactory
                                                                       : nullptr;
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(iid, object);
}

void RevokeClasses() {
    std::vector<DWORD> cookies;
    {
        std::lock_guard<std::mutex> guard(RegistrationLock);
        DWORD thread = GetCurrentThreadId();
        for (auto it = Registrations.begin(); it != Registrations.end();) {
            if (it->threadId == thread) {
                cookies.push_back(it->cookie);
                it = Registrations.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
}

}  // namespace engine
