#include "playback/playback.h"

#include <windows.h>
#include <sapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "base/error_report.h"
#include "base/file_text.h"
#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "base/sapi_names.h"
#include "base/scoped.h"
#include "documents/document_text.h"
#include "documents/played_document.h"
#include "infowindow/reading_start.h"
#include "infowindow/text_info_window.h"
#include "playback/event_thread.h"
#include "playback/output_stream.h"
#include "playback/playback_state.h"
#include "playback/remembered_places.h"
#include "playback/speech.h"
#include "playback/stream_format.h"
#include "voices/voice_tokens.h"

PlaybackFlags PlaybackState;

namespace {

// Which thread runs what:
//  - the player's thread (or a host's): Play, Stop, Pause, the window's "Read from" items; each start
//    and stop of a speech goes through StartSpeech and StopSpeech;
//  - a file's reader: OnTextProgress after each chunk, which gives the voice the pieces now readable;
//  - the speech event thread: OnSpeechEvent, which follows the streams and gives the next pieces.
// Every look at the current speech, and every Speak of it, is made under SpeechLock, so no stop comes
// between the check that a speech is current and its Speak.

constexpr int PLAY_STARTED = 0;
constexpr int PLAY_NO_OUTPUT = 1;
constexpr int PLAY_FAILED = -1;

std::mutex SpeechLock;
std::shared_ptr<Speech> Current;  // the speech played last: live while LiveTicket is its ticket
std::atomic<ULONG> LiveTicket{0};  // 0 while no speech is being played
ULONG LastTicket = 0;             // under SpeechLock
std::atomic<int> PendingSeekMs{-1};  // the latest time a seek asked for, or -1

bool IsLive(const Speech& speech) { return speech.ticket != 0 && LiveTicket == speech.ticket; }

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

void CloseOutput() {
    PluginModule.outMod->Close();
    PluginModule.SAVSADeInit();
    PlaybackState.OutputOpen = false;
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

// ---- The one way to stop ----

enum class StopKind {
    Stop,     // the player's Stop: the voice purged and waited for, failures reported, the output closed
    Restart,  // a newer start, or a failed one: what is left is purged and the output closed, quietly
    Seek,     // a newer start in the same output: what is left is purged, quietly; the output stays
    Quit,     // shut-down: nothing more ends a file or is given to the voice; the voice goes later
};

// Ends the current speech: no event of it counts any more, no piece of it is given, a Write waiting
// for room lets go of it, and the window stops following it. False when Stop's purge or wait failed
// (reported; the output then stays open).
bool StopSpeech(StopKind kind) {
    std::shared_ptr<Speech> stopped;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        LiveTicket = 0;
        stopped = Current;
    }
    PlaybackState.StopRequested = true;
    if (stopped && stopped->text) stopped->text->Unwatch(stopped->textWatch);
    SpeechOutputStream.WakeWaitingWrite();
    StopFollowingSpeech();  // the selection stays on what was heard last
    ISpVoice* voice = Voice.Get();
    if (kind == StopKind::Quit || !voice) return true;
    if (kind == StopKind::Restart || kind == StopKind::Seek) {
        if (!PlaybackState.OutputOpen) return true;
        voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
        if (kind == StopKind::Restart) CloseOutput();
        return true;
    }
    if (!Succeeded(voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr), SITE_PURGE)) return false;
    if (!Succeeded(voice->WaitUntilDone(0), SITE_WAIT_UNTIL_DONE)) return false;
    CloseOutput();
    return true;
}

// ---- Giving the voice its text ----

