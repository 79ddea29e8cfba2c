#include "settings/settings_sheet.h"

// The sheet does not exist yet: a request opens nothing.
void __cdecl ShowSettingsSheet(HWND) {}
