#include "engine/voice_core.h"

#include "engine/engine_state.h"
#include "engine/events.h"
#include "engine/sapi_codes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <new>
#include <cstdio>

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;
using Lock = std::unique_lock<std::mutex>;

// ---- Live voices, for WaitUntilIdle ------------------------------------------------------

std::mutex RegistryLock;

std::vector<std::weak_ptr<VoiceCore>>& LiveCores() {
    static auto* cores = new std::vector<std::weak_ptr<VoiceCore>>;  // outlives engine threads
    return *cores;
}

void Register(const std::shared_ptr<VoiceCore>& core) {
    std::lock_guard<std::mutex> guard(RegistryLock);
    LiveCores().push_back(core);
}

void Unregister(const VoiceCore* core) {
    std::lock_guard<std::mutex> guard(RegistryLock);
    auto& cores = LiveCores();
    for (auto it = cores.begin(); it != cores.end();) {
        auto alive = it->lock();
        if (!alive || alive.get() == core) it = cores.erase(it);
        else ++it;
    }
}

// ---- Priorities ---------------------------------------------------------------------

std::atomic<long> AlertStreams{0};  // alert voices' streams queued or being spoken

// Wakes every voice, so one that gave way to alert voices looks again.
void NudgeAllCores() {
    std::vector<std::shared_ptr<VoiceCore>> cores;
    {
        std::lock_guard<std::mutex> guard(RegistryLock);
        for (const auto& weak : LiveCores()) {
            if (auto core = weak.lock()) cores.push_back(core);
        }
    }
    for (const auto& core : cores) NudgeEngine(*core);
}

std::shared_ptr<void> HoldAlert() {
    ++AlertStreams;
    return std::shared_ptr<void>(nullptr, [](void*) {
        if (--AlertStreams == 0) NudgeAllCores();
    });
}

bool IsIdle(VoiceCore& core) {
    std::lock_guard<std::mutex> guard(core.lock);
    return core.queue.empty() && core.currentStream == 0;
}

// ---- Events ------------------------------------------------------------------------

void ReleaseAll(std::vector<SPEVENT>& events) {
    for (SPEVENT& event : events) ReleaseEventPayload(event);
    events.clear();
}

// Queues the events the queued interest asks for and moves the others to `dropped`; fills
// `sink` when the event interest asks for a notification. The caller holds the core's lock.
// Copies for the connection points the events their interest names, and wakes their thread.
void CopyAutomationEventsLocked(VoiceCore& core, const std::vector<SPEVENT>& events) {
    if (!core.eventCaller) return;
    bool copied = false;
    for (const SPEVENT& event : events) {
        if (!(core.automationInterest & InterestBit(static_cast<SPEVENTENUM>(event.eEventId)))) continue;
        AutomationEvent copy;
        copy.record = event;
        if (event.elParamType == SPET_LPARAM_IS_STRING && event.lParam) {
            copy.text = reinterpret_cast<const wchar_t*>(event.lParam);
        } else if ((event.elParamType == SPET_LPARAM_IS_TOKEN || event.elParamType == SPET_LPARAM_IS_OBJECT) &&
                   event.lParam) {
            copy.object.Assign(reinterpret_cast<IUnknown*>(event.lParam));
        }
        core.automationEvents.push_back(std::move(copy));
        copied = true;
    }
    if (copied) core.eventCaller->Post();
}

void QueueEventsLocked(VoiceCore& core, std::vector<SPEVENT>& events, std::vector<SPEVENT>& dropped,
                       ScopedComPtr<ISpNotifySink>& sink) {
    CopyAutomationEventsLocked(core, events);
    bool notify = false;
    for (SPEVENT& event : events) {
        ULONGLONG bit = InterestBit(static_cast<SPEVENTENUM>(event.eEventId));
        if (core.eventInterest & bit) notify = true;
        if (core.queuedInterest & bit) core.events.push_back(event);
        else dropped.push_back(event);
    }
    events.clear();
    if (notify && core.sink) sink.Assign(core.sink.Get());
}

// Outside the lock: gives back dropped payloads, then tells the sink.
void NotifyAndRelease(ScopedComPtr<ISpNotifySink>& sink, std::vector<SPEVENT>& dropped) {
    ReleaseAll(dropped);
    if (sink) sink->Notify();
    sink.Reset();
}

