#include "engine/tokens.h"

#include "engine/com_object.h"
#include "engine/hosted_engine.h"
#include "engine/sapi_codes.h"
#include "engine/voice_choice.h"
#include "base/scoped.h"

#include <vector>

namespace engine {
namespace {

// Answers only inside the engine: tells its own tokens from any others.
const IID OwnTokenIid = {0x6a1f3c52, 0x9b0e, 0x4d7a, {0x8e, 0x41, 0x2c, 0x77, 0x15, 0xd9, 0x30, 0xa8}};

HRESULT CopyToTaskMemory(const std::wstring& text, LPWSTR* out) {
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, text.c_str(), bytes);
    *out = copy;
    return S_OK;
}

using NamedValues = std::vector<std::pair<std::wstring, std::wstring>>;

// The value of that name (null: the default value), any case, as task memory; SPERR_NOT_FOUND
// when there is none.
HRESULT CopyNamedValue(const NamedValues& values, LPCWSTR name, LPWSTR* value) {
    const std::wstring wanted = name ? name : L"";
    for (const auto& entry : values) {
        if (_wcsicmp(entry.first.c_str(), wanted.c_str()) == 0) return CopyToTaskMemory(entry.second, value);
    }
    return SPERR_NOT_FOUND;
}

// A token's Attributes key: its attribute values, to be read only. Counted with the tokens.
class AttributesKey : public CountedObject<ISpDataKey> {
public:
    explicit AttributesKey(NamedValues values) : CountedObject(ObjectKind::Token), values_(std::move(values)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(ISpDataKey)});
    }

    HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR name, LPWSTR* value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        return CopyNamedValue(values_, name, value);
    }

    HRESULT STDMETHODCALLTYPE EnumValues(ULONG index, LPWSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (index >= values_.size()) return SPERR_NO_MORE_ITEMS;
        return CopyToTaskMemory(values_[index].first, name);
    }

    HRESULT STDMETHODCALLTYPE SetData(LPCWSTR, ULONG, const BYTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetData(LPCWSTR, ULONG*, BYTE*) override { return SPERR_NOT_FOUND; }
    HRESULT STDMETHODCALLTYPE SetStringValue(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDWORD(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDWORD(LPCWSTR, DWORD*) override { return SPERR_NOT_FOUND; }
    HRESULT STDMETHODCALLTYPE OpenKey(LPCWSTR, ISpDataKey** key) override {
        if (key) *key = nullptr;
        return SPERR_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE CreateKey(LPCWSTR, ISpDataKey** key) override {
        if (key) *key = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteKey(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumKeys(ULONG, LPWSTR*) override { return SPERR_NO_MORE_ITEMS; }

private:
    NamedValues values_;
};

class Token : public CountedObject<ISpObjectToken> {
public:
    explicit Token(VoiceInfo voice) : CountedObject(ObjectKind::Token), voice_(std::move(voice)) {}

    const std::wstring& Id() const { return voice_.id; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object && IsEqualIID(iid, OwnTokenIid)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(ISpDataKey), __uuidof(ISpObjectToken)});
    }

    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        const std::wstring call = L"Token.GetId() -> " + voice_.id;
        if (!id) return Logged(call, E_POINTER);
        *id = nullptr;
        if (auto injected = InjectedResult(Op::TokenGetId)) return Logged(call, *injected);
        return Logged(call, CopyToTaskMemory(voice_.id, id));
    }

    HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR name, LPWSTR* value) override {
        const std::wstring call = L"Token.GetStringValue(" + NullableText(name) + L")";
        if (!value) return Logged(call, E_POINTER);
        *value = nullptr;
        if (auto injected = InjectedResult(Op::TokenGetStringValue)) return Logged(call, *injected);
        return Logged(call, CopyNamedValue(voice_.values, name, value));
    }

    // The rest of the data key and token is not used by the plug-in.
    HRESULT STDMETHODCALLTYPE SetData(LPCWSTR, ULONG, const BYTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetData(LPCWSTR, ULONG*, BYTE*) override { return SPERR_NOT_FOUND; }
    HRESULT STDMETHODCALLTYPE SetStringValue(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDWORD(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDWORD(LPCWSTR, DWORD*) override { return SPERR_NOT_FOUND; }
    // Only the Attributes key exists, for voices that have attributes.
    HRESULT STDMETHODCALLTYPE OpenKey(LPCWSTR name, ISpDataKey** key) override {
        if (!key) return E_POINTER;
        if (!name || _wcsicmp(name, L"Attributes") != 0 || voice_.attributes.empty()) return NotFoundKey(key);
        *key = new AttributesKey(voice_.attributes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateKey(LPCWSTR, ISpDataKey** key) override { return NotImplementedKey(key); }
    HRESULT STDMETHODCALLTYPE DeleteKey(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumKeys(ULONG index, LPWSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (index > 0 || voice_.attributes.empty()) return SPERR_NO_MORE_ITEMS;
        return CopyToTaskMemory(L"Attributes", name);
    }
    HRESULT STDMETHODCALLTYPE EnumValues(ULONG, LPWSTR*) override { return SPERR_NO_MORE_ITEMS; }
    HRESULT STDMETHODCALLTYPE SetId(LPCWSTR, LPCWSTR, WINBOOL) override { return SPERR_ALREADY_INITIALIZED; }
    // Every voice is in the voices category.
    HRESULT STDMETHODCALLTYPE GetCategory(ISpObjectTokenCategory** category) override {
        if (!category) return E_POINTER;
        *category = nullptr;
        ScopedComPtr<ISpObjectTokenCategory> voices;
        HRESULT result = CreateCategory(__uuidof(ISpObjectTokenCategory), voices.ReceiveVoid());
        if (SUCCEEDED(result)) result = voices->SetId(VoicesCategoryId, FALSE);
        if (SUCCEEDED(result)) *category = voices.Detach();
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, DWORD, REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetStorageFileName(REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR* path) override {
        if (path) *path = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveStorageFileName(REFCLSID, LPCWSTR, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Remove(const CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUISupported(LPCWSTR, void*, ULONG, IUnknown*, WINBOOL* supported) override {
        if (supported) *supported = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MatchesAttributes(LPCWSTR, WINBOOL* matches) override {
        if (matches) *matches = FALSE;
        return E_NOTIMPL;
    }

private:
    static HRESULT NotFoundKey(ISpDataKey** key) {
        if (key) *key = nullptr;
        return SPERR_NOT_FOUND;
    }
    static HRESULT NotImplementedKey(ISpDataKey** key) {
        if (key) *key = nullptr;
        return E_NOTIMPL;
    }

    VoiceInfo voice_;
};

class TokenEnumerator : public CountedObject<IEnumSpObjectTokens> {
public:
    TokenEnumerator(std::vector<VoiceInfo> voices, ULONG position)
        : CountedObject(ObjectKind::Enumerator), voices_(std::move(voices)), position_(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(IEnumSpObjectTokens)});
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, ISpObjectToken** tokens, ULONG* fetched) override {
        const std::wstring call = L"Enum.Next(" + std::to_wstring(count) + L")";
        if (fetched) *fetched = 0;
        if (!tokens || (count > 1 && !fetched)) return Logged(call, E_POINTER);
        for (ULONG i = 0; i < count; ++i) tokens[i] = nullptr;
        if (auto injected = InjectedResult(Op::EnumNext)) return Logged(call, *injected);
        ULONG taken = 0;
        while (taken < count && position_ < voices_.size()) tokens[taken++] = NewToken(voices_[position_++]);
        if (fetched) *fetched = taken;
        return Logged(call, taken == count ? S_OK : S_FALSE);
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        ULONG left = static_cast<ULONG>(voices_.size()) - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumSpObjectTokens** copy) override {
        if (!copy) return E_POINTER;
        *copy = new TokenEnumerator(voices_, position_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Item(ULONG index, ISpObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = nullptr;
        if (index >= voices_.size()) return SPERR_NO_MORE_ITEMS;
        *token = NewToken(voices_[index]);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(voices_.size());
        return S_OK;
    }

private:
    std::vector<VoiceInfo> voices_;
    ULONG position_;
};

// Where Wine's own speech classes live: what the category class was registered to before this
// engine took it over (kept beside the registration), what it is registered to now when that is
// not this engine, and Wine's usual places.
std::vector<std::wstring> WineSapiCandidates() {
    std::vector<std::wstring> candidates;
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"Software\\Classes\\CLSID\\{A910187F-0C7A-45AC-92CC-59EDAFB77B53}\\InprocServer32", 0,
                      KEY_READ, key.Receive()) == ERROR_SUCCESS) {
        for (const wchar_t* name : {L"TxtEngine Previous Server", L""}) {
            wchar_t path[MAX_PATH] = {};
            DWORD size = sizeof path - sizeof(wchar_t);
            if (RegQueryValueExW(key.Get(), *name ? name : nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path),
                                 &size) == ERROR_SUCCESS && path[0]) {
                candidates.push_back(path);
            }
        }
    }
    wchar_t system[MAX_PATH] = {};
    if (GetSystemDirectoryW(system, MAX_PATH)) candidates.push_back(std::wstring(system) + L"\\Speech\\Common\\sapi.dll");
    candidates.push_back(L"sapi.dll");
    return candidates;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Wine's own token category, which serves every category but the voices: audio outputs and inputs,
// recognisers, a program's own. Made by its DLL directly, since the class id leads back here.
HRESULT CreateWineCategory(ISpObjectTokenCategory** category) {
    *category = nullptr;
    using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    for (const std::wstring& path : WineSapiCandidates()) {
        HMODULE sapi = LoadLibraryW(path.c_str());  // kept loaded: its objects may outlive any one category
        if (!sapi) continue;
        auto getClassObject = reinterpret_cast<GetClassObjectFunction>(GetProcAddress(sapi, "DllGetClassObject"));
        if (sapi == ThisModule() || !getClassObject) continue;
        ScopedComPtr<IClassFactory> factory;
        HRESULT result = getClassObject(CategoryClassId, IID_IClassFactory, factory.ReceiveVoid());
        if (FAILED(result)) return result;
        return factory->CreateInstance(nullptr, __uuidof(ISpObjectTokenCategory), reinterpret_cast<void**>(category));
    }
    return REGDB_E_CLASSNOTREG;
}

bool IsVoicesCategory(LPCWSTR id) { return _wcsicmp(id, VoicesCategoryId) == 0; }

// The voices category is the engine's own; any other is Wine's, which this object then passes every
// call to.
class Category : public CountedObject<ISpObjectTokenCategory> {
public:
    Category() : CountedObject(ObjectKind::Category) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(ISpDataKey), __uuidof(ISpObjectTokenCategory)});
    }

    HRESULT STDMETHODCALLTYPE SetId(LPCWSTR id, WINBOOL createIfMissing) override {
        const std::wstring call = L"Category.SetId(" + NullableText(id) + L", " + std::to_wstring(createIfMissing) + L")";
        if (auto injected = InjectedResult(Op::CategorySetId)) return Logged(call, *injected);
        if (!id) return Logged(call, E_INVALIDARG);
        if (initialized_ || wine_) return Logged(call, SPERR_ALREADY_INITIALIZED);
        if (!IsVoicesCategory(id)) return Logged(call, OpenWineCategory(id, createIfMissing));
        if (IsCategoryMissing()) return Logged(call, SPERR_NOT_FOUND);
        initialized_ = true;
        id_ = id;
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        if (wine_) return wine_->GetId(id);
        if (!id) return E_POINTER;
        *id = nullptr;
        if (!initialized_) return SPERR_UNINITIALIZED;
        return CopyToTaskMemory(id_, id);
    }

    HRESULT STDMETHODCALLTYPE EnumTokens(LPCWSTR required, LPCWSTR optional, IEnumSpObjectTokens** tokens) override {
        if (wine_) return wine_->EnumTokens(required, optional, tokens);
        const std::wstring call = L"Category.EnumTokens(" + NullableText(required) + L", " + NullableText(optional) + L")";
        if (!tokens) return Logged(call, E_POINTER);
        *tokens = nullptr;
        if (auto injected = InjectedResult(Op::EnumTokens)) return Logged(call, *injected);
        if (!initialized_) return Logged(call, SPERR_UNINITIALIZED);
        *tokens = new TokenEnumerator(SelectVoices(ListedVoices(), required ? required : L"", optional ? optional : L""), 0);
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetDataKey(SPDATAKEYLOCATION location, ISpDataKey** key) override {
        if (wine_) return wine_->GetDataKey(location, key);
        if (key) *key = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultTokenId(LPCWSTR id) override {
        if (wine_) return wine_->SetDefaultTokenId(id);
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultTokenId(LPWSTR* id) override {
        if (wine_) return wine_->GetDefaultTokenId(id);
        if (!initialized_) return SPERR_UNINITIALIZED;  // the pointer untouched, as SAPI leaves it
        if (!id) return E_POINTER;
        *id = nullptr;
        std::vector<VoiceInfo> voices = InstalledVoices();
        if (voices.empty()) return SPERR_NOT_FOUND;
        return CopyToTaskMemory(voices.front().id, id);
    }

    HRESULT STDMETHODCALLTYPE SetData(LPCWSTR name, ULONG size, const BYTE* data) override {
        return wine_ ? wine_->SetData(name, size, data) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetData(LPCWSTR name, ULONG* size, BYTE* data) override {
        return wine_ ? wine_->GetData(name, size, data) : SPERR_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE SetStringValue(LPCWSTR name, LPCWSTR value) override {
        return wine_ ? wine_->SetStringValue(name, value) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR name, LPWSTR* value) override {
        if (wine_) return wine_->GetStringValue(name, value);
        if (!value) return E_POINTER;
        *value = nullptr;
        return SPERR_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE SetDWORD(LPCWSTR name, DWORD value) override {
        return wine_ ? wine_->SetDWORD(name, value) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDWORD(LPCWSTR name, DWORD* value) override {
        if (wine_) return wine_->GetDWORD(name, value);
        return value ? SPERR_NOT_FOUND : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE OpenKey(LPCWSTR name, ISpDataKey** key) override {
        if (wine_) return wine_->OpenKey(name, key);
        if (!key) return E_POINTER;
        *key = nullptr;
        return SPERR_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE CreateKey(LPCWSTR name, ISpDataKey** key) override {
        if (wine_) return wine_->CreateKey(name, key);
        if (!key) return E_POINTER;
        *key = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteKey(LPCWSTR name) override { return wine_ ? wine_->DeleteKey(name) : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR name) override {
        return wine_ ? wine_->DeleteValue(name) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumKeys(ULONG index, LPWSTR* name) override {
        if (wine_) return wine_->EnumKeys(index, name);
        if (!name) return E_POINTER;
        *name = nullptr;
        return SPERR_NO_MORE_ITEMS;
    }
    HRESULT STDMETHODCALLTYPE EnumValues(ULONG index, LPWSTR* name) override {
        if (wine_) return wine_->EnumValues(index, name);
        if (!name) return E_POINTER;
        *name = nullptr;
        return SPERR_NO_MORE_ITEMS;
    }

private:
    // Kept only once Wine's category has taken the id, so a failed SetId leaves this one unset.
    HRESULT OpenWineCategory(LPCWSTR id, WINBOOL createIfMissing) {
        ScopedComPtr<ISpObjectTokenCategory> wine;
        HRESULT result = CreateWineCategory(wine.Receive());
        if (SUCCEEDED(result)) result = wine->SetId(id, createIfMissing);
        if (SUCCEEDED(result)) wine_.Assign(wine.Get());
        return result;
    }

    bool initialized_ = false;
    std::wstring id_;
    ScopedComPtr<ISpObjectTokenCategory> wine_;
};

}  // namespace

HRESULT CreateCategory(REFIID iid, void** object) {
    ScopedComPtr<ISpObjectTokenCategory> category(new Category);
    return category->QueryInterface(iid, object);
}

ISpObjectToken* NewToken(const VoiceInfo& voice) { return new Token(voice); }

ISpObjectToken* NewTokenForId(const std::wstring& id) {
    VoiceInfo voice;
    if (!FindInstalledVoice(id, voice) && !FindRegisteredVoice(id, voice)) voice.id = id;
    return NewToken(voice);
}

bool OwnTokenId(ISpObjectToken* token, std::wstring& id) {
    void* own = nullptr;
    if (!token || FAILED(token->QueryInterface(OwnTokenIid, &own))) return false;
    ScopedComPtr<ISpObjectToken> held(static_cast<Token*>(own));
    id = static_cast<Token*>(own)->Id();
    return true;
}

}  // namespace engine
