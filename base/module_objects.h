// The objects every subsystem shares, which live as long as the loaded module, defined here in the
// ground (base/module_objects.cpp). The output stream is playback's own (playback/output_stream.h).
#pragma once

#include <windows.h>
#include <sapi.h>

#include "base/scoped.h"
#include "base/winamp.h"

// The player's record of this plug-in. The player fills its host fields (main window, module handle,
// output module, visualisation and DSP entries); the plug-in's own fields (description, file types,
// callbacks) are written when the library's export hands the record out.
extern In_Module PluginModule;

// The one voice: created by Init, released by Quit (one still held at unload is left to the process).
extern ModuleComPtr<ISpVoice> Voice;
