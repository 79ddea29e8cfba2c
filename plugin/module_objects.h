// Objects that live from library load to library unload.
#pragma once

#include <windows.h>
#include <sapi.h>

// The one voice: created by Init, released by Quit; a voice still held at unload is released then.
struct VoiceHolder {
    ISpVoice* ptr = nullptr;
    ~VoiceHolder();
};

extern VoiceHolder Voice;
