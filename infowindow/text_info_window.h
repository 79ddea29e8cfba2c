// The "Text info" window that shows the text of a file.
#pragma once

#include <windows.h>

// Creates the hidden window from its dialog template, owned by the player's window; null on failure.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner);
// Destroys the window, if there is one.
void DestroyTextInfoWindow();
// Frees the text last loaded, if any.
void FreeTextBuffer();
// Loads a file's text into the window (or only reads it, when there is no window) and remembers its name.
void LoadInfoText(const char* file);

int __cdecl InfoBox(char* file, HWND parent);