// By name or in pieces: a file spoken from its top in an encoding the voice reads itself (ANSI,
// UTF-16 little-endian) goes by name, as does one that cannot be read here (missing, locked: the voice
// then says what is wrong) or read twice (a pipe). Bytes without a mark are decided by their verdict,
// or as soon as a multi-byte UTF-8 sequence shows they are decoded here.
void Decide(Speech& s) {
    if (s.decided) return;
    const FileText* text = s.text.get();
    if (!text || (!text->OnDisk() && !s.decoded)) {
        s.byName = true;
    } else if (s.decoded) {
        s.byName = false;
    } else if (text->EncodingKnown() || text->Done()) {
        s.byName = text->Encoding() == TextEncoding::Ansi || text->Encoding() == TextEncoding::Utf16LE;
    } else if (text->Encoding() == TextEncoding::Utf8) {
        s.byName = false;
    } else {
        return;
    }
    s.decided = true;
}

HRESULT SpeakPiece(ISpVoice* voice, Speech& s, size_t end) {
    const FileText& text = *s.text;
    std::wstring piece;
    if (s.markup) {
        s.openElements.Advance(text.Text(), s.given);
        piece = s.openElements.Prefix(text.Text());
    }
    const int64_t shift = static_cast<int64_t>(s.given) - static_cast<int64_t>(piece.size());
    piece.append(text.Text() + s.given, end - s.given);
    ULONG stream = 0;
    const HRESULT spoken = voice->Speak(piece.c_str(), SPF_ASYNC | (s.markup ? SPF_IS_XML : SPF_IS_NOT_XML), &stream);
    if (FAILED(spoken)) return spoken;
    SpeechPiece given;
    given.stream = stream;
    given.from = s.given;
    given.shift = shift;
    s.pieces.push_back(given);
    s.given = end;
    return S_OK;
}

// Gives the voice what can be given now, keeping PIECES_QUEUED pieces with it. Under SpeechLock.
// Returns a failure and where it happened, or S_OK.
HRESULT Feed(Speech& s, ErrorSite* site) {
    ISpVoice* voice = Voice.Get();
    *site = SITE_SPEAK;
    if (!voice || !IsLive(s)) return S_OK;
    Decide(s);
    if (!s.decided) return S_OK;
    if (s.byName && s.pieces.empty()) {
        ULONG stream = 0;
        const HRESULT spoken = voice->Speak(s.widePath.c_str(), s.markup ? SPEAK_MARKUP_FILE : SPEAK_PLAIN_FILE, &stream);
        if (FAILED(spoken)) return spoken;
        SpeechPiece whole;
        whole.stream = stream;
        s.pieces.push_back(whole);
    }
    while (!s.byName && s.Outstanding() < PIECES_QUEUED) {
        const FileText& text = *s.text;
        const bool done = text.Done();  // before the units: all of them are in once it is
        const size_t units = text.Units();
        const bool first = s.pieces.empty();
        size_t end = SpeechPieceEnd(text.Text(), s.given, units, done, first ? FIRST_PIECE_AT_LEAST : PIECE_AT_LEAST,
                                    first ? FIRST_PIECE_AT_MOST : PIECE_AT_MOST, s.markup);
        // A text with nothing left to speak from here still gives the voice a stream to end.
        if (end <= s.given && !(first && done)) break;
        if (end < s.given) end = s.given;
        const HRESULT spoken = SpeakPiece(voice, s, end);
        if (FAILED(spoken)) return spoken;
        if (first && done && end == units) break;
    }
    if (!s.resumed && !s.pieces.empty()) {
        s.resumed = true;
        *site = SITE_RESUME;
        return voice->Resume();
    }
    return S_OK;
}

// Drops what the voice has queued; a Write that waits for room lets go of it meanwhile.
void PurgeVoice() {
    PlaybackState.StopRequested = true;
    SpeechOutputStream.WakeWaitingWrite();
    if (Voice.Get()) Voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
}

// A document whose text could not be made: the reader says what is wrong with the file.
bool Unreadable(const FileText* text) {
    return text && text->State() == FileText::Progress::Failed && !text->Problem().empty();
}