// An event whose audio has not been written yet.
struct PendingEvent {
    SPEVENTENUM id;
    ULONGLONG offset;
    ULONG position;
    ULONG length;
    std::wstring mark;
};

// ---- Speaking one stream (engine thread only) -------------------------------------------

class StreamSpeaker : public HostedStream {
public:
    StreamSpeaker(VoiceCore& core, SpeechStream& stream)
        : core_(core),
          stream_(stream),
          synthesizer_(stream.recorded ? MakeRecordedSynthesizer(stream.recorded, stream.format)
                                       : MakeSynthesizer(stream.speech, stream.format, stream.voiceId)),
          nextSentence_(SentenceEventsWanted() ? NextSentence(stream.speech.text, 0) : TextSpan{0, 0}),
          nextWord_(NextWord(stream.speech.text, 0)) {}
    ~StreamSpeaker() override { ReleaseAll(hostedEvents_); }

    void Run() {
        if (stream_.hostedEngine) return RunHosted();
        std::vector<SPEVENT> start = {PlainEvent(SPEI_START_INPUT_STREAM, stream_.number, 0),
                                      VoiceChangeEvent(stream_.number, 0, stream_.voiceId),
                                      PrivatePointerEvent(stream_.number, 0), PrivateObjectEvent(stream_.number, 0)};
        if (!Deliver(start, false)) return Conclude({}, false);
        for (size_t block = 0;; ++block) {
            AnswerSkip();
            size_t bytes = BlockBytes(block, stream_.format);
            ProduceUntil(bytes);
            if (bytes > carry_.size()) bytes = carry_.size();
            if (bytes == 0) break;
            if (!GiveWayToAlerts(bytes)) return Conclude({}, false);
            if (bytes == 0) continue;
            const bool first = written_ == 0;
            if (first) paceOrigin_ = Clock::now();
            if (!WriteBlock(bytes)) return Conclude({}, false);
            carry_.erase(carry_.begin(), carry_.begin() + bytes);
            if (!Deliver(DueEvents(written_), first)) return Conclude({}, false);
            if (!Pace()) return Conclude({}, false);
        }
        // The stream ends when its sound has been heard, not merely handed to the device.
        if (stream_.audio && !stream_.audio->Drain([this] { return StoppingNow(); })) return Conclude({}, false);
        NoteClosingBookmarks();
        std::vector<SPEVENT> last = DueEvents(ULLONG_MAX);
        last.push_back(PlainEvent(SPEI_END_INPUT_STREAM, stream_.number, written_));
        Conclude(last, true);
    }

private:
    long Rate() override {
        std::lock_guard<std::mutex> guard(core_.lock);
        lastRate_ = core_.rate < -10 ? -10 : core_.rate > 10 ? 10 : core_.rate;
        return lastRate_;
    }

    // ---- A registered voice's engine speaks the stream, through the site (hosted_engine.h) ----

    void RunHosted() {
        std::vector<SPEVENT> start = {PlainEvent(SPEI_START_INPUT_STREAM, stream_.number, 0),
                                      VoiceChangeEvent(stream_.number, 0, stream_.voiceId)};
        if (!Deliver(start, false)) return Conclude({}, false);
        HRESULT result = SpeakHosted(stream_.hostedEngine.Get(), stream_.hostedFormat, stream_.format, stream_.speech, *this);
        if (StoppingNow()) return Conclude({}, false);
        if (FAILED(result)) {
            NoteSynthesisFailure(result);
            return Conclude({}, false);
        }
        if (stream_.audio && !stream_.audio->Drain([this] { return StoppingNow(); })) return Conclude({}, false);
        std::vector<SPEVENT> last = DueHostedEvents(ULLONG_MAX);
        last.push_back(PlainEvent(SPEI_END_INPUT_STREAM, stream_.number, written_));
        Conclude(last, true);
    }

    bool WriteAudio(const void* data, ULONG bytes) override {
        if (hostedWrites_++ == 0) paceOrigin_ = Clock::now();
        const auto* begin = static_cast<const unsigned char*>(data);
        carry_.assign(begin, begin + bytes);
        const bool written = WriteBlock(bytes);
        carry_.clear();
        return written && Deliver(DueHostedEvents(written_), hostedWrites_ == 1) && Pace();
    }

