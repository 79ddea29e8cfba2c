// Flags shared by the playback callbacks, the info queries and the speech event thread.
#pragma once

#include <windows.h>

#include <atomic>

struct PlaybackFlags {
    bool Initialized = false;
    bool Paused = false;
    std::atomic<bool> StopRequested{false};
    char CurrentFile[MAX_PATH] = {};
};

extern PlaybackFlags PlaybackState;
