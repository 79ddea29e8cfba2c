#include "infowindow/text_info_window.h"

// No window yet: nothing is shown.
int __cdecl InfoBox(char*, HWND) { return 0; }
