#include "engine/server/server_registration.h"

#include "engine/hosted_engine.h"  // OwnTokenValue: marks the tokens registration wrote

#include "engine/engine.h"
#include "base/scoped.h"

#include <vector>

namespace engine {
namespace {

// Kept in the InprocServer32 key beside the values they describe.
const wchar_t SavedServerValue[] = L"TxtEngine Previous Server";
const wchar_t SavedThreadingValue[] = L"TxtEngine Previous ThreadingModel";
const wchar_t CreatedValue[] = L"TxtEngine Created";  // DWORD, one of the KeysCreated values
const wchar_t ThreadingValue[] = L"ThreadingModel";

enum KeysCreated : DWORD { CreatedNone = 0, CreatedServerKey = 1, CreatedClassKey = 2 };

std::wstring ClassKeyPath(const CLSID& classId) {
    wchar_t text[40] = {};
    StringFromGUID2(classId, text, 40);
    return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

struct RegistryValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

RegistryValue ReadValue(HKEY key, const wchar_t* name) {
    RegistryValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
    value.data.resize(size);
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS) return value;
    value.data.resize(size);
    value.present = true;
    return value;
}

LONG WriteValue(HKEY key, const wchar_t* name, const RegistryValue& value) {
    return RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

LONG WriteString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Moves value `from` to `to` (or deletes `to` when there is no `from`).
void MoveValue(HKEY key, const wchar_t* from, const wchar_t* to) {
    RegistryValue value = ReadValue(key, from);
    if (value.present) WriteValue(key, to, value);
    else RegDeleteValueW(key, to);
    RegDeleteValueW(key, from);
}

HRESULT RegisterServerForClass(const CLSID& classId, const std::wstring& dllPath) {
    ScopedRegKey classKey, serverKey;
    DWORD classDisposition = 0, serverDisposition = 0;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassKeyPath(classId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, classKey.Receive(), &classDisposition);
    if (error == ERROR_SUCCESS) {
        error = RegCreateKeyExW(classKey.Get(), L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                serverKey.Receive(), &serverDisposition);
    }
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
    HKEY key = serverKey.Get();
    if (!ReadValue(key, CreatedValue).present) {  // not registered yet: keep what is there
        const DWORD created = classDisposition == REG_CREATED_NEW_KEY    ? CreatedClassKey
                              : serverDisposition == REG_CREATED_NEW_KEY ? CreatedServerKey
                                                                         : CreatedNone;
        MoveValue(key, nullptr, SavedServerValue);
        MoveValue(key, ThreadingValue, SavedThreadingValue);
        RegSetValueExW(key, CreatedValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&created), sizeof created);
    }
    error = WriteString(key, nullptr, dllPath);
    if (error == ERROR_SUCCESS) error = WriteString(key, ThreadingValue, L"Both");
    return HRESULT_FROM_WIN32(error);
}

HRESULT UnregisterServerForClass(const CLSID& classId) {
    const std::wstring classPath = ClassKeyPath(classId);
    ScopedRegKey serverKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (classPath + L"\\InprocServer32").c_str(), 0, KEY_ALL_ACCESS,
                      serverKey.Receive()) != ERROR_SUCCESS) {
        return S_OK;  // nothing of ours
    }
    HKEY key = serverKey.Get();
    RegistryValue created = ReadValue(key, CreatedValue);
    if (!created.present || created.data.size() != sizeof(DWORD)) return S_OK;
    DWORD what = *reinterpret_cast<const DWORD*>(created.data.data());
    LONG error = ERROR_SUCCESS;
    if (what == CreatedClassKey) {
        error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, classPath.c_str());
    } else if (what == CreatedServerKey) {
        error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classPath + L"\\InprocServer32").c_str());
    } else {
        MoveValue(key, SavedServerValue, nullptr);
        MoveValue(key, SavedThreadingValue, ThreadingValue);
        RegDeleteValueW(key, CreatedValue);
    }
    return HRESULT_FROM_WIN32(error);
}

