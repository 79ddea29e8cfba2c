#include "plugin/startup.h"

#include <windows.h>
#include <sapi.h>

#include "infowindow/text_info_window.h"
#include "playback/event_thread.h"
#include "playback/playback_state.h"
#include "plugin/error_report.h"
#include "plugin/module.h"
#include "plugin/module_objects.h"
#include "plugin/scoped.h"
#include "settings/hotkey_hook.h"
#include "settings/settings_store.h"

namespace {

constexpr DWORD CLASS_CONTEXT_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
constexpr DWORD EVENT_THREAD_GRACE_MS = 300;
// Every text-to-speech event (ids 1 to 15) plus the two flag-check bits the engine expects in a mask.
constexpr ULONGLONG SPEECH_EVENT_INTEREST = 0x24000FFFEull;

HANDLE EventThread = INVALID_HANDLE_VALUE;
HMODULE RichEditLibrary = nullptr;

// The voice's notifications set VoiceNotifyEvent: a translator attached as the voice's sink, and the
// interest in every speech event. Returns false after reporting a failure.
bool ConnectVoiceNotifications(ISpVoice* voice) {
    ScopedComPtr<ISpNotifyTranslator> translator;
    HRESULT hr = CoCreateInstance(CLSID_SpNotifyTranslator, nullptr, CLASS_CONTEXT_ALL, IID_ISpNotifyTranslator,
                                  translator.ReceiveVoid());
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_CREATE_TRANSLATOR);
        return false;
    }
    hr = translator->InitWin32Event(SpeechEvents[VOICE_NOTIFY_EVENT], FALSE);
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_INIT_WIN32_EVENT);
        return false;
    }
    hr = voice->SetNotifySink(translator.Get());
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_SET_NOTIFY_SINK);
        return false;
    }
    hr = voice->SetInterest(SPEECH_EVENT_INTEREST, SPEECH_EVENT_INTEREST);
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_SET_INTEREST);
        return false;
    }
    return true;  // the voice keeps the translator alive through its own reference
}

void CreateInfoWindow() {
    RichEditLibrary = LoadLibraryA("riched20.dll");
    if (!RichEditLibrary) {
        ShowErrorBox(TEXT_RICH_EDIT_MISSING);
        return;
    }
    CreateTextInfoWindow(PluginModule.hDllInstance, PluginModule.hMainWindow);
}

void EndEventThread() {
    SetEvent(SpeechEvents[QUIT_EVENT]);
    if (EventThread != INVALID_HANDLE_VALUE && EventThread != nullptr) {
        // Every wait of the thread wakes on the quit event, so it ends by itself; only a thread held up
        // inside the output module or the engine is ended by force, and it is gone before anything it
        // might touch is taken down.
        if (WaitForSingleObject(EventThread, EVENT_THREAD_GRACE_MS) != WAIT_OBJECT_0) {
            TerminateThread(EventThread, 0);
            WaitForSingleObject(EventThread, INFINITE);
        }
        CloseHandle(EventThread);
    }
    EventThread = INVALID_HANDLE_VALUE;
}

void CloseSpeechEvents() {
    for (HANDLE& event : SpeechEvents) {
        if (event) CloseHandle(event);
        event = nullptr;
    }
}

void ReleaseVoice() {
    ISpVoice* voice = Voice.ptr;
    Voice.ptr = nullptr;
    if (voice) voice->Release();
}

}  // namespace

void __cdecl Init() {
    SpeechEvents[VOICE_NOTIFY_EVENT] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SpeechEvents[QUIT_EVENT] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EventThread = CreateThread(nullptr, 0, SpeechEventThread, nullptr, 0, nullptr);
    CreateInfoWindow();

    HRESULT hr = CoCreateInstance(CLSID_SpVoice, nullptr, CLASS_CONTEXT_ALL, IID_ISpVoice,
                                  reinterpret_cast<void**>(&Voice.ptr));
    if (FAILED(hr)) {
        Voice.ptr = nullptr;
        ShowErrorBox(TEXT_ENGINE_MISSING);
        return;
    }
    if (!ConnectVoiceNotifications(Voice.ptr)) return;

    LoadSettings(PluginModule.hDllInstance);
    InstallHotKeyHook(PluginModule.hDllInstance);
    PlaybackState.Initialized = true;
}

void __cdecl Quit() {
    RemoveHotKeyHook();
    EndEventThread();
    CloseSpeechEvents();
    DestroyTextInfoWindow();
    ReleaseVoice();
    FreeTextBuffer();
    if (RichEditLibrary) FreeLibrary(RichEditLibrary);
    RichEditLibrary = nullptr;
    SaveSettings();
}
