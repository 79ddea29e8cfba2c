#include "voices/ui_language.h"

#include <climits>
#include <string>

#include "base/scoped.h"

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

UiLanguageSource UiLanguageSourceOf(DWORD platformId, DWORD majorVersion) {
    if (platformId == VER_PLATFORM_WIN32_NT)
        return majorVersion >= 5 ? UiLanguageSource::SystemCall : UiLanguageSource::Nt4LocaleRegistry;
    return UiLanguageSource::Win9xLocaleRegistry;
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

namespace {

// The language named by a registry text under HKEY_USERS; 0 when the key or value cannot be read
// into a buffer of bufferSize bytes.
LANGID LanguageFromUserRegistry(const char* subKey, const char* valueName, DWORD bufferSize) {
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
LANGID LanguageFromSystemCall() {
    ScopedLibrary kernel(LoadLibraryW(L"kernel32.dll"));
    if (!kernel.Get()) return 0;
    typedef LANGID(WINAPI * GetUiLanguageFunc)();
    auto getUiLanguage =
        reinterpret_cast<GetUiLanguageFunc>(GetProcAddress(kernel.Get(), "GetUserDefaultUILanguage"));
    return getUiLanguage ? getUiLanguage() : 0;
}

// The platform's own answer; 0 when it gives none.
LANGID PlatformUiLanguage() {
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

}  // namespace

LANGID UserUiLanguage() {
    LANGID language = PlatformUiLanguage();
    return language != 0 ? language : GetUserDefaultLangID();
}
