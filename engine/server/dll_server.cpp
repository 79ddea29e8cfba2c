// txtengine_server.dll: the speech engine stand-in as an in-process COM server, so that any
// program in a Wine prefix where it is registered (regsvr32 txtengine_server.dll) gets its voice,
// notify translator and token category from CoCreateInstance, not only programs that register
// the classes themselves. The espeak-ng voices come first where they can run, English first, so it
// is the voice that speaks unless another is chosen.
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/server/server_registration.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

HMODULE ThisModule = nullptr;

std::wstring ThisModulePath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(ThisModule, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ThisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    // Not in DllMain: finding out whether espeak-ng runs starts a process.
    static std::once_flag voicesChosen;
    std::call_once(voicesChosen, [] {
        engine::SetRecordDeliveredPcm(false);  // a player runs for hours
        engine::OfferEspeakVoices();
        engine::ListRegisteredVoices(true);  // the prefix's other voices, spoken by their engines
    });
    return engine::GetClassObject(classId, iid, object);
}

// Engine threads and the engine's state live as long as the process: never unload.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" HRESULT WINAPI DllUnregisterServer();

// regsvr32 shows the failing result in its own box (unless /s); the reason goes to stderr and to a
// debugger, so a script that registers the DLL sees why.
extern "C" HRESULT WINAPI DllRegisterServer() {
    const HRESULT allowed = engine::RegistrationAllowed(engine::RunningUnderWine());
    if (FAILED(allowed)) {
        std::fprintf(stderr, "%s\n", engine::RegistrationRefusal);
        std::fflush(stderr);
        OutputDebugStringA(engine::RegistrationRefusal);
        return allowed;
    }
    const std::wstring path = ThisModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT result = engine::RegisterInprocServer(path);
    if (SUCCEEDED(result)) {
        engine::OfferEspeakVoices();  // the voices this machine has, as a program here would list them
        result = engine::RegisterVoiceTokens(engine::InstalledVoices());
    }
    if (FAILED(result)) DllUnregisterServer();
    return result;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    const HRESULT tokens = engine::UnregisterVoiceTokens();
    const HRESULT classes = engine::UnregisterInprocServer();
    return FAILED(classes) ? classes : tokens;
}
