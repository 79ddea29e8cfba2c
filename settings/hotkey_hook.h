// The keyboard hook that opens the properties sheet with the configured key combination.
#pragma once

#include <windows.h>

// Installs the hook on the calling thread (the player's main thread).
void InstallHotKeyHook(HINSTANCE instance);
// Removes the hook installed by InstallHotKeyHook, if any.
void RemoveHotKeyHook();