    DWORD Actions() override {
        std::lock_guard<std::mutex> guard(core_.lock);
        const long rate = core_.rate < -10 ? -10 : core_.rate > 10 ? 10 : core_.rate;
        return (Stopping() ? TtsAbort : 0) | (core_.skipRequest ? TtsSkip : 0) | (rate != lastRate_ ? TtsRate : 0) |
               (core_.volume != lastVolume_ ? TtsVolume : 0);
    }

    USHORT Volume() override {
        std::lock_guard<std::mutex> guard(core_.lock);
        lastVolume_ = core_.volume;
        return lastVolume_;
    }

    ULONGLONG EventInterest() override {
        std::lock_guard<std::mutex> guard(core_.lock);
        return core_.eventInterest | core_.queuedInterest;
    }

    // Kept in order of audio offset, to be queued once the audio before them has been written.
    void AddEvent(const SPEVENT& event) override {
        auto later = std::upper_bound(hostedEvents_.begin(), hostedEvents_.end(), event, [](const SPEVENT& a, const SPEVENT& b) {
            return a.ullAudioStreamOffset < b.ullAudioStreamOffset;
        });
        hostedEvents_.insert(later, event)->ulStreamNum = stream_.number;
    }

    std::vector<SPEVENT> DueHostedEvents(ULONGLONG offset) {
        auto end = hostedEvents_.begin();
        while (end != hostedEvents_.end() && end->ullAudioStreamOffset < offset) ++end;
        std::vector<SPEVENT> due(hostedEvents_.begin(), end);
        hostedEvents_.erase(hostedEvents_.begin(), end);
        return due;
    }

    ULONG SkipRequest() override {
        std::lock_guard<std::mutex> guard(core_.lock);
        return core_.skipRequest;
    }

    void SkipDone(long skipped) override {
        std::lock_guard<std::mutex> guard(core_.lock);
        core_.skipped = static_cast<ULONG>(skipped);
        core_.skipDone = true;
        core_.skipRequest = 0;
        core_.changed.notify_all();
    }

    // ---- The engine's own voices ----

    bool Stopping() const { return core_.quit || core_.currentPurged; }

    // While alert voices speak, a normal voice writes up to its next alert boundary (the first event
    // of that kind not yet delivered) and waits there; false when stopped meanwhile.
    bool GiveWayToAlerts(size_t& bytes) {
        SPEVENTENUM boundary;
        {
            std::lock_guard<std::mutex> guard(core_.lock);
            if (!GivesWayToAlerts(core_.priority)) return true;
            boundary = core_.alertBoundary;
        }
        for (const PendingEvent& event : pending_) {
            if (event.id != boundary || event.offset < written_) continue;
            if (event.offset > written_) {
                bytes = std::min<size_t>(bytes, event.offset - written_);
                return true;
            }
            Lock lock(core_.lock);
            core_.changed.wait(lock, [&] { return Stopping() || !GivesWayToAlerts(core_.priority); });
            bytes = 0;  // measured again from here
            return !Stopping();
        }
        return true;  // no boundary left: the stream ends first
    }

    bool StoppingNow() {
        std::lock_guard<std::mutex> guard(core_.lock);
        return Stopping();
    }

    // Synthesizes until `bytes` are waiting or the text is used up; the rate is read for
    // every piece, so a change applies to what is still to come.
    void ProduceUntil(size_t bytes) {
        while (textLeft_ && carry_.size() < bytes) {
            size_t before = carry_.size();
            ULONG position = 0, length = 0;
            textLeft_ = synthesizer_->NextPiece(Rate(), carry_, position, length);
            if (!textLeft_) {
                NoteSynthesisFailure(synthesizer_->Failure());
                break;
            }
            if (position < resumeAt_) {  // skipped: synthesized only to get past it
                carry_.resize(before);
                continue;
            }
            piecePosition_ = position;
            NoteTextEvents(position, length, produced_);
            produced_ += carry_.size() - before;
        }
    }

