#include "engine/voice_automation.h"

#include "base/scoped.h"
#include "engine/engine.h"
#include "engine/sapi_codes.h"
#include "engine/tokens.h"
#include "engine/voice.h"

#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace engine {
namespace {

const GUID SpeechLibraryId = {0xC866CA3A, 0x32F7, 0x11D2, {0x96, 0x02, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28}};

// ---- Type information ----

struct TypeInfos {
    ITypeInfo* dispatching = nullptr;  // the vtable interface, which ITypeInfo::Invoke calls through
    ITypeInfo* described = nullptr;    // the dispatch interface
};

// Loaded once and kept for the process's life, like the engine itself (the server never unloads).
std::mutex TypeInfoLock;
ITypeLib* SpeechLibrary = nullptr;
std::map<std::wstring, TypeInfos> LoadedTypeInfos;

std::wstring GuidText(REFIID iid) {
    wchar_t text[40] = {};
    StringFromGUID2(iid, text, 40);
    return text;
}

HRESULT LoadTypeInfos(REFIID iid, TypeInfos& infos) {
    // Any 5.x library: LoadRegTypeLib takes the highest minor version registered.
    if (!SpeechLibrary) {
        HRESULT result = LoadRegTypeLib(SpeechLibraryId, 5, 0, LOCALE_NEUTRAL, &SpeechLibrary);
        if (FAILED(result)) return result;
    }
    ScopedComPtr<ITypeInfo> described, dispatching;
    HRESULT result = SpeechLibrary->GetTypeInfoOfGuid(iid, described.Receive());
    if (FAILED(result)) return result;
    // A dual interface is found as its dispatch interface; its vtable half is the implemented type -1.
    HREFTYPE vtableType = 0;
    if (SUCCEEDED(described->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableType))) {
        result = described->GetRefTypeInfo(vtableType, dispatching.Receive());
        if (FAILED(result)) return result;
    } else {
        dispatching.Assign(described.Get());
    }
    infos.described = described.Detach();
    infos.dispatching = dispatching.Detach();
    return S_OK;
}

// ---- Helpers ----

HRESULT NewBstr(const wchar_t* text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(text ? text : L"");
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A string a SAPI call gives in task memory, handed on as a new BSTR; null when the call fails.
template <typename Get>
HRESULT BstrOf(BSTR* out, Get get) {
    if (!out) return E_POINTER;
    *out = nullptr;
    TaskWideString text;
    HRESULT result = get(text.Receive());
    return SUCCEEDED(result) ? NewBstr(text.Get(), out) : result;
}

// An automation string: a null BSTR is the empty string.
const wchar_t* TextOf(BSTR text) { return text ? text : L""; }

// A string value of a token or data key, or empty.
std::wstring StringValue(ISpDataKey* key, const wchar_t* name) {
    TaskWideString value;
    if (FAILED(key->GetStringValue(name, value.Receive())) || !value) return std::wstring();
    return value.Get();
}

// IDispatch of an automation interface, from the SAPI type library.
template <typename Interface>
class Dispatched : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return SpeechTypeInfo(__uuidof(Interface), false, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ScopedComPtr<ITypeInfo> info;
        HRESULT result = SpeechTypeInfo(__uuidof(Interface), true, info.Receive());
        return SUCCEEDED(result) ? DispGetIDsOfNames(info.Get(), names, count, ids) : result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* returned, EXCEPINFO* exception, UINT* badArgument) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ScopedComPtr<ITypeInfo> info;
        HRESULT result = SpeechTypeInfo(__uuidof(Interface), true, info.Receive());
        if (FAILED(result)) return result;
        return info->Invoke(static_cast<Interface*>(this), member, flags, parameters, returned, exception, badArgument);
    }
};

// An automation object of its own (not a face of another): its own reference count.
template <typename Interface>
class AutomationObject : public Dispatched<Interface> {
public:
    virtual ~AutomationObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(Interface))) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return OtherInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    virtual HRESULT OtherInterface(REFIID, void** object) {
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    LONG references_ = 1;
};

// ---- A data key (a token is one too) ----