// A speech that cannot go on after Play returned: silenced, then reported (what is wrong with the file,
// when that is known), and the player moves on.
void AbandonLater(ULONG ticket, HRESULT failure, ErrorSite site, const std::string& problem = std::string()) {
    if (LiveTicket != ticket) return;
    LiveTicket = 0;
    PurgeVoice();
    if (problem.empty())
        ReportHResult(failure, site);
    else
        ShowErrorBox(problem.c_str());
    HWND player = PluginModule.hMainWindow;
    if (player) PostMessageA(player, WM_WA_MPEG_EOF, 0, 0);
}

void RestartByName(Speech& s);

// Text decoded here and cut short by a failed read: what was read is spoken, and it is said once.
// Under SpeechLock; the error to say, or NO_ERROR.
DWORD UnsaidReadFailure(Speech& s) {
    if (s.byName || !s.text || s.text->State() != FileText::Progress::Failed || s.readFailureReported)
        return NO_ERROR;
    s.readFailureReported = true;
    return s.text->ReadError();
}

// From a file's reader: more of the text is in, or the read ended.
void OnTextProgress(ULONG ticket) {
    HRESULT failure = S_OK;
    ErrorSite site = SITE_SPEAK;
    DWORD readError = NO_ERROR;
    std::string problem;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        if (!Current || Current->ticket != ticket || !IsLive(*Current)) return;
        Speech& s = *Current;
        if (s.text->State() == FileText::Progress::Misread) return RestartByName(s);
        if (Unreadable(s.text.get()))
            problem = DocumentFailureMessage(s.path.c_str(), s.text->Problem());
        else
            failure = Feed(s, &site);
        if (SUCCEEDED(failure)) readError = UnsaidReadFailure(s);
    }
    if (!problem.empty()) return AbandonLater(ticket, E_FAIL, SITE_SPEAK, problem);
    if (FAILED(failure)) return AbandonLater(ticket, failure, site);
    if (readError != NO_ERROR) ReportHResult(HRESULT_FROM_WIN32(readError), SITE_SPEAK);
    if (PendingSeekMs >= 0) SetEvent(SpeechEvents[SEEK_EVENT].Get());
}

// Bytes without a mark that were spoken as UTF-8 until one turned out not to be: the file is ANSI,
// and the voice reads it by name from its top; the window shows it read again. Under SpeechLock.
void RestartByName(Speech& s) {
    std::shared_ptr<FileText> again = FileText::Open(s.path.c_str(), true);
    s.text->Unwatch(s.textWatch);
    if (!s.pieces.empty()) {
        PurgeVoice();
        SpeechOutputStream.ResetWake();
        PlaybackState.StopRequested = false;
        s.startMs = PluginModule.outMod->GetWrittenTime();
    }
    s.pieces.clear();
    s.soundBefore = 0;
    s.follower.Start(s.ticket, s.bytesPerSecond);
    s.given = 0;
    s.openElements = OpenElementTracker();
    s.decoded = false;
    s.byName = s.decided = true;
    s.resumed = false;
    if (again) {
        s.text = again;
        again->ReadOnThread();
        ShowPlayingText(s.path.c_str(), again);
    }
    ErrorSite site = SITE_SPEAK;
    const HRESULT result = Feed(s, &site);
    if (FAILED(result)) {
        LiveTicket = 0;
        Voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    }
}

// ---- The one way to start ----

// A time in milliseconds as the player's 32-bit calls take it.
int ClockMs(int64_t ms) { return static_cast<int>(std::min<int64_t>(ms, 0x7FFFFFFF)); }

struct SpeechStart {
    const char* path;
    std::shared_ptr<FileText> text;  // the file's text when it is already being read
    size_t from = 0;                 // where in the text the speech starts
    bool decoded = false;            // given decoded even from the top (reading from a place)
    // Sought, or read from a place, with the player's seek bar on: the output stays open, what it has
    // not played is flushed, and its clock goes on from startMs.
    bool inSameOutput = false;
    int startMs = 0;  // the player's clock at the speech's first sound
    std::shared_ptr<SpokenLength> length;  // the length measured so far of the same Play
};

