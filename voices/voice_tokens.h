// The installed voices as the plug-in sees them: the voices category and its enumeration, a voice's
// description in a language, and finding a voice by its token id.
#pragma once

#include <windows.h>
#include <sapi.h>
#include <sperror.h>

#include "base/error_report.h"

// The engine's "no more items", which the headers at hand do not name.
#ifndef SPERR_NO_MORE_ITEMS
#define SPERR_NO_MORE_ITEMS MAKE_SAPI_ERROR(0x0039)
#endif

// Token category id of the installed voices.
constexpr const wchar_t* VOICE_CATEGORY_ID = SPCAT_VOICES;

// Opens a token category (not creating a missing one). On success *category holds one reference
// that the caller owns; on failure it is null and the failing HRESULT is returned.
HRESULT OpenTokenCategory(const wchar_t* categoryId, ISpObjectTokenCategory** category);

// Enumerates the tokens of a category; attributes may be null. On success *tokens holds one
// reference that the caller owns; the category itself is released before returning.
HRESULT EnumCategoryTokens(const wchar_t* categoryId, const wchar_t* requiredAttributes,
                           const wchar_t* optionalAttributes, IEnumSpObjectTokens** tokens);

// Name of a token value that holds the description in one language: upper-case hex digits
// without leading zeros ("409" for 0x0409, "0" for 0).
constexpr int LANGUAGE_VALUE_NAME_SIZE = 10;
void LanguageValueName(LANGID language, wchar_t name[LANGUAGE_VALUE_NAME_SIZE]);

// A token's description in the language, or its default value when it has none in that language.
// On success *description is COM task memory that the caller frees.
HRESULT GetTokenDescription(ISpObjectToken* token, LANGID language, wchar_t** description);

// Whether the token's id equals id exactly; a token whose id cannot be read, or that answers without
// one, has no id to match.
bool TokenHasId(ISpObjectToken* token, const wchar_t* id);

// Finds the installed voice whose token id equals id exactly, in the category's order, fetching no
// token after it. S_OK with *token null when no voice has it; on success *token holds one reference
// that the caller owns. A failure is returned with the site of the step that failed (opening the
// category, Next, GetId), for the caller to report.
HRESULT FindVoiceToken(const wchar_t* id, ISpObjectToken** token, ErrorSite* failedAt);
