#include "playback/event_thread.h"

#include <objbase.h>

#include <cstring>

#include "base/module_objects.h"
#include "base/speech_event.h"
#include "infowindow/text_info_window.h"
#include "playback/playback_state.h"

ScopedHandle SpeechEvents[2];

namespace {
ScopedHandle EventThread;
}

SpeechEventHolder::SpeechEventHolder() { std::memset(&event_, 0, sizeof event_); }

void SpeechEventHolder::Clear() { ClearSpeechEvent(event_); }

namespace {

// Waits up to ms for Quit; true when the thread must end. Every wait of the thread goes through here,
// so it always ends by itself, whatever it was waiting for.
bool QuitArrivesWithin(DWORD ms) {
    const DWORD result = WaitForSingleObject(SpeechEvents[QUIT_EVENT].Get(), ms);
    if (result == WAIT_FAILED) Sleep(ms);  // no quit event to wait on: still a pause, never a spin
    return result == WAIT_OBJECT_0;
}

enum class Drain { Done, Quit };

// Play is between its start and the return of Speak: the number of the new stream is not known yet.
Drain WaitWhileSpeakPending() {
    while (PlaybackState.SpeakPending)
        if (QuitArrivesWithin(DRAIN_POLL_MS)) return Drain::Quit;
    return Drain::Done;
}

// The voice has spoken the whole of a stream: once the output has played it out, the player is told
// the file has ended, unless it was stopped or the stream belongs to an earlier (purged) file.
Drain OnEndOfInputStream(ULONG stream) {
    if (WaitWhileSpeakPending() == Drain::Quit) return Drain::Quit;
    if (!EndsCurrentFile(PlaybackState, stream)) return Drain::Done;
    Out_Module* output = PluginModule.outMod;
    output->CanWrite();
    while (output->IsPlaying() && EndsCurrentFile(PlaybackState, stream))
        if (QuitArrivesWithin(DRAIN_POLL_MS)) return Drain::Quit;
    // Without a main window the message would go to this thread's own queue, which nobody reads.
    HWND player = PluginModule.hMainWindow;
    if (player && EndsCurrentFile(PlaybackState, stream)) {
        PlaybackState.HeardToEnd = true;
        PostMessageA(player, WM_WA_MPEG_EOF, 0, 0);
    }
    return Drain::Done;
}

// Sentences and words go to the Text info window, which follows them as the output plays them.
void PassOnBoundary(const SPEVENT& event, bool sentence) {
    QueueSpokenBoundary({event.ulStreamNum, event.ullAudioStreamOffset, static_cast<uint32_t>(event.lParam),
                         static_cast<uint32_t>(event.wParam), sentence});
}

Drain DrainVoiceEvents() {
    SpeechEventHolder event;
    for (;;) {
        ISpVoice* voice = Voice.Get();
        if (!voice || voice->GetEvents(1, event.Get(), nullptr) != S_OK) return Drain::Done;
        const SPEVENT& fetched = *event.Get();
        switch (static_cast<short>(fetched.eEventId)) {
        case SPEI_END_INPUT_STREAM:
            if (OnEndOfInputStream(fetched.ulStreamNum) == Drain::Quit) return Drain::Quit;
            break;
        case SPEI_SENTENCE_BOUNDARY: PassOnBoundary(fetched, true); break;
        case SPEI_WORD_BOUNDARY: PassOnBoundary(fetched, false); break;
        }
        event.Clear();
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
    const HANDLE events[2] = {SpeechEvents[VOICE_NOTIFY_EVENT].Get(), SpeechEvents[QUIT_EVENT].Get()};
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + VOICE_NOTIFY_EVENT) {
            if (DrainVoiceEventsSafely() == Drain::Quit) return 0;
        } else if (result == WAIT_OBJECT_0 + QUIT_EVENT) {
            return 0;
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
