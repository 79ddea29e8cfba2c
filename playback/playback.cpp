#include "playback/playback.h"

#include <windows.h>
#include <sapi.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "base/error_report.h"
#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "base/sapi_names.h"
#include "base/scoped.h"
#include "documents/played_document.h"
#include "infowindow/reading_start.h"
#include "infowindow/text_info_window.h"
#include "playback/output_stream.h"
#include "playback/remembered_places.h"
#include "playback/playback_state.h"
#include "playback/speech_input.h"
#include "playback/stream_format.h"
#include "voices/voice_tokens.h"

PlaybackFlags PlaybackState;

namespace {

constexpr int PLAY_STARTED = 0;
constexpr int PLAY_NO_OUTPUT = 1;
constexpr int PLAY_FAILED = -1;
// How long Quit gives a long file's reader to finish.
constexpr DWORD PENDING_READER_WAIT_MS = 50;

// Clears SpeakPending on every way out of Play, but when a reader speaks the file later.
class SpeakPendingScope {
public:
    SpeakPendingScope() { PlaybackState.SpeakPending = true; }
    ~SpeakPendingScope() {
        if (!kept_) PlaybackState.SpeakPending = false;
    }
    SpeakPendingScope(const SpeakPendingScope&) = delete;
    SpeakPendingScope& operator=(const SpeakPendingScope&) = delete;
    void Keep() { kept_ = true; }

private:
    bool kept_ = false;
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

// ---- Files read off the player's thread --------------------------------------------------------
//
// A long file is read on a thread of its own, which speaks it once read unless a Stop, another Play
// or Quit came first: each of them takes a new ticket under SpeakLock, and the reader speaks only
// while holding the lock with its ticket still current. The reader holds a reference to this module,
// so one still blocked in a read when the library is unloaded wakes in code that is still there.

struct PendingSpeech {
    std::string path;
    std::wstring widePath;
    bool markup = false;
    bool fromPlace = false;  // spoken from a remembered place
    uint32_t place = 0;
    ULONG ticket = 0;
    std::atomic<bool> cancel{false};
};

std::mutex SpeakLock;
std::atomic<ULONG> SpeakTicket{0};      // changed under SpeakLock
std::shared_ptr<PendingSpeech> Pending;  // the file being read; under SpeakLock
ScopedHandle PendingThread;             // its reader, for Quit; the player's thread only

// No file read earlier is spoken from now on.
void DropPendingSpeech() {
    std::lock_guard<std::mutex> guard(SpeakLock);
    ++SpeakTicket;
    if (Pending) Pending->cancel = true;
    Pending.reset();
    PlaybackState.SpeakPending = false;
}

// From now on the end of no stream ends a file, no long file being read is spoken, and a Write that
// waits for room lets go of purged speech.
void BeginStop() {
    DropPendingSpeech();
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

// Hands the file to the voice: its name, or its decoded text (speech markup for an XML file).
HRESULT SpeakInput(ISpVoice* voice, const wchar_t* widePath, bool markup, const SpeechInput& input, ULONG* stream) {
    if (input.ByName()) return voice->Speak(widePath, markup ? SPEAK_MARKUP_FILE : SPEAK_PLAIN_FILE, stream);
    return voice->Speak(input.text.c_str(), SPF_ASYNC | (markup ? SPF_IS_XML : SPF_IS_NOT_XML), stream);
}

// The voice speaks the file's stream from now on; the window follows it.
void FollowStream(ULONG stream, int64_t textShift) {
    FollowSpeech(stream, SpeechOutputStream.WaveFormat()->nAvgBytesPerSec, PluginModule.outMod->GetOutputTime,
                 textShift);
}

// A file continued from a remembered place is decoded whole and given to the voice from the start of
// that place's sentence (a file the voice can only be given by name, a pipe, starts at its top).
bool ReadInputFor(const char* path, bool markup, const uint32_t* place, SpeechInput* input,
                  const std::atomic<bool>* cancel = nullptr) {
    if (!ReadSpeechInput(path, input, cancel, place != nullptr)) return false;
    if (!place || input->ByName()) return true;
    const ReadingStart start = ReadingStartAt(input->text.c_str(), input->text.size(), *place, markup);
    input->text = SpeechFrom(input->text.c_str(), input->text.size(), start);
    input->textShift = start.Shift();
    return true;
}

// Speaks what was read, if the file is still the one to speak: under SpeakLock, so no Stop comes
// between the check and the Speak. Returns the failure to report and where, or S_OK.
HRESULT SpeakIfCurrent(const PendingSpeech& job, bool read, const SpeechInput& input, ErrorSite* site) {
    std::lock_guard<std::mutex> guard(SpeakLock);
    if (job.ticket != SpeakTicket) return S_OK;
    Pending.reset();
    ISpVoice* voice = Voice.Get();
    *site = SITE_SPEAK;
    if (!read) {
        PlaybackState.SpeakPending = false;
        return E_OUTOFMEMORY;
    }
    ULONG stream = 0;
    HRESULT result = SpeakInput(voice, job.widePath.c_str(), job.markup, input, &stream);
    // The stream's number first: the event thread waits for it while a Speak is pending.
    PlaybackState.CurrentStream = stream;
    PlaybackState.SpeakPending = false;
    if (SUCCEEDED(result)) {
        *site = SITE_RESUME;
        result = voice->Resume();
    }
    if (FAILED(result)) {
        RequestStop(PlaybackState);  // nothing of the file is heard or ends it
        voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
        return result;
    }
    FollowStream(stream, input.textShift);
    return S_OK;
}

// A file that could not be read: a document says what is wrong with it, anything else ran out of memory.
void ReportUnreadFile(const char* path, const SpeechInput& input) {
    if (input.failure.empty()) return ReportHResult(E_OUTOFMEMORY, SITE_SPEAK);
    ShowErrorBox(DocumentFailureMessage(path, input.failure).c_str());
}

// The reader's own failure, or the voice's, is reported from the reader; the player then moves on,
// as after a Play that failed.
void ReadAndSpeak(const PendingSpeech& job) {
    SpeechInput input;
    const bool read =
        ReadInputFor(job.path.c_str(), job.markup, job.fromPlace ? &job.place : nullptr, &input, &job.cancel);
    if (job.cancel) return;
    ErrorSite site = SITE_SPEAK;
    const HRESULT result = SpeakIfCurrent(job, read, input, &site);
    if (SUCCEEDED(result)) return;
    if (read)
        ReportHResult(result, site);
    else
        ReportUnreadFile(job.path.c_str(), input);
    HWND player = PluginModule.hMainWindow;
    if (player && job.ticket == SpeakTicket) PostMessageA(player, WM_WA_MPEG_EOF, 0, 0);
}

struct ReaderStart {
    std::shared_ptr<PendingSpeech> job;
    HMODULE module;  // the reader's own reference to this library, or null
};

DWORD WINAPI ReadAndSpeakThread(LPVOID parameter) {
    std::unique_ptr<ReaderStart> start(static_cast<ReaderStart*>(parameter));
    const HMODULE module = start->module;
    try {
        ReadAndSpeak(*start->job);
    } catch (...) {  // memory ran out: the file is not spoken, and nothing else happens
    }
    start.reset();
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Starts the reader of a long file; Play has already taken its ticket.
int SpeakWhenRead(const char* path, const wchar_t* widePath, bool markup, const uint32_t* place,
                  SpeakPendingScope& pending) {
    auto job = std::make_shared<PendingSpeech>();
    job->path = path;
    job->widePath = widePath;
    job->markup = markup;
    job->fromPlace = place != nullptr;
    job->place = place ? *place : 0;
    {
        std::lock_guard<std::mutex> guard(SpeakLock);
        job->ticket = ++SpeakTicket;
        Pending = job;
    }
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ReadAndSpeakThread), &module);
    auto* start = new ReaderStart{job, module};
    HANDLE thread = CreateThread(nullptr, 0, ReadAndSpeakThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        if (module) FreeLibrary(module);
        DropPendingSpeech();
        return PLAY_FAILED;
    }
    PendingThread.Reset(thread);
    pending.Keep();  // the reader clears it once it has spoken
    return PLAY_STARTED;
}

// Files of one encoding are given to the voice by name at once; the others are read first, here when
// short, else on a thread of their own.
bool ReadsLong(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &attributes)) return false;
    return attributes.nFileSizeHigh > 0 || attributes.nFileSizeLow > SPEECH_INPUT_READ_HERE_BYTES;
}

