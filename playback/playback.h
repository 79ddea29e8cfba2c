// Playback callbacks: speaking a file, stopping and pausing it; and the one speech they start.
#pragma once

#include <windows.h>
#include <sapi.h>

int __cdecl Play(char* file);
void __cdecl Pause();
void __cdecl UnPause();
int __cdecl IsPaused();
void __cdecl Stop();

// A path is spoken as markup when the text after its last '.' (the whole path without one) is "XML",
// in any letter case.
bool IsMarkupPath(const char* path);

// Bit rate in kbit/s as the player shows it: rate × bits × channels / 1000.
int BitRateKbps(int rate, int bits, int channels);

// Start-up: the output stream hands the voice's sound on.
void OpenPlayback();
// Shut-down, first: the place heard is kept, no stream ends a file any more, and the output stream
// lets go of every Write at once, a waiting one too, and hands nothing more on, so no wait of the
// engine's thread outlasts Quit.
void ClosePlayback();
// Shut-down, before the voice goes: a file not stopped is dropped from the voice, so a voice whose last
// release waits for its own thread is not kept waiting for the rest of a book. Its result is not
// looked at: the voice goes next either way.
void SilenceVoice();
// Shut-down, last: waits (at most LAST_WRITE_WAIT_MS) until no thread is inside the stream's Write,
// so the library can be unloaded once Quit returns. False when one is still there (an output module
// that does not return).
bool WaitForLastWrite();
constexpr unsigned LAST_WRITE_WAIT_MS = 100;

// ---- Seeking (with the seek bar on) ----

// SetOutputTime: returns at once; the speech event thread moves the speech to the sentence whose
// sound holds `ms`, the latest time asked for winning.
void SeekTo(int ms);
// On the speech event thread: the seek asked for last, if any.
void ApplyPendingSeek();
// GetLength: the estimated length of the file being played, as the player is shown it; -1 when none
// is played.
int SpeechLengthMs();
// GetFileInfo: a file's estimated length from its size and encoding mark; -1 when it has no size.
int EstimatedFileLengthMs(const char* path);

// ---- From the speech event thread ----

// What an event of the voice means for the speech.
struct SpeechEventOutcome {
    bool endsSpeech = false;  // the last of the speech was spoken: once played out, the file ends
    ULONG ticket = 0;         // the speech it ended
};
// Takes a start or end of a stream, or a sentence or word boundary, for the current speech; queues
// the next piece of the text when one has been spoken. Events of other (earlier) speeches count for
// nothing.
SpeechEventOutcome OnSpeechEvent(const SPEVENT& event);
// Whether the speech is still the one being played: no stop or newer start came since.
bool IsCurrentSpeech(ULONG ticket);
// The player was told the file ended.
void MarkHeardToEnd(ULONG ticket);
