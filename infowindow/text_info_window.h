// The "Text info" window that shows the text of a file.
#pragma once

#include <windows.h>

int __cdecl InfoBox(char* file, HWND parent);