    // A Skip asks to go on from a later sentence: what is synthesized but not yet written is dropped
    // with its events, and the pieces before the new start are synthesized and dropped too.
    void AnswerSkip() {
        ULONG count;
        {
            std::lock_guard<std::mutex> guard(core_.lock);
            count = core_.skipRequest;
            core_.skipRequest = 0;
        }
        if (count == 0) return;
        ULONG skipped = 0;
        const std::wstring& text = stream_.speech.text;
        resumeAt_ = SentenceSkipTarget(text, piecePosition_, count, skipped);
        carry_.clear();
        produced_ = written_;
        pending_.clear();
        nextSentence_ = SentenceEventsWanted() ? NextSentence(text, resumeAt_) : TextSpan{0, 0};
        nextWord_ = NextWord(text, resumeAt_);
        const auto& bookmarks = stream_.speech.bookmarks;
        while (nextBookmark_ < bookmarks.size() && bookmarks[nextBookmark_].position < resumeAt_) ++nextBookmark_;
        std::lock_guard<std::mutex> guard(core_.lock);
        core_.skipped = skipped;
        core_.skipDone = true;
        core_.changed.notify_all();
    }

    // Events of the text that starts within the piece of `length` units at `position`, whose sound
    // starts at `offset`: bookmarks, then sentences, then words, as SAPI orders them.
    void NoteTextEvents(ULONG position, ULONG length, ULONGLONG offset) {
        const ULONG end = position + length;
        const auto& bookmarks = stream_.speech.bookmarks;
        while (nextBookmark_ < bookmarks.size() && bookmarks[nextBookmark_].position < end) {
            pending_.push_back({SPEI_TTS_BOOKMARK, offset, 0, 0, bookmarks[nextBookmark_++].name});
        }
        const std::wstring& text = stream_.speech.text;
        while (nextSentence_.length && nextSentence_.position < end) {
            NoteSpanEvent(SPEI_SENTENCE_BOUNDARY, nextSentence_, offset);
            nextSentence_ = NextSentence(text, nextSentence_.position + nextSentence_.length);
        }
        while (nextWord_.length && nextWord_.position < end) {
            NoteSpanEvent(SPEI_WORD_BOUNDARY, nextWord_, offset);
            nextWord_ = NextWord(text, nextWord_.position + nextWord_.length);
        }
    }

    // Sentence and word events tell where they stand in the input the voice was given.
    void NoteSpanEvent(SPEVENTENUM id, TextSpan spoken, ULONGLONG offset) {
        const TextSpan source = SourceSpan(stream_.speech, spoken);
        pending_.push_back({id, offset, source.position, source.length, L""});
    }

    // Bookmarks after the last character stand at the end of the audio.
    void NoteClosingBookmarks() {
        const auto& bookmarks = stream_.speech.bookmarks;
        while (nextBookmark_ < bookmarks.size()) {
            pending_.push_back({SPEI_TTS_BOOKMARK, produced_, 0, 0, bookmarks[nextBookmark_++].name});
        }
    }

    void NoteSynthesisFailure(HRESULT failure) {
        if (SUCCEEDED(failure)) return;
        std::lock_guard<std::mutex> guard(core_.lock);
        core_.lastResult = failure;
    }

    // Events whose audio lies before `offset`, as event records.
    std::vector<SPEVENT> DueEvents(ULONGLONG offset) {
        std::vector<SPEVENT> due;
        while (!pending_.empty() && pending_.front().offset < offset) {
            const PendingEvent& event = pending_.front();
            if (event.id == SPEI_TTS_BOOKMARK) {
                due.push_back(BookmarkEvent(stream_.number, event.offset, event.mark));
                NoteBookmark(event.mark);
            } else {
                due.push_back(PlainEvent(event.id, stream_.number, event.offset, event.length, event.position));
            }
            pending_.pop_front();
        }
        return due;
    }

    void NoteBookmark(const std::wstring& mark) {
        std::lock_guard<std::mutex> guard(core_.lock);
        core_.lastBookmark = mark;
    }

    // Queues events unless the stream was purged meanwhile; with `releaseHeld`, the held ends
    // of purged streams follow them.
    bool Deliver(std::vector<SPEVENT> events, bool releaseHeld) {
        ScopedComPtr<ISpNotifySink> sink;
        std::vector<SPEVENT> dropped;
        bool alive;
        {
            std::lock_guard<std::mutex> guard(core_.lock);
            alive = !Stopping();
            if (alive) {
                if (releaseHeld) TakeHeldEndEvents(events);
                QueueEventsLocked(core_, events, dropped, sink);
            } else {
                dropped = std::move(events);
            }
        }
        NotifyAndRelease(sink, dropped);
        return alive;
    }

