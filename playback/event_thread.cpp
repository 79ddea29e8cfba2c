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

// Play is between its start and the return of Speak: the number of the new stream is not known yet.
void WaitWhileSpeakPending() {
    while (PlaybackState.SpeakPending) Sleep(DRAIN_POLL_MS);
}

// The stream is the file being played, and no stop is under way.
bool StillTheCurrentFile(ULONG stream) {
    return stream == PlaybackState.CurrentStream && !PlaybackState.StopRequested;
}

// The voice has spoken the whole of a stream: once the output has played it out, the player is told
// the file has ended, unless it was stopped or the stream belongs to an earlier (purged) file.
void OnEndOfInputStream(ULONG stream) {
    WaitWhileSpeakPending();
    if (!StillTheCurrentFile(stream)) return;
    Out_Module* output = PluginModule.outMod;
    output->CanWrite();
    while (output->IsPlaying() && StillTheCurrentFile(stream)) Sleep(DRAIN_POLL_MS);
    if (StillTheCurrentFile(stream)) PostMessageA(PluginModule.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
}

void DrainVoiceEvents() {
    SpeechEventHolder event;
    for (;;) {
        ISpVoice* voice = Voice.ptr;
        if (!voice || voice->GetEvents(1, event.Get(), nullptr) != S_OK) break;
        if (static_cast<short>(event.Get()->eEventId) == SPEI_END_INPUT_STREAM)
            OnEndOfInputStream(event.Get()->ulStreamNum);
        event.Clear();
    }
}

}  // namespace

DWORD WINAPI SpeechEventThread(LPVOID) {
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, SpeechEvents, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + VOICE_NOTIFY_EVENT)
            DrainVoiceEvents();
        else if (result == WAIT_OBJECT_0 + QUIT_EVENT)
            return 0;
        else
            Sleep(FAILED_WAIT_PAUSE_MS);
    }
}
