// Start-up and shut-down of the whole plug-in.
#pragma once

void __cdecl Init();
void __cdecl Quit();
