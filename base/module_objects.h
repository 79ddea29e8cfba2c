// The objects every subsystem shares, which live as long as the loaded module. They are defined at
// the top, where their order of construction is decided; here they are only declared.
#pragma once

#include <windows.h>
#include <sapi.h>

#include "base/scoped.h"
#include "base/winamp.h"

// The player's record of this plug-in: its callbacks, and the host fields the player fills (main
// window, module handle, output module, visualisation and DSP entries). Defined in plugin/module.cpp.
extern In_Module PluginModule;

// The one voice: created by Init, released by Quit (a voice still held at unload is released then).
// Defined in plugin/module_objects.cpp.
extern ScopedComPtr<ISpVoice> Voice;