    void TakeHeldEndEvents(std::vector<SPEVENT>& events) {
        events.insert(events.end(), core_.heldEndEvents.begin(), core_.heldEndEvents.end());
        core_.heldEndEvents.clear();
    }

    bool WriteBlock(size_t bytes) {
        {
            Lock lock(core_.lock);
            core_.changed.wait(lock, [&] { return Stopping() || core_.pauseCount == 0; });
            if (Stopping()) return false;
        }
        if (stream_.audio) return WriteToDevice(bytes);
        if (!stream_.output) {  // no output at all: nobody hears it
            written_ += bytes;
            return true;
        }
        RecordWrite(stream_.number, carry_.data(), static_cast<ULONG>(bytes));
        ULONG accepted = 0;
        HRESULT result = stream_.output->Write(carry_.data(), static_cast<ULONG>(bytes), &accepted);
        if (SUCCEEDED(result)) written_ += bytes;  // also when a purge came meanwhile: the audio is out
        std::lock_guard<std::mutex> guard(core_.lock);
        if (FAILED(result)) core_.lastResult = result;
        return SUCCEEDED(result) && !Stopping();
    }

    bool WriteToDevice(size_t bytes) {
        RecordWrite(stream_.number, carry_.data(), static_cast<ULONG>(bytes));
        if (stream_.audio->Write(carry_.data(), bytes, [this] { return StoppingNow(); })) {
            written_ += bytes;
            return !StoppingNow();
        }
        std::lock_guard<std::mutex> guard(core_.lock);
        if (!Stopping()) core_.lastResult = SPERR_DEVICE_NOT_ENABLED;
        return false;
    }

    // In real time, the audio written so far is due no earlier than it takes to play from the
    // first block on; measuring from there keeps coarse timers from adding up.
    bool Pace() {
        if (SynthesisSpeed() != Speed::RealTime || stream_.audio) return true;  // the device keeps its own time
        const PcmFormat& format = stream_.format;
        auto played = std::chrono::microseconds(static_cast<long long>(written_ / format.BlockAlign()) * 1000000 /
                                                format.samplesPerSec);
        Lock lock(core_.lock);
        core_.changed.wait_until(lock, paceOrigin_ + played, [&] { return Stopping(); });
        return !Stopping();
    }

    // The stream is over: spoken to its end (`completed`), purged, or its Write failed. A
    // stream that did not complete still gets its end-of-input event, as SAPI does; a
    // purged one's may be held back to arrive late.
    void Conclude(std::vector<SPEVENT> events, bool completed) {
        if (stream_.audio && !completed) stream_.audio->Reset();  // a purge silences what is queued
        ScopedComPtr<ISpNotifySink> sink;
        std::vector<SPEVENT> dropped;
        {
            std::lock_guard<std::mutex> guard(core_.lock);
            if (core_.quit) {
                dropped = std::move(events);
            } else if (core_.currentPurged || !completed) {
                dropped = std::move(events);
                std::vector<SPEVENT> end = {PlainEvent(SPEI_END_INPUT_STREAM, stream_.number, written_)};
                if (core_.currentPurged && LatePurgedEndEventsWanted()) core_.heldEndEvents.push_back(end.front());
                else QueueEventsLocked(core_, end, dropped, sink);
            } else {
                std::vector<SPEVENT> held;
                TakeHeldEndEvents(held);
                events.insert(events.end() - 1, held.begin(), held.end());  // before this stream's end
                QueueEventsLocked(core_, events, dropped, sink);
            }
        }
        NotifyAndRelease(sink, dropped);
        // Idle only now, so whoever waits for the voice to be done also finds the sink told.
        std::lock_guard<std::mutex> guard(core_.lock);
        core_.currentStream = 0;
        core_.currentPurged = false;
        if (core_.queue.empty()) {
            core_.audio.reset();  // the device closes once this stream lets go
            SetEvent(core_.completeEvent.Get());
        }
        core_.changed.notify_all();
    }

