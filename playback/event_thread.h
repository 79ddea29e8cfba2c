// The worker thread that notices the end of speech and tells the player that the file has ended.
#pragma once

#include <windows.h>
#include <sapi.h>

#include "base/scoped.h"

// The thread waits on its events: the voice has queued events, the thread must end, or a seek was
// asked for.
enum SpeechEventIndex { VOICE_NOTIFY_EVENT = 0, QUIT_EVENT = 1, SEEK_EVENT = 2 };
constexpr int SPEECH_EVENT_COUNT = 3;
extern ScopedHandle SpeechEvents[SPEECH_EVENT_COUNT];

// Start-up: the auto-reset events, then the thread. Neither is tested: without them the end of
// speech goes unnoticed, and nothing else.
void StartSpeechEventThread();
// Shut-down: asks the thread to end and waits until it has (by force after EVENT_THREAD_GRACE_MS, when
// it is held up inside the output module or the engine); then closes the events.
void EndSpeechEventThread();
constexpr DWORD EVENT_THREAD_GRACE_MS = 300;

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