bool OutputCanFlush() { return PluginModule.outMod && PluginModule.outMod->Flush; }

// What the output holds is dropped and its clock set to startMs; a paused output stays paused.
void FlushOutputTo(int startMs) {
    PluginModule.outMod->Flush(startMs);
    if (PlaybackState.Paused) PluginModule.outMod->Pause(1);
}

// The output made ready for a new speech, the old one stopped. Sought, or read from a place, with the
// seek bar on, the output that is open is kept and flushed; otherwise it is opened again in the current
// format, which the voice is given again, with the voice and rate. Returns Play's result, after
// reporting what failed.
int PrepareOutput(ISpVoice* voice, const SpeechStart& start) {
    const bool sameOutput = start.inSameOutput && PlaybackState.OutputOpen && OutputCanFlush();
    StopSpeech(sameOutput ? StopKind::Seek : StopKind::Restart);
    SpeechOutputStream.ResetWake();  // while the stop is still under way, so no Write spins on the wake
    PlaybackState.StopRequested = false;
    if (sameOutput) {
        FlushOutputTo(start.startMs);
        return PLAY_STARTED;
    }
    if (!OpenOutput()) return PLAY_NO_OUTPUT;
    if (start.startMs > 0 && OutputCanFlush())
        FlushOutputTo(start.startMs);
    else if (PlaybackState.Paused)
        PluginModule.outMod->Pause(1);
    if (FAILED(voice->SetOutput(&SpeechOutputStream, FALSE))) {
        ShowErrorBox(TEXT_FORMAT_REJECTED);
        return PLAY_FAILED;
    }
    if (PluginSettings.VoiceID.IsValid() && !UseConfiguredVoice(voice)) return PLAY_FAILED;
    if (!Succeeded(voice->SetRate(PluginSettings.Rate), SITE_SET_RATE)) return PLAY_FAILED;
    return PLAY_STARTED;
}

// Makes the output ready and starts speaking: what can be spoken now is given at once, the rest as the
// file is read. The window shows the text and follows the speech. Returns Play's result.
int StartSpeech(SpeechStart start) {
    ISpVoice* voice = Voice.Get();
    const int prepared = PrepareOutput(voice, start);
    if (prepared != PLAY_STARTED) return prepared;

    auto speech = std::make_shared<Speech>();
    Speech& s = *speech;
    s.path = start.path;
    wchar_t widePath[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, start.path, -1, widePath, MAX_PATH);
    s.widePath = widePath;
    s.markup = IsMarkupPath(start.path);
    s.text = start.text;
    // A text read on a thread starts once the speech watches it, so no step of its reading goes unseen.
    bool readOnThread = false;
    if (!s.text) {
        s.text = OpenPlayedText(start.path);
        if (s.text && s.text->ReadsQuickly())
            s.text->ReadHere();
        else
            readOnThread = s.text != nullptr;
    }
    if (Unreadable(s.text.get())) {
        StopSpeech(StopKind::Restart);
        ShowErrorBox(DocumentFailureMessage(start.path, s.text->Problem()).c_str());
        return PLAY_FAILED;
    }
    ShowPlayingText(start.path, s.text);
    if (start.decoded && !s.text) start.from = 0, start.decoded = false;  // the voice says what is wrong
    s.given = start.from;
    s.decoded = start.decoded;
    s.bytesPerSecond = SpeechOutputStream.WaveFormat()->nAvgBytesPerSec;
    s.startMs = start.startMs;
    s.length = start.length ? start.length : std::make_shared<SpokenLength>(0, PluginSettings.Rate);

    HRESULT result = S_OK;
    ErrorSite site = SITE_SPEAK;
    DWORD readError = NO_ERROR;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        s.ticket = ++LastTicket ? LastTicket : ++LastTicket;
        s.follower.Start(s.ticket, s.bytesPerSecond);
        // The text of the speech before, when it was another file's, is read no further: its window
        // shows another now. A stopped one still is, for the window that shows it.
        if (Current && Current->text && Current->text != s.text) Current->text->Cancel();
        // A failed read of the same text said by the speech before is not said again.
        if (Current && Current->text == s.text) s.readFailureReported = Current->readFailureReported;
        Current = speech;
        LiveTicket = s.ticket;
        if (s.text) {
            const ULONG ticket = s.ticket;
            s.textWatch = s.text->Watch([ticket] { OnTextProgress(ticket); });
        }
        result = Feed(s, &site);
        if (SUCCEEDED(result)) readError = UnsaidReadFailure(s);
    }
    if (readOnThread) s.text->ReadOnThread();
    if (FAILED(result)) {
        // Nothing of the file may be heard or end it: silenced before the box is shown. A voice that
        // took none of it leaves the output open, for the next Play or Stop to close.
        if (site == SITE_RESUME) {
            StopSpeech(StopKind::Restart);
        } else {
            StopSpeech(StopKind::Quit);
            if (!s.pieces.empty()) voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
        }
        ReportHResult(result, site);
        return PLAY_FAILED;
    }
    FollowSpeech();
    if (readError != NO_ERROR) ReportHResult(HRESULT_FROM_WIN32(readError), SITE_SPEAK);
    return PLAY_STARTED;
}

