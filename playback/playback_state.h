// Flags shared by the playback callbacks, the info queries and the speech event thread.
#pragma once

#include <windows.h>

#include <atomic>

struct PlaybackFlags {
    bool Initialized = false;
    bool Paused = false;
    std::atomic<bool> StopRequested{false};
    char CurrentFile[MAX_PATH] = {};

    // Stream number that Speak handed back for the file being spoken: only the end of that stream ends
    // the file. SpeakPending is set while Play is on its way to Speak, when the number is not known yet.
    std::atomic<ULONG> CurrentStream{0};
    std::atomic<bool> SpeakPending{false};
};

extern PlaybackFlags PlaybackState;