class DataKeyAutomation : public AutomationObject<ISpeechDataKey> {
public:
    explicit DataKeyAutomation(ISpDataKey* key) { key_.Assign(key); }

    HRESULT STDMETHODCALLTYPE SetBinaryValue(const BSTR name, VARIANT value) override {
        if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray || SafeArrayGetDim(value.parray) != 1) return E_INVALIDARG;
        void* data = nullptr;
        HRESULT result = SafeArrayAccessData(value.parray, &data);
        if (FAILED(result)) return result;
        result = key_->SetData(TextOf(name), value.parray->rgsabound[0].cElements, static_cast<const BYTE*>(data));
        SafeArrayUnaccessData(value.parray);
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetBinaryValue(const BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        ULONG size = 0;
        HRESULT result = key_->GetData(TextOf(name), &size, nullptr);
        if (FAILED(result)) return result;
        SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, size);
        if (!bytes) return E_OUTOFMEMORY;
        void* data = nullptr;
        result = SafeArrayAccessData(bytes, &data);
        if (SUCCEEDED(result)) {
            result = key_->GetData(TextOf(name), &size, static_cast<BYTE*>(data));
            SafeArrayUnaccessData(bytes);
        }
        if (FAILED(result)) {
            SafeArrayDestroy(bytes);
            return result;
        }
        value->vt = VT_ARRAY | VT_UI1;
        value->parray = bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStringValue(const BSTR name, const BSTR value) override {
        return key_->SetStringValue(TextOf(name), TextOf(value));
    }
    HRESULT STDMETHODCALLTYPE GetStringValue(const BSTR name, BSTR* value) override {
        return BstrOf(value, [&](LPWSTR* text) { return key_->GetStringValue(TextOf(name), text); });
    }
    HRESULT STDMETHODCALLTYPE SetLongValue(const BSTR name, LONG value) override {
        return key_->SetDWORD(TextOf(name), static_cast<DWORD>(value));
    }
    HRESULT STDMETHODCALLTYPE GetLongValue(const BSTR name, LONG* value) override {
        if (!value) return E_POINTER;
        DWORD number = 0;
        HRESULT result = key_->GetDWORD(TextOf(name), &number);
        *value = static_cast<LONG>(number);
        return result;
    }
    HRESULT STDMETHODCALLTYPE OpenKey(const BSTR name, ISpeechDataKey** key) override {
        return SubKey(key, [&](ISpDataKey** sub) { return key_->OpenKey(TextOf(name), sub); });
    }
    HRESULT STDMETHODCALLTYPE CreateKey(const BSTR name, ISpeechDataKey** key) override {
        return SubKey(key, [&](ISpDataKey** sub) { return key_->CreateKey(TextOf(name), sub); });
    }
    HRESULT STDMETHODCALLTYPE DeleteKey(const BSTR name) override { return key_->DeleteKey(TextOf(name)); }
    HRESULT STDMETHODCALLTYPE DeleteValue(const BSTR name) override { return key_->DeleteValue(TextOf(name)); }
    HRESULT STDMETHODCALLTYPE EnumKeys(LONG index, BSTR* name) override {
        return Enumerated(name, [&](LPWSTR* text) { return key_->EnumKeys(static_cast<ULONG>(index), text); });
    }
    HRESULT STDMETHODCALLTYPE EnumValues(LONG index, BSTR* name) override {
        return Enumerated(name, [&](LPWSTR* text) { return key_->EnumValues(static_cast<ULONG>(index), text); });
    }

private:
    template <typename Open>
    static HRESULT SubKey(ISpeechDataKey** key, Open open) {
        if (!key) return E_POINTER;
        *key = nullptr;
        ScopedComPtr<ISpDataKey> sub;
        HRESULT result = open(sub.Receive());
        if (SUCCEEDED(result) && sub) *key = new DataKeyAutomation(sub.Get());
        return result;
    }
    template <typename Enumerate>
    static HRESULT Enumerated(BSTR* name, Enumerate enumerate) {
        if (!name) return E_POINTER;
        *name = nullptr;
        TaskWideString text;
        HRESULT result = enumerate(text.Receive());
        return result == S_OK ? NewBstr(text.Get(), name) : result;
    }