    VoiceCore& core_;
    SpeechStream& stream_;
    std::unique_ptr<Synthesizer> synthesizer_;
    // The next sentence and word not yet reported (length 0: none left), found as the speech
    // reaches them, so that a huge text costs nothing before its first sound.
    TextSpan nextSentence_;
    TextSpan nextWord_;
    size_t nextBookmark_ = 0;
    std::deque<PendingEvent> pending_;
    std::vector<unsigned char> carry_;  // synthesized, not yet written
    bool textLeft_ = true;
    size_t piecePosition_ = 0;  // where the last piece kept starts in the spoken text
    size_t resumeAt_ = 0;       // pieces before this position were skipped
    ULONGLONG produced_ = 0;
    ULONGLONG written_ = 0;
    Clock::time_point paceOrigin_;
    // Hosting a registered voice's engine: what it was last told, its writes, its events not yet due.
    long lastRate_ = 0;
    USHORT lastVolume_ = 0xFFFF;
    ULONG hostedWrites_ = 0;
    std::vector<SPEVENT> hostedEvents_;
};

std::unique_ptr<SpeechStream> TakeNextStream(VoiceCore& core) {
    Lock lock(core.lock);
    core.changed.wait(lock, [&] {
        return core.quit || (!core.queue.empty() && core.pauseCount == 0 && !GivesWayToAlerts(core.priority));
    });
    if (core.quit) return nullptr;
    std::unique_ptr<SpeechStream> stream = std::move(core.queue.front());
    core.queue.pop_front();
    core.currentStream = stream->number;
    core.currentPurged = false;
    return stream;
}

// Memory that runs out while a stream is spoken ends that stream as a failure the voice's status
// shows, as a real engine's would, instead of ending the process: its end of input still comes, so the
// program that spoke it moves on.
void SpeakOrRunOut(VoiceCore& core, SpeechStream& stream) {
    try {
        StreamSpeaker(core, stream).Run();
        return;
    } catch (const std::bad_alloc&) {
    }
    ScopedComPtr<ISpNotifySink> sink;
    std::vector<SPEVENT> dropped;
    {
        std::lock_guard<std::mutex> guard(core.lock);
        core.lastResult = E_OUTOFMEMORY;
        std::vector<SPEVENT> end = {PlainEvent(SPEI_END_INPUT_STREAM, stream.number, 0)};
        if (!core.quit) QueueEventsLocked(core, end, dropped, sink);
    }
    NotifyAndRelease(sink, dropped);
    std::lock_guard<std::mutex> guard(core.lock);
    core.currentStream = 0;
    core.currentPurged = false;
    if (core.queue.empty()) {
        core.audio.reset();
        SetEvent(core.completeEvent.Get());
    }
    core.changed.notify_all();
}

void EngineThread(std::shared_ptr<VoiceCore> core) {
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        std::lock_guard<std::mutex> guard(core->lock);
        core->comReady = true;
        core->changed.notify_all();
    }
    while (std::unique_ptr<SpeechStream> stream = TakeNextStream(*core)) {
        SpeakOrRunOut(*core, *stream);
    }
    if (SUCCEEDED(init)) CoUninitialize();
    std::lock_guard<std::mutex> guard(core->lock);
    core->threadEnded = true;
    core->changed.notify_all();
}

// Waits, with the core's lock held, until the engine thread that was told to quit has ended: at most
// the purge watchdog's time, or, where a real engine's Release is imitated, for as long as it takes
// (saying so once the watchdog's time has passed). False when it has not ended.
bool WaitForEngineThreadEnd(VoiceCore& core, Lock& lock) {
    if (core.thread.get_id() == std::this_thread::get_id()) return false;  // released from a Write or Notify
    auto ended = [&] { return core.threadEnded; };
    if (core.changed.wait_for(lock, std::chrono::milliseconds(PurgeWatchdogMilliseconds()), ended)) return true;
    if (!ReleaseWaitsForEngineThread()) return false;
    std::fprintf(stderr, "speech engine stand-in: a released voice waits for its engine thread to leave Write\n");
    core.changed.wait(lock, ended);
    return true;
}

}  // namespace

