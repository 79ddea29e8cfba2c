// The library's entry points: the load entry, which does nothing, and the one export.
#include "plugin/module.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" __declspec(dllexport) In_Module* __cdecl winampGetInModule2() { return HandOutModuleRecord(); }