// ---- Reading from a place, and keeping the place ----

// The speech's text, when `text` is it and its file is being played or paused.
std::shared_ptr<Speech> PlayingSpeechOf(const FileText* text) {
    std::lock_guard<std::mutex> guard(SpeechLock);
    if (!text || !Current || !IsLive(*Current) || Current->text.get() != text) return nullptr;
    if (!PlaybackState.OutputOpen || PlaybackState.HeardToEnd) return nullptr;
    return Current;
}

bool IsPlayingText(const FileText* text) { return PlayingSpeechOf(text) != nullptr; }

// With the seek bar on, a speech from a place goes on in the output that is open, with the player's
// clock at that place's time.
SpeechStart PlacedStart(SpeechStart start, const std::shared_ptr<SpokenLength>& length) {
    start.length = length;
    if (!PluginSettings.Seekable || !length) return start;
    start.inSameOutput = true;
    start.startMs = ClockMs(length->TimeOf(start.from));
    return start;
}

// The playing file's speech starts again at the sentence that holds `position`: what was left of it
// is dropped as Stop drops it (no end of file for it, the playlist stays), the output is opened again,
// and a paused file stays paused there.
void ReadFromPosition(const FileText* text, size_t position) {
    std::shared_ptr<Speech> speech = PlayingSpeechOf(text);
    if (!speech) return;
    std::shared_ptr<FileText> held = speech->text;
    const size_t units = held->Units();
    const size_t from = SentenceStartAt(held->Text(), units, position < units ? position : units, speech->markup);
    const std::string path = speech->path;
    SpeechStart start;
    start.path = path.c_str();
    start.text = held;
    start.from = from;
    start.decoded = true;
    StartSpeech(PlacedStart(start, speech->length));
}

// The span heard last of the speech, in the file's text; false when none was heard.
bool HeardSpan(TextSpan* span) {
    const bool live = LiveTicket != 0 && PlaybackState.OutputOpen;
    const int clock = live ? PluginModule.outMod->GetOutputTime() : 0;
    std::lock_guard<std::mutex> guard(SpeechLock);
    if (!Current) return false;
    Speech& s = *Current;
    TextSpan heard;
    if (IsLive(s) && s.follower.HeardAt(clock - s.startMs, &heard)) {
        s.heard = heard;
        s.heardAny = true;
    }
    if (!s.heardAny) return false;
    *span = s.heard;
    return true;
}