std::shared_ptr<VoiceCore> StartVoiceCore(const std::wstring& voiceId) {
    auto core = std::make_shared<VoiceCore>();
    core->voiceId = voiceId;
    Register(core);
    return core;
}

void EnsureEngineThread(const std::shared_ptr<VoiceCore>& core) {
    Lock lock(core->lock);
    if (core->thread.joinable() || core->quit) return;
    core->thread = std::thread(EngineThread, core);
    // Engines of registered voices are made in that apartment, which this thread keeps alive.
    core->changed.wait(lock, [&] { return core->comReady; });
}

void StopVoiceCore(const std::shared_ptr<VoiceCore>& core) {
    std::deque<std::unique_ptr<SpeechStream>> discarded;
    std::vector<SPEVENT> events;
    ScopedComPtr<ISpNotifySink> sink;
    ScopedComPtr<ISpStreamFormat> output;
    ScopedComPtr<ISpObjectToken> voiceToken;
    std::deque<AutomationEvent> automationEvents;
    bool ended;
    {
        Lock lock(core->lock);
        core->quit = true;
        automationEvents.swap(core->automationEvents);
        discarded.swap(core->queue);
        events.assign(core->events.begin(), core->events.end());
        core->events.clear();
        events.insert(events.end(), core->heldEndEvents.begin(), core->heldEndEvents.end());
        core->heldEndEvents.clear();
        *sink.Receive() = core->sink.Detach();
        *output.Receive() = core->output.Detach();
        *voiceToken.Receive() = core->voiceToken.Detach();
        core->changed.notify_all();
        ended = !core->thread.joinable() || WaitForEngineThreadEnd(*core, lock);
    }
    if (ended) {
        if (core->thread.joinable()) core->thread.join();
    } else {
        std::fprintf(stderr, "speech engine stand-in: a released voice's engine thread is still inside Write\n");
        core->thread.detach();
    }
    ReleaseAll(events);
    Unregister(core.get());
}

HRESULT OpenDefaultAudio(VoiceCore& core, std::shared_ptr<WaveOutput>& audio) {
    PcmFormat format;
    {
        std::lock_guard<std::mutex> guard(core.lock);
        audio = core.audio;
        format = core.outputFormat;
    }
    return audio ? S_OK : WaveOutput::Open(format, audio);
}

bool GivesWayToAlerts(SPVPRIORITY priority) { return priority == SPVPRI_NORMAL && AlertStreams.load() > 0; }

bool WaitForStartOrWithdraw(VoiceCore& core, ULONG streamNumber) {
    std::unique_ptr<SpeechStream> withdrawn;  // given back outside the lock
    Lock lock(core.lock);
    auto queued = [&] {
        return std::find_if(core.queue.begin(), core.queue.end(),
                            [&](const std::unique_ptr<SpeechStream>& s) { return s->number == streamNumber; });
    };
    // Streams before it are the voice's own affair: only waiting for the device counts.
    core.changed.wait(lock, [&] {
        return core.quit || queued() == core.queue.end() || (queued() == core.queue.begin() && core.currentStream == 0);
    });
    // Only alert voices holding the device count against the timeout, not a pause or the moment the
    // engine thread takes to pick the stream up.
    const bool free = core.changed.wait_for(lock, std::chrono::milliseconds(core.syncSpeakTimeout), [&] {
        return core.quit || queued() == core.queue.end() || core.pauseCount > 0 || !GivesWayToAlerts(core.priority);
    });
    if (free) return true;
    auto found = queued();
    withdrawn = std::move(*found);
    core.queue.erase(found);
    if (core.queue.empty() && core.currentStream == 0) SetEvent(core.completeEvent.Get());
    core.changed.notify_all();
    lock.unlock();
    return false;
}

ULONG QueueStream(VoiceCore& core, std::unique_ptr<SpeechStream> stream, std::shared_ptr<WaveOutput> audio) {
    std::lock_guard<std::mutex> guard(core.lock);
    if (core.priority == SPVPRI_ALERT) stream->alertHold = HoldAlert();
    stream->number = ++core.lastStreamNumber;
    stream->voiceId = core.voiceId;
    stream->format = core.outputFormat;
    stream->output.Assign(core.output.Get());
    if (!core.output && audio) {
        core.audio = audio;
        stream->audio = std::move(audio);
    }
    ULONG number = stream->number;
    ResetEvent(core.completeEvent.Get());
    core.queue.push_back(std::move(stream));
    core.changed.notify_all();
    return number;
}

