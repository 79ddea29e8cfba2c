#include "voices/voice_tokens.h"

#include "base/sapi_names.h"
#include "base/scoped.h"
#include "voices/task_wide_string.h"

HRESULT OpenTokenCategory(const wchar_t* categoryId, ISpObjectTokenCategory** category) {
    *category = nullptr;
    ScopedComPtr<ISpObjectTokenCategory> created;
    HRESULT hr = CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, SAPI_CLASS_CONTEXT,
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

bool TokenHasId(ISpObjectToken* token, const wchar_t* id) {
    ScopedTaskMem<wchar_t> tokenId;
    if (!token || FAILED(token->GetId(tokenId.Receive())) || !tokenId.Get()) return false;
    return CompareWide(tokenId.Get(), id) == 0;
}

HRESULT FindVoiceToken(const wchar_t* id, ISpObjectToken** token, ErrorSite* failedAt) {
    *token = nullptr;
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    HRESULT hr = EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive());
    if (FAILED(hr)) {
        *failedAt = SITE_ENUM_VOICES;
        return hr;
    }
    for (;;) {
        ScopedComPtr<ISpObjectToken> candidate;
        hr = tokens->Next(1, candidate.Receive(), nullptr);
        if (FAILED(hr)) {
            *failedAt = SITE_NEXT_VOICE;
            return hr;
        }
        if (hr != S_OK) return S_OK;  // no more voices
        // Unlike TokenHasId, an id that cannot be read is a failure to report here.
        ScopedTaskMem<wchar_t> candidateId;
        hr = candidate->GetId(candidateId.Receive());
        if (FAILED(hr)) {
            *failedAt = SITE_VOICE_ID;
            return hr;
        }
        if (candidateId.Get() && CompareWide(candidateId.Get(), id) == 0) {
            *token = candidate.Detach();
            return S_OK;
        }
    }
}