// Sets up the output path and the voice, then starts speaking the file. Returns Play's result.
int StartSpeaking(ISpVoice* voice, const char* path, const wchar_t* widePath, SpeakPendingScope& pending) {
    if (!OpenOutput()) return PLAY_NO_OUTPUT;
    if (FAILED(voice->SetOutput(&SpeechOutputStream, FALSE))) {
        ShowErrorBox(TEXT_FORMAT_REJECTED);
        return PLAY_FAILED;
    }
    if (PluginSettings.VoiceID.IsValid() && !UseConfiguredVoice(voice)) return PLAY_FAILED;
    if (!Succeeded(voice->SetRate(PluginSettings.Rate), SITE_SET_RATE)) return PLAY_FAILED;

    const bool markup = IsMarkupPath(path);
    lstrcpyA(PlaybackState.CurrentFile, path);
    LoadInfoText(path);
    ExpectSpeechBoundaries();
    uint32_t remembered = 0;
    const bool fromPlace = PluginSettings.ResumeFiles && RememberedPlaceOf(path, &remembered);
    const uint32_t* place = fromPlace ? &remembered : nullptr;
    if (ReadsLong(path)) return SpeakWhenRead(path, widePath, markup, place, pending);

    SpeechInput input;
    if (!ReadInputFor(path, markup, place, &input)) {
        ReportUnreadFile(path, input);
        return PLAY_FAILED;
    }
    ULONG stream = 0;
    const HRESULT spoken = SpeakInput(voice, widePath, markup, input, &stream);
    PlaybackState.CurrentStream = stream;
    if (!Succeeded(spoken, SITE_SPEAK)) return PLAY_FAILED;
    const HRESULT resumed = voice->Resume();
    if (FAILED(resumed)) {
        // Play fails, so nothing of the file may be heard or end it: silenced before the box is shown.
        AbandonFile(voice);
        ReportHResult(resumed, SITE_RESUME);
        return PLAY_FAILED;
    }
    FollowStream(stream, input.textShift);
    return PLAY_STARTED;
}