// The playing file's text, for a window asked to show that file.
std::shared_ptr<FileText> PlayingTextOf(const char* file) {
    std::lock_guard<std::mutex> guard(SpeechLock);
    if (!file || !Current || !IsLive(*Current) || lstrcmpiA(file, Current->path.c_str()) != 0) return nullptr;
    return Current->text;
}

// Stop and Quit keep the place of the file being played, when places are kept; a file heard to its
// end is forgotten. Nothing heard yet leaves the place as it was.
void KeepPlace() {
    if (!PluginSettings.ResumeFiles || !PlaybackState.OutputOpen || !PlaybackState.CurrentFile[0]) return;
    if (PlaybackState.HeardToEnd) return ForgetPlace(PlaybackState.CurrentFile);
    TextSpan heard;
    if (HeardSpan(&heard)) RememberPlace(PlaybackState.CurrentFile, heard.position);
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
    // A failed Stop, or a failed Play the player did not stop, left the output open.
    StopSpeech(StopKind::Restart);
    PlaybackState.Paused = false;
    PlaybackState.HeardToEnd = false;
    lstrcpyA(PlaybackState.CurrentFile, file);
    SpeechStart start;
    start.path = file;
    uint32_t remembered = 0;
    if (PluginSettings.ResumeFiles && RememberedPlaceOf(file, &remembered)) {
        start.from = remembered;
        start.decoded = true;
        if (PluginSettings.Seekable) start.startMs = ClockMs(EstimatedSpeechMs(remembered, PluginSettings.Rate));
    }
    PluginModule.is_seekable = PluginSettings.Seekable ? 1 : 0;
    return StartSpeech(start);
}

void OpenPlayback() {
    SpeechOutputStream.Reopen();
    SetReadingActions({IsPlayingText, ReadFromPosition, HeardSpan, PlayingTextOf});
}

void ClosePlayback() {
    KeepPlace();
    StopSpeech(StopKind::Quit);
    SpeechOutputStream.Close();
    std::shared_ptr<Speech> last;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        last.swap(Current);
    }
    // A reader still blocked in a read may go on: it holds the library and gives the voice nothing.
    if (last && last->text) last->text->Cancel();
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
    if (!Voice.Get()) return;
    KeepPlace();
    StopSpeech(StopKind::Stop);
}

// ---- Seeking ----

namespace {

// The text's units: all of them once read, else at least what the file's size promises.
uint64_t KnownOrEstimatedUnits(const FileText& text) {
    const bool done = text.Done();  // before the units: all of them are in once it is
    const uint64_t units = text.Units();
    return done ? units : std::max<uint64_t>(units, EstimatedUnits(text.FileBytes(), nullptr, 0));
}

// The speech's text is read up to `position` or to its end.
bool ReadUpTo(const FileText& text, uint64_t position) { return text.Done() || text.Units() > position; }

}  // namespace

void SeekTo(int ms) {
    if (!PluginSettings.Seekable || LiveTicket == 0) return;
    PendingSeekMs = ms < 0 ? 0 : ms;
    SetEvent(SpeechEvents[SEEK_EVENT].Get());
}

// The sentence whose sound holds the time asked for last: exactly where it was heard, by the estimate
// beyond. A time past the end goes to the last sentence; one past what is read waits for the reader.
void ApplyPendingSeek() {
    const int target = PendingSeekMs.exchange(-1);
    if (target < 0) return;
    std::shared_ptr<Speech> speech;
    uint64_t position = 0;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        if (!Current || !IsLive(*Current) || !Current->text || !Current->length) return;
        speech = Current;
        const FileText& text = *speech->text;
        speech->length->SetUnits(KnownOrEstimatedUnits(text));
        position = speech->length->PositionAt(target);
        if (!ReadUpTo(text, position)) {
            PendingSeekMs = target;  // asked again when more is read
            return;
        }
    }
    const FileText& text = *speech->text;
    const size_t units = text.Units();
    if (position >= units) position = units > 0 ? units - 1 : 0;
    const size_t from = SentenceStartAt(text.Text(), units, static_cast<size_t>(position), speech->markup);
    SpeechStart start;
    const std::string path = speech->path;
    start.path = path.c_str();
    start.text = speech->text;
    start.from = from;
    start.decoded = true;
    StartSpeech(PlacedStart(start, speech->length));
}

