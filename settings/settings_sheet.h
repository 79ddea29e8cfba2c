// The "Text Speech Plugin Properties" sheet: the Voice page (output format, voice, rate) and the
// Hot Key page. OK stores the pages' values in PluginSettings; Cancel leaves them as they were.
#pragma once

#include <windows.h>

// Shows the sheet modally and returns when it closes; does nothing while the sheet is already open.
// Also the player's Config callback.
void __cdecl ShowSettingsSheet(HWND parent);

