// The state a voice shares with its engine thread, and the thread itself. The COM object
// (voice.cpp) only translates calls into these functions.
#pragma once

#include "engine/hosted_engine.h"
#include "engine/speech_text.h"
#include "engine/recorded_sound.h"
#include "engine/synthesizer.h"
#include "engine/thread_caller.h"
#include "engine/wave_out.h"
#include "base/scoped.h"

#include <windows.h>
#include <sapi.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace engine {

// One Speak call's worth of speech, with what it is spoken with, fixed when it was queued.
struct SpeechStream {
    ULONG number = 0;
    SpeechText speech;
    std::shared_ptr<const RecordedSound> recorded;  // set: this sound is played instead of speech
    std::wstring voiceId;
    PcmFormat format;
    ScopedComPtr<ISpStreamFormat> output;  // null: the sound device plays it (audio)
    std::shared_ptr<WaveOutput> audio;
    ScopedComPtr<TtsEngine> hostedEngine;  // set: a registered voice's own engine speaks it
    PcmFormat hostedFormat;                 // the format that engine writes
    std::shared_ptr<void> alertHold;        // set for an alert voice's stream: counts it while it lives
};

// An event as the voice's connection points send it to automation clients (voice_events.h): the
// record's fields, with copies of what its payload says.
struct AutomationEvent {
    SPEVENT record = {};                  // lParam only as a number: its payload is not owned
    std::wstring text;                    // a bookmark's name
    ScopedComPtr<IUnknown> object;        // a voice change's token
};

// SAPI's default for automation: every voice event but the audio level.
const ULONGLONG DefaultAutomationInterest = 0x81FE;

// Everything below is guarded by `lock`. The lock is never held while calling the output's
// Write or the sink's Notify, nor while releasing anything that came from outside.
struct VoiceCore {
    std::mutex lock;
    std::condition_variable changed;  // signalled on every change the threads wait for

    ULONGLONG eventInterest = 0;
    ULONGLONG queuedInterest = 0;
    ScopedComPtr<ISpNotifySink> sink;
    ScopedComPtr<ISpStreamFormat> output;
    PcmFormat outputFormat;
    // The sound device, open while speech for the default output is queued or playing.
    std::shared_ptr<WaveOutput> audio;
    ScopedComPtr<ISpObjectToken> voiceToken;  // as given to SetVoice; null for the default voice
    std::wstring voiceId;
    long rate = 0;
    USHORT volume = 100;
    // Normal voices give way to alert voices' speech at their alert boundary; over voices speak anyway.
    SPVPRIORITY priority = SPVPRI_NORMAL;
    SPEVENTENUM alertBoundary = SPEI_WORD_BOUNDARY;
    ULONG syncSpeakTimeout = 10000;  // ms a synchronous Speak waits for the sound device to be free
    ULONG pauseCount = 0;

    ULONG lastStreamNumber = 0;
    std::deque<std::unique_ptr<SpeechStream>> queue;
    ULONG currentStream = 0;  // the stream the engine thread speaks, 0 when idle
    bool currentPurged = false;
    HRESULT lastResult = S_OK;
    std::wstring lastBookmark;

    // A Skip waiting for the engine thread: sentences still to skip in the current stream, and
    // how many it skipped (skipDone says the engine thread has answered).
    ULONG skipRequest = 0;
    bool skipDone = false;
    ULONG skipped = 0;

    std::deque<SPEVENT> events;
    // Copies of the events the automation interest names, while a connection point has a client: for
    // the thread that connected it, which `eventCaller` wakes.
    ULONGLONG automationInterest = DefaultAutomationInterest;
    std::shared_ptr<ThreadCaller> eventCaller;
    std::deque<AutomationEvent> automationEvents;
    std::vector<SPEVENT> heldEndEvents;  // purged streams' ends, when they are to arrive late

    // Set while the voice has nothing to speak (SpeakCompleteEvent), manual-reset.
    ScopedHandle completeEvent{CreateEventW(nullptr, TRUE, TRUE, nullptr)};

    bool quit = false;
    bool comReady = false;  // the engine thread is in the multithreaded apartment
    bool threadEnded = false;
    std::thread thread;
};

// A core without its engine thread, which EnsureEngineThread starts when there is something to speak
// to: the thread enters the multithreaded apartment, and a program that only made a voice should not
// find its process's apartments changed (SAPI makes that apartment at SetOutput).
std::shared_ptr<VoiceCore> StartVoiceCore(const std::wstring& voiceId);
void EnsureEngineThread(const std::shared_ptr<VoiceCore>& core);

// Ends the engine thread (waiting at most the purge watchdog's time for it to leave Write)
// and gives back every reference and event payload the core holds.
void StopVoiceCore(const std::shared_ptr<VoiceCore>& core);

// The sound device the voice plays its default output on: the one it holds open, or a newly
// opened one; the error a program sees when there is no device to play on.
HRESULT OpenDefaultAudio(VoiceCore& core, std::shared_ptr<WaveOutput>& audio);

// Queues a stream with the voice's current output, format and voice; returns its number. Without
// an output stream, the stream plays on `audio` (from OpenDefaultAudio).
ULONG QueueStream(VoiceCore& core, std::unique_ptr<SpeechStream> stream, std::shared_ptr<WaveOutput> audio);

// Pauses or resumes what the sound device is playing, if the voice holds one open.
void PauseDefaultAudio(VoiceCore& core, bool pause);

// Discards queued speech and the current stream; returns once the engine thread has let go
// of the current stream (so is no longer inside Write), or fails when the watchdog fires.
HRESULT PurgeSpeech(VoiceCore& core);

// Waits until nothing is left to speak; false on time-out.
bool WaitForDone(VoiceCore& core, DWORD milliseconds);

// Waits, once the streams queued before it are done, at most the voice's sync-speak timeout for alert
// voices to let the stream start; one still held back then is taken out of the queue (false).
bool WaitForStartOrWithdraw(VoiceCore& core, ULONG streamNumber);

// Whether a stream of a voice with this priority waits now for alert voices' speech to end.
bool GivesWayToAlerts(SPVPRIORITY priority);

// Moves up to `count` queued events to `out`; returns how many.
ULONG TakeEvents(VoiceCore& core, ULONG count, SPEVENT* out);

// Skips `count` sentences forward in the stream being spoken (none when idle); how many it skipped.
ULONG SkipSentences(VoiceCore& core, ULONG count);

// Wakes the engine thread after a change of pause count or rate.
void NudgeEngine(VoiceCore& core);

}  // namespace engine