HRESULT PurgeSpeech(VoiceCore& core) {
    std::deque<std::unique_ptr<SpeechStream>> discarded;
    ScopedComPtr<ISpNotifySink> sink;
    std::vector<SPEVENT> dropped;
    bool timedOut = false;
    {
        Lock lock(core.lock);
        discarded.swap(core.queue);
        ULONG purged = core.currentStream;
        if (purged != 0) {
            core.currentPurged = true;
            core.changed.notify_all();
            timedOut = !core.changed.wait_for(lock, std::chrono::milliseconds(PurgeWatchdogMilliseconds()),
                                              [&] { return core.currentStream != purged; });
        }
        // Streams that never started still begin and end, so every number the caller got
        // back from Speak is closed by an end-of-input event.
        std::vector<SPEVENT> ends;
        for (const auto& stream : discarded) {
            ends.push_back(PlainEvent(SPEI_START_INPUT_STREAM, stream->number, 0));
            ends.push_back(PlainEvent(SPEI_END_INPUT_STREAM, stream->number, 0));
        }
        if (core.currentStream == 0) SetEvent(core.completeEvent.Get());
        if (LatePurgedEndEventsWanted()) core.heldEndEvents.insert(core.heldEndEvents.end(), ends.begin(), ends.end());
        else QueueEventsLocked(core, ends, dropped, sink);
    }
    NotifyAndRelease(sink, dropped);
    if (timedOut) {
        NotePurgeTimeout();
        return PurgeTimeoutResult;
    }
    return S_OK;
}

bool WaitForDone(VoiceCore& core, DWORD milliseconds) {
    Lock lock(core.lock);
    auto done = [&] { return core.queue.empty() && core.currentStream == 0; };
    if (milliseconds == INFINITE) {
        core.changed.wait(lock, done);
        return true;
    }
    return core.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
}

ULONG TakeEvents(VoiceCore& core, ULONG count, SPEVENT* out) {
    std::lock_guard<std::mutex> guard(core.lock);
    ULONG taken = 0;
    while (taken < count && !core.events.empty()) {
        out[taken++] = core.events.front();
        core.events.pop_front();
    }
    return taken;
}

ULONG SkipSentences(VoiceCore& core, ULONG count) {
    Lock lock(core.lock);
    const ULONG stream = core.currentStream ? core.currentStream : core.lastStreamNumber;
    if (count == 0 || (core.queue.empty() && core.currentStream == 0)) return 0;
    core.skipRequest = count;
    core.skipDone = false;
    core.changed.notify_all();
    // Answered between two blocks; a stream that ends or is purged first skipped nothing more.
    const bool answered = core.changed.wait_for(lock, std::chrono::milliseconds(PurgeWatchdogMilliseconds()), [&] {
        return core.skipDone || core.quit || (core.currentStream != stream && core.currentStream != 0) ||
               (core.currentStream == 0 && core.queue.empty());
    });
    core.skipRequest = 0;
    return answered && core.skipDone ? core.skipped : 0;
}

void PauseDefaultAudio(VoiceCore& core, bool pause) {
    std::shared_ptr<WaveOutput> audio;
    {
        std::lock_guard<std::mutex> guard(core.lock);
        audio = core.audio;
    }
    if (!audio) return;
    if (pause) audio->Pause();
    else audio->Resume();
}

void NudgeEngine(VoiceCore& core) {
    std::lock_guard<std::mutex> guard(core.lock);
    core.changed.notify_all();
}

bool WaitUntilIdle(DWORD timeoutMilliseconds) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (;;) {
        std::vector<std::shared_ptr<VoiceCore>> cores;
        {
            std::lock_guard<std::mutex> guard(RegistryLock);
            for (const auto& weak : LiveCores()) {
                if (auto core = weak.lock()) cores.push_back(core);
            }
        }
        bool idle = true;
        for (const auto& core : cores) idle = idle && IsIdle(*core);
        if (idle) return true;
        if (Clock::now() >= deadline) return false;
        Sleep(5);
    }
}

}  // namespace engine
