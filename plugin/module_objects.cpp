// The module-lifetime objects, defined in one place so they are constructed in this order at load
// and destroyed in the reverse order at unload: the settings (with their VoiceID), the voice, the
// output stream.
#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "playback/output_stream.h"

Settings PluginSettings;
ScopedComPtr<ISpVoice> Voice;
SpeechOutputStreamObject SpeechOutputStream;
