// What the player's calls leave for each other and for the speech event thread.
#pragma once

#include <windows.h>

#include <atomic>

struct PlaybackFlags {
    bool Initialized = false;
    bool Paused = false;
    char CurrentFile[MAX_PATH] = {};

    // A stop is under way: a Write that waits for room lets go of the purged speech. Set by every stop,
    // cleared by the next start.
    std::atomic<bool> StopRequested{false};

    // Play opened the output module and no Stop has closed it since (a Stop that failed, or a Play
    // that failed after opening, leave it open). Main thread only.
    bool OutputOpen = false;

    // The event thread told the player that the file was heard to its end; cleared by Play.
    std::atomic<bool> HeardToEnd{false};
};

extern PlaybackFlags PlaybackState;
