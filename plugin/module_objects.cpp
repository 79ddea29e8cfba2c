// The module-lifetime objects, defined in one place so they are constructed in this order at load
// and destroyed in the reverse order at unload: the settings (with their VoiceID), the voice, the
// output stream.
#include "plugin/module_objects.h"

#include "playback/output_stream.h"
#include "settings/plugin_settings.h"

Settings PluginSettings;
VoiceHolder Voice;
SpeechOutputStreamObject SpeechOutputStream;

VoiceHolder::~VoiceHolder() {
    ISpVoice* voice = ptr;
    ptr = nullptr;
    if (voice) voice->Release();
}
