// What test programs share beyond any one fixture: the ids of the plug-in's dialogs and controls,
// and text between the ANSI strings of the plug-in and the player and the UTF-16 strings of the
// speech engine.
#pragma once

#include <windows.h>

#include <string>

// ---- Dialog and control ids ----
// The documented numbers, written out here rather than taken from the plug-in's resource header:
// the tests check the plug-in's dialogs against them.

// Dialog templates of the properties sheet's pages.
constexpr int VOICE_PAGE_TEMPLATE = 101;
constexpr int HOT_KEY_PAGE_TEMPLATE = 103;

// The Voice page.
constexpr int SAMPLE_RATE_LIST = 1000;
constexpr int EIGHT_BIT_BUTTON = 1001;
constexpr int SIXTEEN_BIT_BUTTON = 1002;
constexpr int MONO_BUTTON = 1003;
constexpr int STEREO_BUTTON = 1004;
constexpr int VOICE_LIST = 1005;
constexpr int RATE_LABEL = 1006;
constexpr int RATE_SLIDER = 1007;

// The Hot Key page.
constexpr int USE_HOT_KEY_BOX = 1008;
constexpr int HOT_KEY_CONTROL = 1009;
constexpr int DOCUMENTS_BOX = 1010;
constexpr int SEEKABLE_BOX = 1011;

// The Text info window.
constexpr int INFO_TEXT = 1000;

// ---- ANSI and UTF-16 text ----
// Through the ANSI code page, as Windows and the plug-in convert: exact both ways for the ids, paths
// and texts the tests make, which are ASCII, and for the code page's other characters.

inline std::wstring Wide(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    const int length = static_cast<int>(ansi.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], units);
    return wide;
}

inline std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(bytes, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, &ansi[0], bytes, nullptr, nullptr);
    return ansi;
}

// A string the code under test may leave null: "(none)" then, so that a check fails with a message
// instead of crashing.
inline std::string Narrow(const wchar_t* wide) {
    return wide ? Narrow(std::wstring(wide)) : std::string("(none)");
}