const wchar_t MachineHive[] = L"HKEY_LOCAL_MACHINE\\";
const wchar_t VoiceTokensKey[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens";

LONG WriteValues(HKEY key, const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    for (const auto& value : values) {
        LONG error = WriteString(key, value.first.empty() ? nullptr : value.first.c_str(), value.second);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

HRESULT RegisterVoiceToken(const VoiceInfo& voice) {
    const std::wstring path = MachineKeyOfTokenId(voice.id);
    if (path.empty()) return S_OK;  // a voice that lives elsewhere is not written
    ScopedRegKey key, attributes;
    DWORD disposition = 0;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 key.Receive(), &disposition);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
    if (disposition != REG_CREATED_NEW_KEY && !ReadValue(key.Get(), OwnTokenValue).present) return S_OK;  // someone else's
    const DWORD own = 1;
    error = RegSetValueExW(key.Get(), OwnTokenValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&own), sizeof own);
    if (error == ERROR_SUCCESS) error = WriteValues(key.Get(), voice.values);
    if (error == ERROR_SUCCESS && !voice.attributes.empty()) {
        error = RegCreateKeyExW(key.Get(), L"Attributes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, attributes.Receive(),
                                nullptr);
        if (error == ERROR_SUCCESS) error = WriteValues(attributes.Get(), voice.attributes);
    }
    return HRESULT_FROM_WIN32(error);
}

const CLSID* const ServedClasses[] = {&VoiceClassId, &TranslatorClassId, &CategoryClassId};

}  // namespace

const char RegistrationRefusal[] =
    "txtengine_server.dll is not registered: it would replace the speech classes of SAPI for every program, "
    "which it does only under Wine, where there is no speech engine. On Windows the system's own speech stays.";

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

HRESULT RegistrationAllowed(bool underWine) { return underWine ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED); }

HRESULT RegisterInprocServer(const std::wstring& dllPath) {
    for (const CLSID* classId : ServedClasses) {
        HRESULT result = RegisterServerForClass(*classId, dllPath);
        if (FAILED(result)) {
            UnregisterInprocServer();
            return result;
        }
    }
    return S_OK;
}

HRESULT UnregisterInprocServer() {
    HRESULT first = S_OK;
    for (const CLSID* classId : ServedClasses) {
        HRESULT result = UnregisterServerForClass(*classId);
        if (FAILED(result) && SUCCEEDED(first)) first = result;
    }
    return first;
}

std::wstring MachineKeyOfTokenId(const std::wstring& id) {
    const size_t hive = wcslen(MachineHive);
    if (id.size() <= hive || _wcsnicmp(id.c_str(), MachineHive, hive) != 0) return std::wstring();
    return id.substr(hive);
}

HRESULT RegisterVoiceTokens(const std::vector<VoiceInfo>& voices) {
    for (const VoiceInfo& voice : voices) {
        HRESULT result = RegisterVoiceToken(voice);
        if (FAILED(result)) return result;
    }
    return S_OK;
}

HRESULT UnregisterVoiceTokens() {
    ScopedRegKey tokens;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, VoiceTokensKey, 0, KEY_ALL_ACCESS, tokens.Receive()) != ERROR_SUCCESS) {
        return S_OK;
    }
    std::vector<std::wstring> own;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(tokens.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        ScopedRegKey token;
        if (RegOpenKeyExW(tokens.Get(), name, 0, KEY_READ, token.Receive()) == ERROR_SUCCESS &&
            ReadValue(token.Get(), OwnTokenValue).present) {
            own.push_back(name);
        }
    }
    HRESULT first = S_OK;
    for (const std::wstring& token : own) {
        LONG error = RegDeleteTreeW(tokens.Get(), token.c_str());  // the key itself too
        if (error != ERROR_SUCCESS && SUCCEEDED(first)) first = HRESULT_FROM_WIN32(error);
    }
    return first;
}

}  // namespace engine
