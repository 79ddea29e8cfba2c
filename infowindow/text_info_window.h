// The "Text info" window that shows the text of a file.
#pragma once

#include <windows.h>

#include "base/scoped.h"

// Loads the Rich Edit library the window needs, then creates the hidden window from its dialog
// template, owned by the player's window. Without the library it reports it missing and creates no
// window; null then, and when the creation failed.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner);
// Destroys the window, if there is one.
void DestroyTextInfoWindow();
// Frees the Rich Edit library, after the window is gone.
void UnloadRichEdit();
// The window, or null when it was not created.
HWND TextInfoWindowHandle();
// Frees the text last loaded, if any.
void FreeTextBuffer();
// Loads a file's text into the window (or only reads it, when there is no window) and remembers its name.
void LoadInfoText(const char* file);
// The name LoadInfoText remembered last; empty at start.
const char* LoadedInfoFileName();

// Host callback: shows the window with the text of file, reloading only for another name. Returns 0.
int __cdecl InfoBox(char* file, HWND parent);

// Reads a text file into textBuffer (UTF-16, NUL-terminated, from the process heap) and shows it in
// the Rich Edit control: UTF-16 little-endian after a byte-order mark FF FE, otherwise ANSI text. A text
// longer than MAX_SHOWN_TEXT_UNITS code units is cut there, in the buffer and the control.
// textBuffer is emptied first. False when the file could not be opened, sized or held in memory;
// the control then keeps its text.
bool LoadTextFile(HWND richEdit, const char* fileName, ScopedHeapBlock& textBuffer);

// Where the two controls go, in client pixels.
struct InfoWindowLayout {
    RECT closeButton;  // left, top, right, bottom
    RECT text;
};
// A margin of 3 pixels at every edge and between the text and the button, which keeps its size
// and sits in the bottom right corner of a client area of clientWidth x clientHeight.
InfoWindowLayout LayoutInfoWindow(int clientWidth, int clientHeight, SIZE closeButtonSize);
