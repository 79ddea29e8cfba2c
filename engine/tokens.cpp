#include "engine/tokens.h"

#include "engine/com_object.h"
#include "engine/sapi_codes.h"
#include "base/scoped.h"

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
    HRESULT STDMETHODCALLTYPE GetCategory(ISpObjectTokenCategory** category) override {
        if (category) *category = nullptr;
        return E_NOTIMPL;
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
        if (initialized_) return Logged(call, SPERR_ALREADY_INITIALIZED);
        bool isVoices = _wcsicmp(id, VoicesCategoryId) == 0 && !IsCategoryMissing();
        if (!isVoices && !createIfMissing) return Logged(call, SPERR_NOT_FOUND);
        initialized_ = true;
        holdsVoices_ = isVoices;
        id_ = id;
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = nullptr;
        if (!initialized_) return SPERR_UNINITIALIZED;
        return CopyToTaskMemory(id_, id);
    }

    HRESULT STDMETHODCALLTYPE EnumTokens(LPCWSTR required, LPCWSTR optional, IEnumSpObjectTokens** tokens) override {
        const std::wstring call = L"Category.EnumTokens(" + NullableText(required) + L", " + NullableText(optional) + L")";
        if (!tokens) return Logged(call, E_POINTER);
        *tokens = nullptr;
        if (auto injected = InjectedResult(Op::EnumTokens)) return Logged(call, *injected);
        if (!initialized_) return Logged(call, SPERR_UNINITIALIZED);
        if ((required && *required) || (optional && *optional)) return Logged(call, E_NOTIMPL);  // no attributes here
        *tokens = new TokenEnumerator(holdsVoices_ ? InstalledVoices() : std::vector<VoiceInfo>(), 0);
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetDataKey(SPDATAKEYLOCATION, ISpDataKey** key) override {
        if (key) *key = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultTokenId(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultTokenId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = nullptr;
        std::vector<VoiceInfo> voices = holdsVoices_ ? InstalledVoices() : std::vector<VoiceInfo>();
        if (voices.empty()) return SPERR_NOT_FOUND;
        return CopyToTaskMemory(voices.front().id, id);
    }

    HRESULT STDMETHODCALLTYPE SetData(LPCWSTR, ULONG, const BYTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetData(LPCWSTR, ULONG*, BYTE*) override { return SPERR_NOT_FOUND; }
    HRESULT STDMETHODCALLTYPE SetStringValue(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR, LPWSTR* value) override {
        if (value) *value = nullptr;
        return SPERR_NOT_FOUND;
    }
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
    HRESULT STDMETHODCALLTYPE EnumValues(ULONG, LPWSTR*) override { return SPERR_NO_MORE_ITEMS; }

private:
    bool initialized_ = false;
    bool holdsVoices_ = false;
    std::wstring id_;
};

}  // namespace

HRESULT CreateCategory(REFIID iid, void** object) {
    ScopedComPtr<ISpObjectTokenCategory> category(new Category);
    return category->QueryInterface(iid, object);
}

ISpObjectToken* NewToken(const VoiceInfo& voice) { return new Token(voice); }

ISpObjectToken* NewTokenForId(const std::wstring& id) {
    VoiceInfo voice;
    if (!FindInstalledVoice(id, voice)) voice.id = id;
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
