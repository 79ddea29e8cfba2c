// The "Text Speech Plugin Properties" sheet.
#pragma once

#include <windows.h>

void __cdecl ShowSettingsSheet(HWND parent);
