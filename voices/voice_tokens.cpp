#include "voices/voice_tokens.h"

#include <climits>
#include <string>

#include "plugin/scoped.h"

const wchar_t VOICE_CATEGORY_ID[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

HRESULT OpenTokenCategory(const wchar_t* categoryId, ISpObjectTokenCategory** category) {
    *category = nullptr;
    ScopedComPtr<ISpObjectTokenCategory> created;
    HRESULT hr = CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_ISpObjectTokenCategory, created.ReceiveVoid());
    if (FAILED(hr)) return hr;
    hr = created->SetId(categoryId, FALSE);
    if (FAILED(hr)) return hr;
    *category = created.Detach();
    return hr;
}

HRESULT EnumCategoryTokens(const wchar_t* categoryId, const wchar_t* requiredAttributes,
                           const wchar_t* optionalAttributes, IEnumSpObjectTokens** tokens) {
    *tokens = nullptr;
    ScopedComPtr<ISpObjectTokenCategory> category;
    HRESULT hr = OpenTokenCategory(categoryId, category.Receive());
    if (FAILED(hr)) return hr;
    return category->EnumTokens(requiredAttributes, optionalAttributes, tokens);
}

// ---- The user's interface language ----

UiLanguageSource UiLanguageSourceOf(DWORD platformId, DWORD majorVersion) {
    if (platformId == VER_PLATFORM_WIN32_NT)
        return majorVersion >= 5 ? UiLanguageSource::SystemCall : UiLanguageSource::Nt4LocaleRegistry;
    return UiLanguageSource::Win9xLocaleRegistry;
}

static int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

long ParseHexClamped(const char* text) {
    while (IsBlank(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    // "0x" is a prefix only when a digit follows; otherwise the 0 is the number.
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigitValue(text[2]) >= 0) text += 2;

    // Once past 2^32 the magnitude is out of range whatever follows, so it stops growing there.
    const long long saturated = 1LL << 32;
    long long magnitude = 0;
    for (int digit; (digit = HexDigitValue(*text)) >= 0; ++text)
        if (magnitude < saturated) magnitude = magnitude * 16 + digit;

    long long value = negative ? -magnitude : magnitude;
    if (value > LONG_MAX) return LONG_MAX;
    if (value < LONG_MIN) return LONG_MIN;
    return static_cast<long>(value);
}

LANGID LanguageOfLocaleText(const char* text) {
    return static_cast<LANGID>(ParseHexClamped(text) & 0xFFFF);
}

LANGID SubstituteNt4Language(LANGID language) {
    const LANGID arabicSaudiArabia = 0x0401, hebrew = 0x040D, thai = 0x041E;
    if (language == arabicSaudiArabia || language == hebrew || language == thai) return 0x0409;
    return language;
}

// The language named by a registry text under HKEY_USERS; 0 when the key or value cannot be read
// into a buffer of bufferSize bytes.
static LANGID LanguageFromUserRegistry(const char* subKey, const char* valueName, DWORD bufferSize) {
    ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_USERS, subKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return 0;
    std::string text(bufferSize + 1, '\0');  // one spare byte keeps a full buffer terminated
    DWORD size = bufferSize;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS)
        return 0;
    return LanguageOfLocaleText(text.c_str());
}

// GetUserDefaultUILanguage exists from Windows 2000 on; looked up so that older systems still load us.
static LANGID LanguageFromSystemCall() {
    ScopedLibrary kernel(LoadLibraryW(L"kernel32.dll"));
    if (!kernel.Get()) return 0;
    typedef LANGID(WINAPI * GetUiLanguageFunc)();
    auto getUiLanguage =
        reinterpret_cast<GetUiLanguageFunc>(GetProcAddress(kernel.Get(), "GetUserDefaultUILanguage"));
    return getUiLanguage ? getUiLanguage() : 0;
}

// The platform's own answer; 0 when it gives none.
static LANGID PlatformUiLanguage() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 0;
    switch (UiLanguageSourceOf(version.dwPlatformId, version.dwMajorVersion)) {
    case UiLanguageSource::SystemCall:
        return LanguageFromSystemCall();
    case UiLanguageSource::Nt4LocaleRegistry:
        return SubstituteNt4Language(
            LanguageFromUserRegistry(".DEFAULT\\Control Panel\\International", "Locale", 64));
    case UiLanguageSource::Win9xLocaleRegistry:
        return LanguageFromUserRegistry(".Default\\Control Panel\\desktop\\ResourceLocale", nullptr, 32);
    }
    return 0;
}

