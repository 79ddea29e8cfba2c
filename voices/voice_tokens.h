// The installed voices as the plug-in sees them: token categories and their enumeration, voice
// descriptions in the user's interface language, and a list box whose items carry voice tokens.
#pragma once

#include <windows.h>
#include <sapi.h>
#include <sperror.h>

#include "voices/task_wide_string.h"

// The engine's "no more items", which the headers at hand do not name.
#ifndef SPERR_NO_MORE_ITEMS
#define SPERR_NO_MORE_ITEMS MAKE_SAPI_ERROR(0x0039)
#endif

// Token category id of the installed voices.
extern const wchar_t VOICE_CATEGORY_ID[];

// Opens a token category (not creating a missing one). On success *category holds one reference
// that the caller owns; on failure it is null and the failing HRESULT is returned.
HRESULT OpenTokenCategory(const wchar_t* categoryId, ISpObjectTokenCategory** category);

// Enumerates the tokens of a category; attributes may be null. On success *tokens holds one
// reference that the caller owns; the category itself is released before returning.
HRESULT EnumCategoryTokens(const wchar_t* categoryId, const wchar_t* requiredAttributes,
                           const wchar_t* optionalAttributes, IEnumSpObjectTokens** tokens);

// The user's interface language, recomputed on every call; falls back to GetUserDefaultLangID.
LANGID UserUiLanguage();

// Name of a token value that holds the description in one language: upper-case hex digits
// without leading zeros ("409" for 0x0409, "0" for 0).
constexpr int LANGUAGE_VALUE_NAME_SIZE = 10;
void LanguageValueName(LANGID language, wchar_t name[LANGUAGE_VALUE_NAME_SIZE]);

// A token's description in the language, or its default value when it has none in that language.
// On success *description is COM task memory that the caller frees.
HRESULT GetTokenDescription(ISpObjectToken* token, LANGID language, wchar_t** description);

// Appends one item per token of the category to a list box (text: the description in the user's
// language; item data: the token, holding one reference) and selects the first item added.
// The messages are the list's add-string, set-item-data and set-selection messages.
// A category that cannot be enumerated leaves the list alone and gives SPERR_NO_MORE_ITEMS;
// otherwise the result is that of the last token handled (S_OK without tokens).
HRESULT FillTokenList(UINT addStringMessage, UINT setItemDataMessage, UINT setSelectionMessage,
                      HWND list, const wchar_t* categoryId, const wchar_t* requiredAttributes,
                      const wchar_t* optionalAttributes);

// Token of the list's selected item, lent (no reference added), or null without a selection.
ISpObjectToken* SelectedListToken(HWND list);

// Releases the token reference of every item. The items keep their data, so the list must not be
// read for tokens afterwards: call it only when the dialog holding the list closes.
void ReleaseTokenList(UINT countMessage, UINT getItemDataMessage, HWND list);

// Pure pieces of UserUiLanguage.

// Where the interface language comes from on a platform (platform id and major version of
// GetVersionEx).
enum class UiLanguageSource {
    SystemCall,          // GetUserDefaultUILanguage (Windows 2000 and later)
    Nt4LocaleRegistry,   // HKEY_USERS\.DEFAULT\Control Panel\International, "Locale"
    Win9xLocaleRegistry  // HKEY_USERS\.Default\Control Panel\desktop\ResourceLocale, default value
};
UiLanguageSource UiLanguageSourceOf(DWORD platformId, DWORD majorVersion);

// Parses text as a base-16 number the way strtol does (leading blanks, sign, optional 0x, digits up
// to the first other character, 0 without digits), clamped to the signed 32-bit range.
long ParseHexClamped(const char* text);

// Language of a registry locale text: the low 16 bits of ParseHexClamped.
LANGID LanguageOfLocaleText(const char* text);

// NT 4 reports right-to-left and Thai locales whose interface is in English: Arabic (Saudi Arabia),
// Hebrew and Thai become English (United States); every other language stays.
LANGID SubstituteNt4Language(LANGID language);
