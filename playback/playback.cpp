#include "playback/playback.h"

#include "playback/playback_state.h"
#include "plugin/module.h"

PlaybackFlags PlaybackState;

// Until speech is wired up, nothing can be played.
int __cdecl Play(char*) { return -1; }

void __cdecl Pause() {
    PlaybackState.Paused = true;
    PluginModule.outMod->Pause(1);
}

void __cdecl UnPause() {
    PlaybackState.Paused = false;
    PluginModule.outMod->Pause(0);
}

int __cdecl IsPaused() { return PlaybackState.Paused ? 1 : 0; }

void __cdecl Stop() {}
