#include "plugin/startup.h"

#include <windows.h>
#include <sapi.h>

#include "base/error_report.h"
#include "base/file_text.h"
#include "base/module_objects.h"
#include "base/sapi_names.h"
#include "base/scoped.h"
#include "infowindow/text_info_window.h"
#include "playback/event_thread.h"
#include "playback/playback.h"
#include "playback/playback_state.h"
#include "plugin/module.h"
#include "settings/hotkey_hook.h"
#include "settings/settings_store.h"

namespace {

// A handle of the voice's notify event of the translator's own, which it closes when it goes: the
// voice may signal it after Quit closed the event thread's handle, and the plug-in's would by then be
// closed, its value perhaps another object's.
HANDLE TranslatorsEvent() {
    HANDLE own = nullptr;
    const HANDLE process = GetCurrentProcess();
    DuplicateHandle(process, SpeechEvents[VOICE_NOTIFY_EVENT].Get(), process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return own;
}

// Without a handle of its own (no duplicate could be made) the translator shares the plug-in's.
bool HandEventToTranslator(ISpNotifyTranslator* translator) {
    ScopedHandle own(TranslatorsEvent());
    const HRESULT given = own.IsValid() ? translator->InitWin32Event(own.Get(), TRUE)
                                        : translator->InitWin32Event(SpeechEvents[VOICE_NOTIFY_EVENT].Get(), FALSE);
    if (!Succeeded(given, SITE_INIT_WIN32_EVENT)) return false;
    own.Detach();
    return true;
}

// The voice's notifications set VoiceNotifyEvent: a translator attached as the voice's sink (the voice
// keeps it alive through its own reference), and the interest in every speech event. Returns false
// after reporting a failure.
bool ConnectVoiceNotifications(ISpVoice* voice) {
    ScopedComPtr<ISpNotifyTranslator> translator;
    const HRESULT created = CoCreateInstance(CLSID_SpNotifyTranslator, nullptr, SAPI_CLASS_CONTEXT,
                                             IID_ISpNotifyTranslator, translator.ReceiveVoid());
    return Succeeded(created, SITE_CREATE_TRANSLATOR) && HandEventToTranslator(translator.Get()) &&
           Succeeded(voice->SetNotifySink(translator.Get()), SITE_SET_NOTIFY_SINK) &&
           Succeeded(voice->SetInterest(SPEECH_EVENT_INTEREST, SPEECH_EVENT_INTEREST), SITE_SET_INTEREST);
}

bool CreateVoice() {
    if (SUCCEEDED(CoCreateInstance(CLSID_SpVoice, nullptr, SAPI_CLASS_CONTEXT, IID_ISpVoice, Voice.ReceiveVoid())))
        return true;
    Voice.Detach();  // a failed creation hands out nothing to release
    ShowErrorBox(TEXT_ENGINE_MISSING);
    return false;
}

}  // namespace

void __cdecl Init() {
    ReadInjectedReaderFailure();
    OpenPlayback();
    StartSpeechEventThread();
    CreateTextInfoWindow(PluginModule.hDllInstance, PluginModule.hMainWindow);
    if (!CreateVoice() || !ConnectVoiceNotifications(Voice.Get())) return;
    LoadSettings(PluginModule.hDllInstance);
    OfferFileExtensions();
    // The hot key is pressed in the player's window: a host without one (a program that only plays
    // through the plug-in) gets no hook on its thread.
    if (PluginModule.hMainWindow) InstallHotKeyHook(PluginModule.hDllInstance);
    PlaybackState.Initialized = true;
}

// Every wait of plug-in code ends first (the engine's thread inside Write, the event thread, the window's
// readers), so Quit never waits on the output or the player; after it no thread runs plug-in code.
void __cdecl Quit() {
    RemoveHotKeyHook();
    ClosePlayback();
    EndSpeechEventThread();
    DestroyTextInfoWindow();
    SilenceVoice();
    Voice.Reset();  // the pointer is null before the voice goes
    WaitForLastWrite();
    UnloadRichEdit();
    SaveSettings();
}
