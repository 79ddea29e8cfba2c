// The user's interface language, in which voice descriptions are shown, as each Windows family
// tells it.
#pragma once

#include <windows.h>

// The user's interface language, recomputed on every call; falls back to GetUserDefaultLangID.
LANGID UserUiLanguage();

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
