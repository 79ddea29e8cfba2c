// The state a voice shares with its engine thread, and the thread itself. The COM object
// (voice.cpp) only translates calls into these functions.
#pragma once

#include "engine/speech_text.h"
#include "engine/synthesizer.h"
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
    std::wstring voiceId;
    PcmFormat format;
    ScopedComPtr<ISpStreamFormat> output;  // null: the audio goes nowhere
};

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
    ScopedComPtr<ISpObjectToken> voiceToken;  // as given to SetVoice; null for the default voice
    std::wstring voiceId;
    long rate = 0;
    USHORT volume = 100;
    ULONG pauseCount = 0;

    ULONG lastStreamNumber = 0;
    std::deque<std::unique_ptr<SpeechStream>> queue;
    ULONG currentStream = 0;  // the stream the engine thread speaks, 0 when idle
    bool currentPurged = false;
    HRESULT lastResult = S_OK;
    std::wstring lastBookmark;

    std::deque<SPEVENT> events;
    std::vector<SPEVENT> heldEndEvents;  // purged streams' ends, when they are to arrive late

    bool quit = false;
    bool threadEnded = false;
    std::thread thread;
};

// A core with its engine thread running.
std::shared_ptr<VoiceCore> StartVoiceCore(const std::wstring& voiceId);

// Ends the engine thread (waiting at most the purge watchdog's time for it to leave Write)
// and gives back every reference and event payload the core holds.
void StopVoiceCore(const std::shared_ptr<VoiceCore>& core);

// Queues a stream with the voice's current output, format and voice; returns its number.
ULONG QueueStream(VoiceCore& core, std::unique_ptr<SpeechStream> stream);

// Discards queued speech and the current stream; returns once the engine thread has let go
// of the current stream (so is no longer inside Write), or fails when the watchdog fires.
HRESULT PurgeSpeech(VoiceCore& core);

// Waits until nothing is left to speak; false on time-out.
bool WaitForDone(VoiceCore& core, DWORD milliseconds);

// Moves up to `count` queued events to `out`; returns how many.
ULONG TakeEvents(VoiceCore& core, ULONG count, SPEVENT* out);

// Wakes the engine thread after a change of pause count or rate.
void NudgeEngine(VoiceCore& core);

}  // namespace engine