// ---- Reading from a place, and keeping the place ----

// The file is being played or paused: opened, not stopped, and not heard to its end.
bool IsPlayingFile(const char* file, bool* markup) {
    if (!PlaybackState.OutputOpen || PlaybackState.StopRequested || PlaybackState.HeardToEnd) return false;
    if (lstrcmpiA(file, PlaybackState.CurrentFile) != 0) return false;
    *markup = IsMarkupPath(file);
    return true;
}

// The playing file's speech starts again with `speech`: what was left of it is dropped as Stop drops
// it (no end of file for it, the playlist stays), the output is opened again as Play opens it, and a
// paused file stays paused there.
bool SpeakFromPlace(const std::wstring& speech, int64_t textShift) {
    ISpVoice* voice = Voice.Get();
    bool markup = false;
    if (!voice || !IsPlayingFile(PlaybackState.CurrentFile, &markup)) return false;
    BeginStop();
    StopFollowingSpeech();
    if (!Succeeded(voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), SITE_PURGE)) return false;
    CloseOutput();

    SpeakPendingScope pending;
    SpeechOutputStream.ResetWake();
    BeginNextFile(PlaybackState);
    if (!OpenOutput()) return false;
    if (PlaybackState.Paused) PluginModule.outMod->Pause(1);
    ExpectSpeechBoundaries();
    ULONG stream = 0;
    const HRESULT spoken = voice->Speak(speech.c_str(), SPF_ASYNC | (markup ? SPF_IS_XML : SPF_IS_NOT_XML), &stream);
    PlaybackState.CurrentStream = stream;
    if (!Succeeded(spoken, SITE_SPEAK)) return false;
    if (!Succeeded(voice->Resume(), SITE_RESUME)) {
        AbandonFile(voice);
        return false;
    }
    FollowStream(stream, textShift);
    return true;
}

// Stop and Quit keep the place of the file being played, when places are kept; a file heard to its
// end is forgotten. Nothing heard yet leaves the place as it was.
void KeepPlace() {
    if (!PluginSettings.ResumeFiles || !PlaybackState.OutputOpen || !PlaybackState.CurrentFile[0]) return;
    if (PlaybackState.HeardToEnd) return ForgetPlace(PlaybackState.CurrentFile);
    uint32_t position = 0;
    if (HeardTextPosition(&position)) RememberPlace(PlaybackState.CurrentFile, position);
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

    DropPendingSpeech();  // a long file read before this one is not spoken
    // A failed Stop, or a failed Play the player did not stop, left the output open.
    if (PlaybackState.OutputOpen) AbandonFile(Voice.Get());
    SpeakPendingScope pending;
    PlaybackState.Paused = false;
    PlaybackState.HeardToEnd = false;
    SpeechOutputStream.ResetWake();  // while the stop is still under way, so no Write spins on the wake
    BeginNextFile(PlaybackState);
    return StartSpeaking(Voice.Get(), file, widePath, pending);
}

void OpenPlayback() {
    SpeechOutputStream.Reopen();
    SetReadingActions({IsPlayingFile, SpeakFromPlace});
}

void ClosePlayback() {
    KeepPlace();
    BeginStop();
    SpeechOutputStream.Close();
    // A reader still blocked in a read may go on: it holds the library and will speak nothing.
    if (PendingThread.IsValid()) WaitForSingleObject(PendingThread.Get(), PENDING_READER_WAIT_MS);
    PendingThread.Reset();
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
    KeepPlace();
    BeginStop();
    StopFollowingSpeech();  // the selection stays on what was heard last
    if (!Succeeded(voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), SITE_PURGE)) return;
    if (!Succeeded(voice->WaitUntilDone(0), SITE_WAIT_UNTIL_DONE)) return;
    CloseOutput();
}