int SpeechLengthMs() {
    const bool live = LiveTicket != 0 && PlaybackState.OutputOpen;
    const int played = live ? PluginModule.outMod->GetOutputTime() : 0;
    std::lock_guard<std::mutex> guard(SpeechLock);
    if (!Current || !Current->length || !Current->text) return -1;
    Speech& s = *Current;
    s.length->SetUnits(KnownOrEstimatedUnits(*s.text));
    return s.shownLength.Next(s.length->LengthMs(), played, played);
}

int EstimatedFileLengthMs(const char* path) {
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Get(), &size)) return -1;
    uint8_t start[2] = {};
    DWORD read = 0;
    if (!ReadFile(file.Get(), start, sizeof start, &read, nullptr)) read = 0;
    const uint64_t bytes = static_cast<uint64_t>(size.QuadPart);
    const uint64_t units = PlaysAsDocument(path) ? EstimatedDocumentUnits(path, bytes) : EstimatedUnits(bytes, start, read);
    return ClockMs(EstimatedSpeechMs(units, PluginSettings.Rate));
}

// ---- The speech event thread ----

SpeechEventOutcome OnSpeechEvent(const SPEVENT& event) {
    SpeechEventOutcome outcome;
    HRESULT failure = S_OK;
    ErrorSite site = SITE_SPEAK;
    ULONG ticket = 0;
    {
        std::lock_guard<std::mutex> guard(SpeechLock);
        if (!Current || !IsLive(*Current)) return outcome;
        Speech& s = *Current;
        SpeechPiece* piece = s.PieceOf(event.ulStreamNum);
        if (!piece) return outcome;
        ticket = s.ticket;
        const uint64_t offset = event.ullAudioStreamOffset;
        switch (static_cast<short>(event.eEventId)) {
        case SPEI_START_INPUT_STREAM:
            piece->started = true;
            piece->startOffset = offset;
            piece->soundBase = s.soundBefore;
            break;
        case SPEI_SENTENCE_BOUNDARY:
        case SPEI_WORD_BOUNDARY: {
            if (!piece->started) piece->started = true, piece->soundBase = s.soundBefore;
            const int64_t position = static_cast<int64_t>(static_cast<uint32_t>(event.lParam)) + piece->shift;
            const uint64_t sound = piece->soundBase + (offset > piece->startOffset ? offset - piece->startOffset : 0);
            const uint32_t at = static_cast<uint32_t>(position > static_cast<int64_t>(piece->from) ? position : piece->from);
            const bool sentence = event.eEventId == SPEI_SENTENCE_BOUNDARY;
            s.follower.Add({s.ticket, sound, at, static_cast<uint32_t>(event.wParam), sentence});
            if (sentence && s.bytesPerSecond)
                s.length->Heard(at, s.startMs + static_cast<int64_t>(sound * 1000 / s.bytesPerSecond));
            break;
        }
        case SPEI_END_INPUT_STREAM:
            if (!piece->started) piece->soundBase = s.soundBefore;
            piece->ended = true;
            s.soundBefore = piece->soundBase + (offset > piece->startOffset ? offset - piece->startOffset : 0);
            failure = Feed(s, &site);
            if (SUCCEEDED(failure) && s.AllSpoken()) outcome = {true, s.ticket};
            break;
        }
    }
    if (FAILED(failure)) AbandonLater(ticket, failure, site);
    return outcome;
}

bool IsCurrentSpeech(ULONG ticket) { return ticket != 0 && LiveTicket == ticket; }

void MarkHeardToEnd(ULONG ticket) {
    if (IsCurrentSpeech(ticket)) PlaybackState.HeardToEnd = true;
}
