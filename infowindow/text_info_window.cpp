#include "infowindow/text_info_window.h"

// No window yet: nothing is created or shown.
HWND CreateTextInfoWindow(HINSTANCE, HWND) { return nullptr; }

void DestroyTextInfoWindow() {}

void FreeTextBuffer() {}

void LoadInfoText(const char*) {}

int __cdecl InfoBox(char*, HWND) { return 0; }
