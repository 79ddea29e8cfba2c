#include "playback/event_thread.h"

#include <objbase.h>

#include <cstring>

#include "playback/playback_state.h"
#include "plugin/module.h"
#include "plugin/module_objects.h"

HANDLE SpeechEvents[2] = {nullptr, nullptr};

SpeechEventHolder::SpeechEventHolder() { std::memset(&event_, 0, sizeof event_); }

void SpeechEventHolder::Clear() {
    switch (event_.elParamType) {
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
        if (event_.lParam) reinterpret_cast<IUnknown*>(event_.lParam)->Release();
        break;
    case SPET_LPARAM_IS_POINTER:
    case SPET_LPARAM_IS_STRING:
        CoTaskMemFree(reinterpret_cast<void*>(event_.lParam));
        break;
    default:
        break;
    }
    std::memset(&event_, 0, sizeof event_);
}

namespace {

// Waits up to ms for Quit; true when the thread must end. Every wait of the thread goes through here,
// so it always ends by itself, whatever it was waiting for.
bool QuitArrivesWithin(DWORD ms) {
    const DWORD result = WaitForSingleObject(SpeechEvents[QUIT_EVENT], ms);
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
    if (EndsCurrentFile(PlaybackState, stream)) PostMessageA(PluginModule.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
    return Drain::Done;
}

Drain DrainVoiceEvents() {
    SpeechEventHolder event;
    for (;;) {
        ISpVoice* voice = Voice.ptr;
        if (!voice || voice->GetEvents(1, event.Get(), nullptr) != S_OK) return Drain::Done;
        if (static_cast<short>(event.Get()->eEventId) == SPEI_END_INPUT_STREAM &&
            OnEndOfInputStream(event.Get()->ulStreamNum) == Drain::Quit)
            return Drain::Quit;
        event.Clear();
    }
}

}  // namespace

DWORD WINAPI SpeechEventThread(LPVOID) {
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, SpeechEvents, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + VOICE_NOTIFY_EVENT) {
            if (DrainVoiceEvents() == Drain::Quit) return 0;
        } else if (result == WAIT_OBJECT_0 + QUIT_EVENT) {
            return 0;
        } else {
            Sleep(FAILED_WAIT_PAUSE_MS);
        }
    }
}
