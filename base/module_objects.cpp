// The module-lifetime objects of the ground, constructed in this order at load and destroyed in the
// reverse order at unload: the player's record, the settings (with their VoiceID), the voice. The
// sources of base/ come first in the library, so these are built before playback's output stream and
// the voice goes after it.
#include "base/module_objects.h"
#include "base/plugin_settings.h"

In_Module PluginModule = {};
Settings PluginSettings;
ModuleComPtr<ISpVoice> Voice;
