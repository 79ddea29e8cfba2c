#include "playback/playback.h"

#include <windows.h>
#include <sapi.h>

#include <cstring>

#include "base/error_report.h"
#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "base/sapi_names.h"
#include "base/scoped.h"
#include "infowindow/text_info_window.h"
#include "playback/output_stream.h"
#include "playback/playback_state.h"
#include "playback/stream_format.h"
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

// Makes the installed voice whose token id equals VoiceID the voice's voice. A stored id that no voice
// has leaves the current voice. Returns false after reporting a failure.
bool UseConfiguredVoice(ISpVoice* voice) {
    ScopedComPtr<ISpObjectToken> token;
    ErrorSite failedAt = SITE_ENUM_VOICES;
    const HRESULT found = FindVoiceToken(PluginSettings.VoiceID.Get(), token.Receive(), &failedAt);
    if (!Succeeded(found, failedAt)) return false;
    return !token || Succeeded(voice->SetVoice(token.Get()), SITE_SET_VOICE);
}

// From now on the end of no stream ends a file, and a Write that waits for room lets go of purged speech.
void BeginStop() {
    RequestStop(PlaybackState);
    SpeechOutputStream.WakeWaitingWrite();
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
    BeginStop();
    StopFollowingSpeech();
    voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    CloseOutput();
}

// Opens the output in the configured format and tells the player about the stream; false after
// reporting that the output did not open.
bool OpenOutput() {
    const Settings& settings = PluginSettings;
    int index = StreamFormatIndexOf(settings.SampleRateMode, settings.BitsPerSampleMode, settings.NumChannelsMode);
    if (SpeechOutputStream.Configure(index) < 0) {
        ShowErrorBox(TEXT_OUTPUT_DEVICE);
        return false;
    }
    PlaybackState.OutputOpen = true;
    const int rate = SampleRates[settings.SampleRateMode];
    AnnounceStream(rate, settings.BitsPerSampleMode ? 16 : 8, settings.NumChannelsMode + 1);
    return true;
}

// Sets up the output path and the voice, then starts speaking the file. Returns Play's result.
int StartSpeaking(ISpVoice* voice, const char* path, const wchar_t* widePath) {
    if (!OpenOutput()) return PLAY_NO_OUTPUT;
    if (FAILED(voice->SetOutput(&SpeechOutputStream, FALSE))) {
        ShowErrorBox(TEXT_FORMAT_REJECTED);
        return PLAY_FAILED;
    }
    if (PluginSettings.VoiceID.IsSet() && !UseConfiguredVoice(voice)) return PLAY_FAILED;
    if (!Succeeded(voice->SetRate(PluginSettings.Rate), SITE_SET_RATE)) return PLAY_FAILED;

    const DWORD flags = IsMarkupPath(path) ? SPEAK_MARKUP_FILE : SPEAK_PLAIN_FILE;
    lstrcpyA(PlaybackState.CurrentFile, path);
    LoadInfoText(path);
    ExpectSpeechBoundaries();

    ULONG stream = 0;
    const HRESULT spoken = voice->Speak(widePath, flags, &stream);
    PlaybackState.CurrentStream = stream;
    if (!Succeeded(spoken, SITE_SPEAK)) return PLAY_FAILED;
    const HRESULT resumed = voice->Resume();
    if (FAILED(resumed)) {
        // Play fails, so nothing of the file may be heard or end it: silenced before the box is shown.
        AbandonFile(voice);
        ReportHResult(resumed, SITE_RESUME);
        return PLAY_FAILED;
    }
    FollowSpeech(stream, SpeechOutputStream.WaveFormat()->nAvgBytesPerSec, PluginModule.outMod->GetOutputTime);
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
    if (PlaybackState.OutputOpen) AbandonFile(Voice.Get());
    PlaybackState.Paused = false;
    SpeechOutputStream.ResetWake();  // while the stop is still under way, so no Write spins on the wake
    BeginNextFile(PlaybackState);
    return StartSpeaking(Voice.Get(), file, widePath);
}

void OpenPlayback() { SpeechOutputStream.Reopen(); }

void ClosePlayback() {
    BeginStop();
    SpeechOutputStream.Close();
}

void SilenceVoice() {
    ISpVoice* voice = Voice.Get();
    if (voice && PlaybackState.OutputOpen) voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
}

bool WaitForLastWrite() { return SpeechOutputStream.WaitUntilNoWrite(LAST_WRITE_WAIT_MS); }

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
    ISpVoice* voice = Voice.Get();
    if (!voice) return;
    BeginStop();
    StopFollowingSpeech();  // the selection stays on what was heard last
    if (!Succeeded(voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), SITE_PURGE)) return;
    if (!Succeeded(voice->WaitUntilDone(0), SITE_WAIT_UNTIL_DONE)) return;
    CloseOutput();
}
