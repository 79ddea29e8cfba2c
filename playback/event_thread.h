// The worker thread that notices the end of speech and tells the player that the file has ended.
#pragma once

#include <windows.h>
#include <sapi.h>

// The thread waits on both events: the voice has queued events, or the thread must end.
enum SpeechEventIndex { VOICE_NOTIFY_EVENT = 0, QUIT_EVENT = 1 };
extern HANDLE SpeechEvents[2];

// Pause after a failed wait, so a wait that keeps failing does not spin.
constexpr DWORD FAILED_WAIT_PAUSE_MS = 100;
constexpr DWORD DRAIN_POLL_MS = 10;

DWORD WINAPI SpeechEventThread(LPVOID);

// Owns one event record and releases its payload when cleared or destroyed.
class SpeechEventHolder {
public:
    SpeechEventHolder();
    ~SpeechEventHolder() { Clear(); }
    SpeechEventHolder(const SpeechEventHolder&) = delete;
    SpeechEventHolder& operator=(const SpeechEventHolder&) = delete;

    SPEVENT* Get() { return &event_; }
    // Releases the payload by its lParam type, then zeroes the record.
    void Clear();

private:
    SPEVENT event_;
};