LANGID UserUiLanguage() {
    LANGID language = PlatformUiLanguage();
    return language != 0 ? language : GetUserDefaultLangID();
}

// ---- Descriptions ----

void LanguageValueName(LANGID language, wchar_t name[LANGUAGE_VALUE_NAME_SIZE]) {
    const wchar_t digits[] = L"0123456789ABCDEF";
    wchar_t reversed[LANGUAGE_VALUE_NAME_SIZE];
    int count = 0;
    unsigned value = language;
    do {
        reversed[count++] = digits[value % 16];
        value /= 16;
    } while (value != 0);
    for (int i = 0; i < count; ++i) name[i] = reversed[count - 1 - i];
    name[count] = L'\0';
}

HRESULT GetTokenDescription(ISpObjectToken* token, LANGID language, wchar_t** description) {
    *description = nullptr;
    wchar_t valueName[LANGUAGE_VALUE_NAME_SIZE];
    LanguageValueName(language, valueName);
    HRESULT hr = token->GetStringValue(valueName, description);
    // Only a missing value falls back to the default value; any other failure is the answer.
    if (hr == SPERR_NOT_FOUND) hr = token->GetStringValue(nullptr, description);
    return hr;
}

// ---- The token list box ----

static std::string ToAnsi(const wchar_t* text) {
    if (!text) return std::string();  // a description call that succeeded without a string
    int units = lstrlenW(text);
    std::string ansi(2 * units + 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(lstrlenA(ansi.c_str()));
    return ansi;
}

struct TokenListMessages {
    UINT addString, setItemData, setSelection;
};

// Adds one item for the token; on success the item holds the caller's reference to it.
static HRESULT AddTokenItem(const TokenListMessages& messages, HWND list, ISpObjectToken* token,
                            bool* itemSelected) {
    ScopedTaskMem<wchar_t> description;
    HRESULT hr = GetTokenDescription(token, UserUiLanguage(), description.Receive());
    if (FAILED(hr)) return hr;
    std::string text = ToAnsi(description.Get());
    LRESULT index = SendMessageA(list, messages.addString, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE) return E_OUTOFMEMORY;
    SendMessageA(list, messages.setItemData, index, reinterpret_cast<LPARAM>(token));
    if (!*itemSelected) {
        SendMessageA(list, messages.setSelection, index, 0);
        *itemSelected = true;
    }
    return hr;
}

HRESULT FillTokenList(UINT addStringMessage, UINT setItemDataMessage, UINT setSelectionMessage,
                      HWND list, const wchar_t* categoryId, const wchar_t* requiredAttributes,
                      const wchar_t* optionalAttributes) {
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    if (EnumCategoryTokens(categoryId, requiredAttributes, optionalAttributes, tokens.Receive()) != S_OK)
        return SPERR_NO_MORE_ITEMS;

    const TokenListMessages messages = {addStringMessage, setItemDataMessage, setSelectionMessage};
    HRESULT result = S_OK;
    bool itemSelected = false;
    for (;;) {
        ScopedComPtr<ISpObjectToken> token;
        if (tokens->Next(1, token.Receive(), nullptr) != S_OK) break;
        result = AddTokenItem(messages, list, token.Get(), &itemSelected);
        if (SUCCEEDED(result)) token.Detach();  // the item owns the reference now
    }
    return result;
}

ISpObjectToken* SelectedListToken(HWND list) {
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return nullptr;
    return reinterpret_cast<ISpObjectToken*>(SendMessageA(list, LB_GETITEMDATA, index, 0));
}

void ReleaseTokenList(UINT countMessage, UINT getItemDataMessage, HWND list) {
    LRESULT count = SendMessageA(list, countMessage, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        auto token = reinterpret_cast<ISpObjectToken*>(SendMessageA(list, getItemDataMessage, index, 0));
        if (token) token->Release();
    }
}
