#include "playback/event_thread.h"

#include <objbase.h>

#include <cstring>

#include "base/module_objects.h"
#include "base/speech_event.h"
#include "playback/playback.h"

ScopedHandle SpeechEvents[SPEECH_EVENT_COUNT];

namespace {
ScopedHandle EventThread;
}

SpeechEventHolder::SpeechEventHolder() { std::memset(&event_, 0, sizeof event_); }

void SpeechEventHolder::Clear() { ClearSpeechEvent(event_); }

namespace {

// Waits up to ms for Quit; true when the thread must end. Every wait of the thread goes through here,
// so it always ends by itself, whatever it was waiting for.
// Memory running out while a seek is made costs that seek, never the player.
void SeekSafely() {
    try {
        ApplyPendingSeek();
    } catch (...) {
    }
}

// A seek asked for meanwhile is made at once: it may end what the thread waits for (a file's end).
bool QuitArrivesWithin(DWORD ms) {
    const HANDLE events[2] = {SpeechEvents[QUIT_EVENT].Get(), SpeechEvents[SEEK_EVENT].Get()};
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, ms);
    if (result == WAIT_FAILED) Sleep(ms);  // no quit event to wait on: still a pause, never a spin
    if (result == WAIT_OBJECT_0 + 1) SeekSafely();
    return result == WAIT_OBJECT_0;
}

enum class Drain { Done, Quit };

// The voice has spoken the last of a speech: once the output has played it out, the player is told the
// file has ended, unless it was stopped or another speech started meanwhile.
Drain OnEndOfSpeech(ULONG ticket) {
    Out_Module* output = PluginModule.outMod;
    output->CanWrite();
    while (output->IsPlaying() && IsCurrentSpeech(ticket))
        if (QuitArrivesWithin(DRAIN_POLL_MS)) return Drain::Quit;
    // Without a main window the message would go to this thread's own queue, which nobody reads.
    HWND player = PluginModule.hMainWindow;
    if (player && IsCurrentSpeech(ticket)) {
        MarkHeardToEnd(ticket);
        PostMessageA(player, WM_WA_MPEG_EOF, 0, 0);
    }
    return Drain::Done;
}

Drain DrainVoiceEvents() {
    SpeechEventHolder event;
    for (;;) {
        ISpVoice* voice = Voice.Get();
        if (!voice || voice->GetEvents(1, event.Get(), nullptr) != S_OK) return Drain::Done;
        const SpeechEventOutcome outcome = OnSpeechEvent(*event.Get());
        event.Clear();
        if (outcome.endsSpeech && OnEndOfSpeech(outcome.ticket) == Drain::Quit) return Drain::Quit;
    }
}

// Memory running out while events are passed on costs what was being passed on, never the player.
Drain DrainVoiceEventsSafely() {
    try {
        return DrainVoiceEvents();
    } catch (...) {
        return Drain::Done;
    }
}

}  // namespace

DWORD WINAPI SpeechEventThread(LPVOID) {
    const HANDLE events[SPEECH_EVENT_COUNT] = {SpeechEvents[VOICE_NOTIFY_EVENT].Get(), SpeechEvents[QUIT_EVENT].Get(),
                                               SpeechEvents[SEEK_EVENT].Get()};
    for (;;) {
        DWORD result = WaitForMultipleObjects(SPEECH_EVENT_COUNT, events, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + VOICE_NOTIFY_EVENT) {
            if (DrainVoiceEventsSafely() == Drain::Quit) return 0;
        } else if (result == WAIT_OBJECT_0 + QUIT_EVENT) {
            return 0;
        } else if (result == WAIT_OBJECT_0 + SEEK_EVENT) {
            SeekSafely();
        } else {
            Sleep(FAILED_WAIT_PAUSE_MS);
        }
    }
}

void StartSpeechEventThread() {
    for (ScopedHandle& event : SpeechEvents) event.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    EventThread.Reset(CreateThread(nullptr, 0, SpeechEventThread, nullptr, 0, nullptr));
}

void EndSpeechEventThread() {
    SetEvent(SpeechEvents[QUIT_EVENT].Get());
    if (EventThread.IsValid()) {
        // Every wait of the thread wakes on the quit event, so it ends by itself; only a thread held up
        // inside the output module or the engine is ended by force, and it is gone before anything it
        // might touch is taken down.
        if (WaitForSingleObject(EventThread.Get(), EVENT_THREAD_GRACE_MS) != WAIT_OBJECT_0) {
            TerminateThread(EventThread.Get(), 0);
            WaitForSingleObject(EventThread.Get(), INFINITE);
        }
    }
    EventThread.Reset();
    for (ScopedHandle& event : SpeechEvents) event.Reset();
}
