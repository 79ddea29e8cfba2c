#include "voices/voice_list.h"

#include <string>

#include "base/scoped.h"
#include "voices/ui_language.h"
#include "voices/voice_tokens.h"

namespace {

std::string ToAnsi(const wchar_t* text) {
    if (!text) return std::string();  // a description call that succeeded without a string
    int units = lstrlenW(text);
    std::string ansi(2 * units + 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(lstrlenA(ansi.c_str()));
    return ansi;
}

ISpObjectToken* ItemToken(HWND list, LRESULT index) {
    return reinterpret_cast<ISpObjectToken*>(SendMessageA(list, LB_GETITEMDATA, index, 0));
}

// Adds one item for the token; on success the item holds the caller's reference to it.
HRESULT AddTokenItem(HWND list, ISpObjectToken* token, bool* itemSelected) {
    ScopedTaskMem<wchar_t> description;
    HRESULT hr = GetTokenDescription(token, UserUiLanguage(), description.Receive());
    if (FAILED(hr)) return hr;
    std::string text = ToAnsi(description.Get());
    LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE) return E_OUTOFMEMORY;
    SendMessageA(list, LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(token));
    if (!*itemSelected) {
        SendMessageA(list, LB_SETCURSEL, index, 0);
        *itemSelected = true;
    }
    return hr;
}

}  // namespace

HRESULT FillTokenList(HWND list) {
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    if (EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive()) != S_OK)
        return SPERR_NO_MORE_ITEMS;

    HRESULT result = S_OK;
    bool itemSelected = false;
    for (;;) {
        ScopedComPtr<ISpObjectToken> token;
        if (tokens->Next(1, token.Receive(), nullptr) != S_OK) break;
        result = AddTokenItem(list, token.Get(), &itemSelected);
        if (SUCCEEDED(result)) token.Detach();  // the item owns the reference now
    }
    return result;
}

bool SelectListVoice(HWND list, const wchar_t* id) {
    if (!id) return false;
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        if (TokenHasId(ItemToken(list, index), id)) {
            SendMessageA(list, LB_SETCURSEL, index, 0);
            return true;
        }
    }
    return false;
}

ISpObjectToken* SelectedListToken(HWND list) {
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return nullptr;
    return ItemToken(list, index);
}

void ReleaseTokenList(HWND list) {
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        ISpObjectToken* token = ItemToken(list, index);
        SendMessageA(list, LB_SETITEMDATA, index, 0);
        if (token) token->Release();
    }
}
