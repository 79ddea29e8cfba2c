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
    // the file. 0 while no file is being spoken (after a Stop, and before Speak returned). SpeakPending
    // is set while Play is on its way to Speak, when the number is not known yet.
    std::atomic<ULONG> CurrentStream{0};
    std::atomic<bool> SpeakPending{false};

    // Play opened the output module and no Stop has closed it since (a Stop that failed, or a Play
    // that failed after opening, leave it open). Main thread only.
    bool OutputOpen = false;

    // The event thread told the player that the file was heard to its end; cleared by Play.
    std::atomic<bool> HeardToEnd{false};
};

extern PlaybackFlags PlaybackState;

// The three steps below are ordered so that the event thread, reading the flags while the main thread
// writes them, can never take the end of a stopped stream for the end of the next file.

// Stop: a stop is under way, and from now on no stream is the file being played.
inline void RequestStop(PlaybackFlags& state) {
    state.StopRequested = true;
    state.CurrentStream = 0;
}

// Play, before anything else: no stream is current yet, then the stop is over.
inline void BeginNextFile(PlaybackFlags& state) {
    state.CurrentStream = 0;
    state.StopRequested = false;
}

// Whether the end of `stream` ends the file being played: no stop is under way, and the stream is the
// one Speak handed back for that file. Reads the stop flag first, the reverse of BeginNextFile's order.
inline bool EndsCurrentFile(const PlaybackFlags& state, ULONG stream) {
    if (state.StopRequested) return false;
    return stream != 0 && stream == state.CurrentStream;
}