    ScopedComPtr<ISpDataKey> key_;
};

HRESULT ListTokens(const wchar_t* categoryId, BSTR required, BSTR optional, ISpeechObjectTokens** out);

// ---- A token category ----

class CategoryAutomation : public AutomationObject<ISpeechObjectTokenCategory> {
public:
    explicit CategoryAutomation(ISpObjectTokenCategory* category) { category_.Assign(category); }

    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override {
        return BstrOf(id, [&](LPWSTR* text) { return category_->GetId(text); });
    }
    HRESULT STDMETHODCALLTYPE put_Default(const BSTR id) override { return category_->SetDefaultTokenId(TextOf(id)); }
    HRESULT STDMETHODCALLTYPE get_Default(BSTR* id) override {
        return BstrOf(id, [&](LPWSTR* text) { return category_->GetDefaultTokenId(text); });
    }
    HRESULT STDMETHODCALLTYPE SetId(const BSTR, VARIANT_BOOL) override { return SPERR_ALREADY_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE GetDataKey(SpeechDataKeyLocation location, ISpeechDataKey** key) override {
        if (!key) return E_POINTER;
        *key = nullptr;
        ScopedComPtr<ISpDataKey> data;
        HRESULT result = category_->GetDataKey(static_cast<SPDATAKEYLOCATION>(location), data.Receive());
        if (SUCCEEDED(result) && data) *key = new DataKeyAutomation(data.Get());
        return result;
    }
    HRESULT STDMETHODCALLTYPE EnumerateTokens(BSTR required, BSTR optional, ISpeechObjectTokens** tokens) override {
        if (!tokens) return E_POINTER;
        *tokens = nullptr;
        TaskWideString id;
        HRESULT result = category_->GetId(id.Receive());
        return SUCCEEDED(result) ? ListTokens(id.Get(), required, optional, tokens) : result;
    }

private:
    ScopedComPtr<ISpObjectTokenCategory> category_;
};

// ---- A token ----

class TokenAutomation : public AutomationObject<ISpeechObjectToken> {
public:
    explicit TokenAutomation(ISpObjectToken* token) { token_.Assign(token); }

    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override {
        return BstrOf(id, [&](LPWSTR* text) { return token_->GetId(text); });
    }
    HRESULT STDMETHODCALLTYPE get_DataKey(ISpeechDataKey** key) override {
        if (!key) return E_POINTER;
        *key = new DataKeyAutomation(token_.Get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Category(ISpeechObjectTokenCategory** category) override {
        if (!category) return E_POINTER;
        *category = nullptr;
        ScopedComPtr<ISpObjectTokenCategory> found;
        HRESULT result = token_->GetCategory(found.Receive());
        if (SUCCEEDED(result) && found) *category = new CategoryAutomation(found.Get());
        return result;
    }

    // The value named by the locale's language id in hexadecimal ("409"), or else the default value,
    // as SAPI describes a token.
    HRESULT STDMETHODCALLTYPE GetDescription(LONG locale, BSTR* description) override {
        if (!description) return E_POINTER;
        *description = nullptr;
        const LANGID language = locale ? LANGIDFROMLCID(static_cast<LCID>(locale)) : GetUserDefaultUILanguage();
        wchar_t name[8];
        std::swprintf(name, 8, L"%X", language);
        std::wstring text = StringValue(token_.Get(), name);
        if (text.empty()) text = StringValue(token_.Get(), nullptr);
        return text.empty() ? SPERR_NOT_FOUND : NewBstr(text.c_str(), description);
    }
    HRESULT STDMETHODCALLTYPE SetId(BSTR, BSTR, VARIANT_BOOL) override { return SPERR_ALREADY_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE GetAttribute(BSTR name, BSTR* value) override {
        return BstrOf(value, [&](LPWSTR* text) {
            ScopedComPtr<ISpDataKey> attributes;
            HRESULT result = token_->OpenKey(L"Attributes", attributes.Receive());
            return SUCCEEDED(result) ? attributes->GetStringValue(TextOf(name), text) : result;
        });
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, SpeechTokenContext context, IUnknown** object) override {
        if (!object) return E_POINTER;
        return token_->CreateInstance(outer, static_cast<DWORD>(context), IID_IUnknown, reinterpret_cast<void**>(object));
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStorageFileName(BSTR, BSTR, BSTR, SpeechTokenShellFolder, BSTR* path) override {
        return NotOffered(path);
    }
    HRESULT STDMETHODCALLTYPE RemoveStorageFileName(BSTR, BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUISupported(const BSTR, const VARIANT*, IUnknown*, VARIANT_BOOL* supported) override {
        if (!supported) return E_POINTER;
        *supported = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisplayUI(LONG, BSTR, const BSTR, const VARIANT*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MatchesAttributes(BSTR attributes, VARIANT_BOOL* matches) override {
        if (!matches) return E_POINTER;
        WINBOOL found = FALSE;
        HRESULT result = token_->MatchesAttributes(TextOf(attributes), &found);
        *matches = found ? VARIANT_TRUE : VARIANT_FALSE;
        return result;
    }

protected:
    // The token underneath, so a voice set from a script (putref_Voice) finds it.
    HRESULT OtherInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, __uuidof(ISpObjectToken)) || IsEqualIID(iid, __uuidof(ISpDataKey))) {
            return token_->QueryInterface(iid, object);
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    template <typename T>
    static HRESULT NotOffered(T** out) {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    ScopedComPtr<ISpObjectToken> token_;
};

using TokenList = std::vector<ScopedComPtr<ISpObjectToken>>;

HRESULT NewTokenDispatch(ISpObjectToken* token, IDispatch** out) {
    *out = new TokenAutomation(token);
    return S_OK;
}

// For Each over a token collection.
class TokenVariants : public IEnumVARIANT {
public:
    TokenVariants(std::shared_ptr<const TokenList> tokens, size_t next) : tokens_(std::move(tokens)), next_(next) {}
    virtual ~TokenVariants() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumVARIANT)) {
            *object = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!items || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && next_ < tokens_->size(); ++given, ++next_) {
            VariantInit(&items[given]);
            items[given].vt = VT_DISPATCH;
            NewTokenDispatch((*tokens_)[next_].Get(), &items[given].pdispVal);
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = tokens_->size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        if (!copy) return E_POINTER;
        *copy = new TokenVariants(tokens_, next_);
        return S_OK;
    }

private:
    std::shared_ptr<const TokenList> tokens_;
    size_t next_;
    LONG references_ = 1;
};

class TokensAutomation : public AutomationObject<ISpeechObjectTokens> {
public:
    explicit TokensAutomation(TokenList tokens) : tokens_(std::make_shared<TokenList>(std::move(tokens))) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(tokens_->size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(LONG index, ISpeechObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= tokens_->size()) return E_INVALIDARG;
        *token = new TokenAutomation((*tokens_)[index].Get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override {
        if (!enumerator) return E_POINTER;
        *enumerator = new TokenVariants(tokens_, 0);
        return S_OK;
    }

private:
    std::shared_ptr<const TokenList> tokens_;
};

// The tokens of a category, as its EnumTokens lists them.
HRESULT ListTokens(const wchar_t* categoryId, BSTR required, BSTR optional, ISpeechObjectTokens** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ScopedComPtr<ISpObjectTokenCategory> category;
    ScopedComPtr<IEnumSpObjectTokens> found;
    HRESULT result = CreateCategory(__uuidof(ISpObjectTokenCategory), category.ReceiveVoid());
    if (SUCCEEDED(result)) result = category->SetId(categoryId, FALSE);
    if (SUCCEEDED(result)) result = category->EnumTokens(TextOf(required), TextOf(optional), found.Receive());
    if (FAILED(result)) return result;
    TokenList tokens;
    for (;;) {
        ScopedComPtr<ISpObjectToken> token;
        if (found->Next(1, token.Receive(), nullptr) != S_OK || !token) break;
        tokens.push_back(std::move(token));
    }
    *out = new TokensAutomation(std::move(tokens));
    return S_OK;
}

// ---- The voice's status, as it was when asked ----

class StatusAutomation : public AutomationObject<ISpeechVoiceStatus> {
public:
    StatusAutomation(const SPVOICESTATUS& status, std::wstring bookmark) : status_(status), bookmark_(std::move(bookmark)) {}

    HRESULT STDMETHODCALLTYPE get_CurrentStreamNumber(LONG* value) override { return Give(value, status_.ulCurrentStream); }
    HRESULT STDMETHODCALLTYPE get_LastStreamNumberQueued(LONG* value) override {
        return Give(value, status_.ulLastStreamQueued);
    }
    HRESULT STDMETHODCALLTYPE get_LastHResult(LONG* value) override { return Give(value, status_.hrLastResult); }
    HRESULT STDMETHODCALLTYPE get_RunningState(SpeechRunState* state) override {
        if (!state) return E_POINTER;
        *state = static_cast<SpeechRunState>(status_.dwRunningState);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_InputWordPosition(LONG* value) override { return Give(value, status_.ulInputWordPos); }
    HRESULT STDMETHODCALLTYPE get_InputWordLength(LONG* value) override { return Give(value, status_.ulInputWordLen); }
    HRESULT STDMETHODCALLTYPE get_InputSentencePosition(LONG* value) override {
        return Give(value, status_.ulInputSentPos);
    }
    HRESULT STDMETHODCALLTYPE get_InputSentenceLength(LONG* value) override {
        return Give(value, status_.ulInputSentLen);
    }
    HRESULT STDMETHODCALLTYPE get_LastBookmark(BSTR* bookmark) override { return NewBstr(bookmark_.c_str(), bookmark); }
    HRESULT STDMETHODCALLTYPE get_LastBookmarkId(LONG* value) override { return Give(value, status_.lBookmarkId); }
    HRESULT STDMETHODCALLTYPE get_PhonemeId(short* value) override { return Give(value, status_.PhonemeId); }
    HRESULT STDMETHODCALLTYPE get_VisemeId(short* value) override { return Give(value, status_.VisemeId); }

private:
    template <typename Out, typename In>
    static HRESULT Give(Out* out, In value) {
        if (!out) return E_POINTER;
        *out = static_cast<Out>(value);
        return S_OK;
    }

    SPVOICESTATUS status_;
    std::wstring bookmark_;
};

// ---- The voice ----

class VoiceAutomation final : public Dispatched<ISpeechVoice> {
public:
    VoiceAutomation(ISpVoice* owner, std::shared_ptr<VoiceCore> core) : voice_(owner), core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override { return voice_->QueryInterface(iid, object); }
    ULONG STDMETHODCALLTYPE AddRef() override { return voice_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return voice_->Release(); }

    HRESULT STDMETHODCALLTYPE get_Status(ISpeechVoiceStatus** status) override {
        if (!status) return E_POINTER;
        *status = nullptr;
        SPVOICESTATUS now = {};
        TaskWideString bookmark;
        HRESULT result = voice_->GetStatus(&now, bookmark.Receive());
        if (FAILED(result)) return result;
        *status = new StatusAutomation(now, bookmark ? bookmark.Get() : L"");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Voice(ISpeechObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = nullptr;
        ScopedComPtr<ISpObjectToken> voice;
        HRESULT result = voice_->GetVoice(voice.Receive());
        if (FAILED(result)) return result;
        *token = new TokenAutomation(voice.Get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE putref_Voice(ISpeechObjectToken* token) override {
        if (!token) return voice_->SetVoice(nullptr);
        ScopedComPtr<ISpObjectToken> voice;
        if (FAILED(token->QueryInterface(__uuidof(ISpObjectToken), voice.ReceiveVoid()))) return E_INVALIDARG;
        return voice_->SetVoice(voice.Get());
    }

    // The output's token (the sound device's when none was chosen); Nothing for a stream. Setting
    // Nothing chooses the sound device.
    HRESULT STDMETHODCALLTYPE get_AudioOutput(ISpeechObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = nullptr;
        ScopedComPtr<ISpObjectToken> output;
        HRESULT result = voice_->GetOutputObjectToken(output.Receive());
        if (result == S_OK && output) *token = new TokenAutomation(output.Get());
        return FAILED(result) ? result : S_OK;
    }
    HRESULT STDMETHODCALLTYPE putref_AudioOutput(ISpeechObjectToken* token) override {
        if (!token) return voice_->SetOutput(nullptr, allowFormatChanges_);
        ScopedComPtr<ISpObjectToken> output;
        if (FAILED(token->QueryInterface(__uuidof(ISpObjectToken), output.ReceiveVoid()))) return E_INVALIDARG;
        return voice_->SetOutput(output.Get(), allowFormatChanges_);
    }
    HRESULT STDMETHODCALLTYPE get_AudioOutputStream(ISpeechBaseStream** stream) override {
        if (!stream) return E_POINTER;
        *stream = nullptr;
        ScopedComPtr<ISpStreamFormat> output;
        HRESULT result = voice_->GetOutputStream(output.Receive());
        if (FAILED(result)) return result == SPERR_NOT_FOUND ? S_OK : result;  // Nothing: the sound device
        return output->QueryInterface(__uuidof(ISpeechBaseStream), reinterpret_cast<void**>(stream));
    }
    HRESULT STDMETHODCALLTYPE putref_AudioOutputStream(ISpeechBaseStream* stream) override {
        return voice_->SetOutput(stream, allowFormatChanges_);
    }

    HRESULT STDMETHODCALLTYPE get_Rate(LONG* rate) override { return voice_->GetRate(rate); }
    HRESULT STDMETHODCALLTYPE put_Rate(LONG rate) override { return voice_->SetRate(rate); }
    HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) override {
        if (!volume) return E_POINTER;
        USHORT value = 0;
        HRESULT result = voice_->GetVolume(&value);
        *volume = value;
        return result;
    }
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override {
        if (volume < 0 || volume > 100) return E_INVALIDARG;
        return voice_->SetVolume(static_cast<USHORT>(volume));
    }
    HRESULT STDMETHODCALLTYPE put_AllowAudioOutputFormatChangesOnNextSet(VARIANT_BOOL allow) override {
        allowFormatChanges_ = allow ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_AllowAudioOutputFormatChangesOnNextSet(VARIANT_BOOL* allow) override {
        if (!allow) return E_POINTER;
        *allow = allowFormatChanges_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    // SpeechVoiceEvents are the event bits of SetInterest without its two check bits. They choose what
    // connected clients are sent (voice_events.h); ISpVoice's own interest is left as the program set it.
    HRESULT STDMETHODCALLTYPE get_EventInterests(SpeechVoiceEvents* interests) override {
        if (!interests) return E_POINTER;
        std::lock_guard<std::mutex> guard(core_->lock);
        *interests = static_cast<SpeechVoiceEvents>(core_->automationInterest);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_EventInterests(SpeechVoiceEvents interests) override {
        if (static_cast<ULONG>(interests) & ~static_cast<ULONG>(SVEAllEvents)) return E_INVALIDARG;
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->automationInterest = static_cast<ULONG>(interests);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Priority(SpeechVoicePriority priority) override {
        return voice_->SetPriority(static_cast<SPVPRIORITY>(priority));
    }
    HRESULT STDMETHODCALLTYPE get_Priority(SpeechVoicePriority* priority) override {
        return voice_->GetPriority(reinterpret_cast<SPVPRIORITY*>(priority));
    }
    HRESULT STDMETHODCALLTYPE put_AlertBoundary(SpeechVoiceEvents boundary) override {
        return voice_->SetAlertBoundary(static_cast<SPEVENTENUM>(boundary));
    }
    HRESULT STDMETHODCALLTYPE get_AlertBoundary(SpeechVoiceEvents* boundary) override {
        return voice_->GetAlertBoundary(reinterpret_cast<SPEVENTENUM*>(boundary));
    }
    HRESULT STDMETHODCALLTYPE put_SynchronousSpeakTimeout(LONG milliseconds) override {
        return voice_->SetSyncSpeakTimeout(static_cast<ULONG>(milliseconds));
    }
    HRESULT STDMETHODCALLTYPE get_SynchronousSpeakTimeout(LONG* milliseconds) override {
        return voice_->GetSyncSpeakTimeout(reinterpret_cast<ULONG*>(milliseconds));
    }

    // SpeechVoiceSpeakFlags are SPEAKFLAGS.
    HRESULT STDMETHODCALLTYPE Speak(BSTR text, SpeechVoiceSpeakFlags flags, LONG* streamNumber) override {
        ULONG number = 0;
        // A script's empty string arrives as a null BSTR; only a purge may have no text.
        const wchar_t* spoken = text || (flags & SVSFPurgeBeforeSpeak) ? text : L"";
        HRESULT result = voice_->Speak(spoken, static_cast<DWORD>(flags), &number);
        if (streamNumber) *streamNumber = static_cast<LONG>(number);
        return result;
    }
    HRESULT STDMETHODCALLTYPE SpeakStream(ISpeechBaseStream* stream, SpeechVoiceSpeakFlags flags, LONG* streamNumber) override {
        ULONG number = 0;
        ScopedComPtr<IStream> input;
        if (!stream || FAILED(stream->QueryInterface(IID_IStream, input.ReceiveVoid()))) return E_INVALIDARG;
        HRESULT result = voice_->SpeakStream(input.Get(), static_cast<DWORD>(flags), &number);
        if (streamNumber) *streamNumber = static_cast<LONG>(number);
        return result;
    }
    HRESULT STDMETHODCALLTYPE Pause() override { return voice_->Pause(); }
    HRESULT STDMETHODCALLTYPE Resume() override { return voice_->Resume(); }
    HRESULT STDMETHODCALLTYPE Skip(const BSTR type, LONG items, LONG* skipped) override {
        if (!skipped) return E_POINTER;
        ULONG count = 0;
        HRESULT result = voice_->Skip(TextOf(type), items, &count);
        *skipped = static_cast<LONG>(count);
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetVoices(BSTR required, BSTR optional, ISpeechObjectTokens** tokens) override {
        return ListTokens(VoicesCategoryId, required, optional, tokens);
    }
    HRESULT STDMETHODCALLTYPE GetAudioOutputs(BSTR required, BSTR optional, ISpeechObjectTokens** tokens) override {
        return ListTokens(AudioOutputsCategoryId, required, optional, tokens);
    }
    HRESULT STDMETHODCALLTYPE WaitUntilDone(LONG milliseconds, VARIANT_BOOL* done) override {
        if (!done) return E_POINTER;
        HRESULT result = voice_->WaitUntilDone(milliseconds < 0 ? INFINITE : static_cast<ULONG>(milliseconds));
        *done = result == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
        return FAILED(result) ? result : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SpeakCompleteEvent(LONG* handle) override {
        if (!handle) return E_POINTER;
        *handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(voice_->SpeakCompleteEvent()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsUISupported(const BSTR, const VARIANT*, VARIANT_BOOL* supported) override {
        if (!supported) return E_POINTER;
        *supported = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisplayUI(LONG, BSTR, const BSTR, const VARIANT*) override { return E_NOTIMPL; }

private:
    ISpVoice* voice_;  // the owner, which keeps this face
    std::shared_ptr<VoiceCore> core_;
    WINBOOL allowFormatChanges_ = TRUE;
};

}  // namespace

HRESULT SpeechTypeInfo(REFIID iid, bool forDispatching, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    std::lock_guard<std::mutex> guard(TypeInfoLock);
    const std::wstring key = GuidText(iid);
    auto found = LoadedTypeInfos.find(key);
    if (found == LoadedTypeInfos.end()) {
        TypeInfos loaded;
        HRESULT result = LoadTypeInfos(iid, loaded);
        if (FAILED(result)) return result;
        found = LoadedTypeInfos.emplace(key, loaded).first;
    }
    *info = forDispatching ? found->second.dispatching : found->second.described;
    (*info)->AddRef();
    return S_OK;
}

ISpeechObjectToken* NewTokenAutomation(ISpObjectToken* token) { return new TokenAutomation(token); }

ISpeechVoice* NewVoiceAutomation(ISpVoice* owner, std::shared_ptr<VoiceCore> core) {
    return new VoiceAutomation(owner, std::move(core));
}

void DeleteVoiceAutomation(ISpeechVoice* automation) { delete static_cast<VoiceAutomation*>(automation); }

}  // namespace engine
