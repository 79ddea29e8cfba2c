#include "plugin/startup.h"

// Start-up brings nothing up yet; shut-down has nothing to take down.
void __cdecl Init() {}

void __cdecl Quit() {}
