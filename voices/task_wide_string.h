// Voice ids as the settings keep them: a UTF-16 string in COM task memory (TaskWideString), filled
// from the ANSI text of plugin.ini and compared exactly.
#pragma once

#include <windows.h>

#include "base/scoped.h"

// Frees the held string and holds a UTF-16 copy of the ANSI text; null text leaves none. Returns the
// new pointer, null also when memory ran out.
wchar_t* AssignAnsi(TaskWideString& holder, const char* text);

// Exact comparison code unit by code unit (unsigned): -1, 0 or 1.
int CompareWide(const wchar_t* a, const wchar_t* b);
