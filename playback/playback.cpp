#include "playback/playback.h"

#include <windows.h>
#include <sapi.h>

#include <cstring>

#include "infowindow/text_info_window.h"
#include "playback/output_stream.h"
#include "playback/playback_state.h"
#include "playback/stream_format.h"
#include "plugin/error_report.h"
#include "plugin/module.h"
#include "plugin/module_objects.h"
#include "plugin/scoped.h"
#include "settings/plugin_settings.h"
#include "voices/voice_tokens.h"

PlaybackFlags PlaybackState;

namespace {

constexpr int PLAY_STARTED = 0;
constexpr int PLAY_NO_OUTPUT = 1;
constexpr int PLAY_FAILED = -1;

// Clears SpeakPending on every way out of Play.
struct SpeakPendingScope {
    SpeakPendingScope() { PlaybackState.SpeakPending = true; }
    ~SpeakPendingScope() { PlaybackState.SpeakPending = false; }
};

// Tells the player the stream parameters: bit rate, rate and channels, for the info and visualisation.
void AnnounceStream(int rate, int bits, int channels) {
    const In_Module& host = PluginModule;
    host.SetInfo(BitRateKbps(rate, bits, channels), rate / 1000, channels, 1);
    host.SAVSAInit(1, rate);
    host.VSASetInfo(channels, rate);
}

// Finds the installed voice whose token id equals VoiceID and makes it the voice's voice. A stored id
// that no voice has leaves the current voice. Returns false after reporting a failure.
bool SelectConfiguredVoice(ISpVoice* voice) {
    ScopedComPtr<IEnumSpObjectTokens> tokens;
    HRESULT hr = EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive());
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_ENUM_VOICES);
        return false;
    }
    ScopedComPtr<ISpObjectToken> selected;
    while (!selected) {
        ScopedComPtr<ISpObjectToken> token;
        hr = tokens->Next(1, token.Receive(), nullptr);
        if (FAILED(hr)) {
            ReportHResult(hr, SITE_NEXT_VOICE);
            return false;
        }
        if (hr != S_OK) break;  // no more voices
        ScopedTaskMem<wchar_t> id;
        hr = token->GetId(id.Receive());
        if (FAILED(hr)) {
            ReportHResult(hr, SITE_VOICE_ID);
            return false;
        }
        // A token may answer without an id: it cannot be the stored voice.
        if (id.Get() && CompareWide(id.Get(), PluginSettings.VoiceID.Get()) == 0) selected.Assign(token.Get());
    }
    if (selected) {
        hr = voice->SetVoice(selected.Get());
        if (FAILED(hr)) {
            ReportHResult(hr, SITE_SET_VOICE);
            return false;
        }
    }
    return true;
}

void CloseOutput() {
    PluginModule.outMod->Close();
    PluginModule.SAVSADeInit();
    PlaybackState.OutputOpen = false;
}

// Ends what a file left behind: its queued speech (a stop under way lets a Write that waits for room
// go) and the output it opened. The end of the purged stream ends nothing. Results are not looked at:
// the failure that left the file behind was reported when it happened.
void AbandonFile(ISpVoice* voice) {
    RequestStop(PlaybackState);
    voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    CloseOutput();
}

// Sets up the output path and the voice, then starts speaking the file. Returns Play's result.
int StartSpeaking(ISpVoice* voice, const char* path, const wchar_t* widePath) {
    const Settings& settings = PluginSettings;
    int rate = SampleRates[settings.SampleRateMode];
    int bits = settings.BitsPerSampleMode ? 16 : 8;
    int channels = settings.NumChannelsMode + 1;
    int index = StreamFormatIndexOf(settings.SampleRateMode, settings.BitsPerSampleMode, settings.NumChannelsMode);
    if (SpeechOutputStream.Configure(index) < 0) {
        ShowErrorBox(TEXT_OUTPUT_DEVICE);
        return PLAY_NO_OUTPUT;
    }
    PlaybackState.OutputOpen = true;
    AnnounceStream(rate, bits, channels);

    if (FAILED(voice->SetOutput(&SpeechOutputStream, FALSE))) {
        ShowErrorBox(TEXT_FORMAT_REJECTED);
        return PLAY_FAILED;
    }
    if (settings.VoiceID.IsSet() && !SelectConfiguredVoice(voice)) return PLAY_FAILED;
    HRESULT hr = voice->SetRate(settings.Rate);
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_SET_RATE);
        return PLAY_FAILED;
    }

    unsigned flags = IsMarkupPath(path) ? SPEAK_MARKUP_FILE : SPEAK_PLAIN_FILE;
    lstrcpyA(PlaybackState.CurrentFile, path);
    LoadInfoText(path);

    ULONG stream = 0;
    hr = voice->Speak(widePath, flags, &stream);
    PlaybackState.CurrentStream = stream;
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_SPEAK);
        return PLAY_FAILED;
    }
    hr = voice->Resume();
    if (FAILED(hr)) {
        // Play fails, so nothing of the file may be heard or end it: silenced before the box is shown.
        AbandonFile(voice);
        ReportHResult(hr, SITE_RESUME);
        return PLAY_FAILED;
    }
    return PLAY_STARTED;
}

}  // namespace

bool IsMarkupPath(const char* path) {
    const char* dot = std::strrchr(path, '.');
    const char* extension = dot ? dot + 1 : path;
    return lstrcmpiA(extension, "XML") == 0;
}

int BitRateKbps(int rate, int bits, int channels) { return rate * bits * channels / 1000; }

int __cdecl Play(char* file) {
    if (!PlaybackState.Initialized) return PLAY_FAILED;
    // A path that does not fit the buffers is refused rather than spoken under a truncated name.
    wchar_t widePath[MAX_PATH];
    if (!file || lstrlenA(file) >= MAX_PATH || !MultiByteToWideChar(CP_ACP, 0, file, -1, widePath, MAX_PATH))
        return PLAY_FAILED;

    SpeakPendingScope pending;
    // A failed Stop, or a failed Play the player did not stop, left the output open.
    if (PlaybackState.OutputOpen) AbandonFile(Voice.ptr);
    PlaybackState.Paused = false;
    BeginNextFile(PlaybackState);
    return StartSpeaking(Voice.ptr, file, widePath);
}

void __cdecl Pause() {
    PlaybackState.Paused = true;
    PluginModule.outMod->Pause(1);
}

void __cdecl UnPause() {
    PlaybackState.Paused = false;
    PluginModule.outMod->Pause(0);
}

int __cdecl IsPaused() { return PlaybackState.Paused ? 1 : 0; }

void __cdecl Stop() {
    ISpVoice* voice = Voice.ptr;
    if (!voice) return;
    RequestStop(PlaybackState);
    HRESULT hr = voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_PURGE);
        return;
    }
    hr = voice->WaitUntilDone(0);
    if (FAILED(hr)) {
        ReportHResult(hr, SITE_WAIT_UNTIL_DONE);
        return;
    }
    CloseOutput();
}
