// Finding the plug-in's "Text info" window from a test.
#pragma once

#include <windows.h>

namespace text_info_probe {

inline BOOL CALLBACK MatchTextInfo(HWND window, LPARAM found) {
    char caption[32] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (lstrcmpA(caption, "Text info") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace text_info_probe

// The "Text info" window of the calling thread, or null. Other test programs may show one too, so
// only this thread's windows are looked at.
inline HWND FindTextInfoWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), text_info_probe::MatchTextInfo, reinterpret_cast<LPARAM>(&found));
    return found;
}
