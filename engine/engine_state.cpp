#include "engine/engine_state.h"

#include <cstdio>
#include <cwchar>
#include <map>
#include <mutex>
#include <set>

namespace engine {
namespace {

const unsigned DefaultBlockSizes[] = {4096, 1500, 7000, 642, 2903};
const DWORD DefaultPurgeWatchdog = 10000;
const size_t OpCount = static_cast<size_t>(Op::TokenGetStringValue) + 1;
const size_t KindCount = static_cast<size_t>(ObjectKind::PayloadObject) + 1;

struct Injection {
    Op op;
    int nthCall;
    HRESULT result;
};

struct State {
    std::vector<VoiceInfo> voices = DefaultVoices();
    bool categoryMissing = false;

    std::vector<Injection> injections;
    int calls[OpCount] = {};

    Speed speed = Speed::AsFastAsPossible;
    std::vector<unsigned> blockSizes{std::begin(DefaultBlockSizes), std::end(DefaultBlockSizes)};
    DWORD purgeWatchdog = DefaultPurgeWatchdog;
    bool purgeTimedOut = false;
    bool lateEndEvents = false;
    bool sentenceEvents = true;
    bool releaseWaitsForEngineThread = false;
    bool registeredVoicesListed = false;
    std::wstring unixProgramFolder;

    RefCounts counts[KindCount];
    std::vector<std::wstring> log;

    bool recordPcm = true;
    std::vector<ULONG> streamOrder;
    std::map<ULONG, std::vector<unsigned char>> pcm;
    std::map<ULONG, std::vector<ULONG>> writeSizes;

    ULONG lastStreamNumber = 0;
    long rate = 0;
    std::wstring voiceId;

    std::set<void*> outstandingPayloads;
    PayloadFrees payloads;
    bool taskMemoryWatched = false;
};

std::mutex StateLock;

State& TheState() {
    static State* state = new State;  // never destroyed: engine threads may outlive static teardown
    return *state;
}

RefCounts& CountsOf(State& state, ObjectKind kind) { return state.counts[static_cast<size_t>(kind)]; }

}  // namespace

const wchar_t VoicesCategoryId[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

std::vector<VoiceInfo> DefaultVoices() {
    const std::wstring tokens = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";
    auto attributes = [](const wchar_t* language, const wchar_t* gender, const wchar_t* name) {
        return std::vector<std::pair<std::wstring, std::wstring>>{
            {L"Language", language}, {L"Gender", gender}, {L"Age", L"Adult"}, {L"Name", name}, {L"Vendor", L"TxtTone"}};
    };
    return {
        {tokens + L"TxtTone1",
         {{L"409", L"TxtTone Anna - English (United States)"}, {L"", L"TxtTone Anna"}},
         attributes(L"409", L"Female", L"TxtTone Anna")},
        {tokens + L"TxtTone2",
         {{L"", L"TxtTone Bert"},
          {L"409", L"TxtTone Bert - English (United States)"},
          {L"407", L"TxtTone Bert - Deutsch"}},
         attributes(L"407", L"Male", L"TxtTone Bert")},
        {tokens + L"TxtTone3", {{L"", L"TxtTone Chlo\u00E9"}}, attributes(L"40C", L"Female", L"TxtTone Chlo\u00E9")},
    };
}

void SetInstalledVoices(std::vector<VoiceInfo> voices) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().voices = std::move(voices);
}

void SetCategoryMissing(bool missing) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().categoryMissing = missing;
}

void InjectFailure(Op op, int nthCall, HRESULT result) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().injections.push_back({op, nthCall, result});
}

void ClearFailures() {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().injections.clear();
}

void SetSynthesisSpeed(Speed speed) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().speed = speed;
}

void SetBlockSizes(std::vector<unsigned> bytes) {
    std::lock_guard<std::mutex> lock(StateLock);
    if (bytes.empty()) bytes.assign(std::begin(DefaultBlockSizes), std::end(DefaultBlockSizes));
    TheState().blockSizes = std::move(bytes);
}

void SetPurgeWatchdog(DWORD milliseconds) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().purgeWatchdog = milliseconds;
}

bool PurgeTimedOut() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().purgeTimedOut;
}

void SetLatePurgedEndEvents(bool late) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().lateEndEvents = late;
}

void ListRegisteredVoices(bool on) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().registeredVoicesListed = on;
}

void SetSentenceEvents(bool on) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().sentenceEvents = on;
}

void SetReleaseWaitsForEngineThread(bool wait) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().releaseWaitsForEngineThread = wait;
}

void SetUnixProgramFolder(const std::wstring& windowsFolder) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().unixProgramFolder = windowsFolder;
}

RefCounts Counts(ObjectKind kind) {
    std::lock_guard<std::mutex> lock(StateLock);
    return CountsOf(TheState(), kind);
}

PayloadFrees TaskMemoryPayloads() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().payloads;
}

bool TaskMemoryWatched() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().taskMemoryWatched;
}

std::vector<std::wstring> CallLog() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().log;
}

std::vector<unsigned char> DeliveredPcm(ULONG streamNumber) {
    std::lock_guard<std::mutex> lock(StateLock);
    auto found = TheState().pcm.find(streamNumber);
    return found == TheState().pcm.end() ? std::vector<unsigned char>() : found->second;
}

std::vector<unsigned char> DeliveredPcm() {
    std::lock_guard<std::mutex> lock(StateLock);
    std::vector<unsigned char> all;
    for (ULONG stream : TheState().streamOrder) {
        const auto& bytes = TheState().pcm[stream];
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

std::vector<ULONG> WriteSizes(ULONG streamNumber) {
    std::lock_guard<std::mutex> lock(StateLock);
    auto found = TheState().writeSizes.find(streamNumber);
    return found == TheState().writeSizes.end() ? std::vector<ULONG>() : found->second;
}

ULONG LastStreamNumber() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().lastStreamNumber;
}

long CurrentRate() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().rate;
}

std::wstring CurrentVoiceId() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().voiceId;
}

void Reset() {
    std::lock_guard<std::mutex> lock(StateLock);
    State& state = TheState();
    RefCounts counts[KindCount];
    for (size_t i = 0; i < KindCount; ++i) counts[i].live = state.counts[i].live;  // live objects stay counted
    bool watched = state.taskMemoryWatched;
    state = State();
    for (size_t i = 0; i < KindCount; ++i) state.counts[i] = counts[i];
    state.taskMemoryWatched = watched;
}

std::optional<HRESULT> InjectedResult(Op op) {
    std::lock_guard<std::mutex> lock(StateLock);
    State& state = TheState();
    int call = ++state.calls[static_cast<size_t>(op)];
    for (const Injection& injection : state.injections) {
        if (injection.op == op && (injection.nthCall == EveryCall || injection.nthCall == call)) {
            return injection.result;
        }
    }
    return std::nullopt;
}

HRESULT Logged(const std::wstring& call, HRESULT result) {
    std::wstring entry = call;
    if (result != S_OK) entry += L" = " + HexResult(result);
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().log.push_back(entry);
    return result;
}

void NoteCreated(ObjectKind kind) {
    std::lock_guard<std::mutex> lock(StateLock);
    RefCounts& counts = CountsOf(TheState(), kind);
    ++counts.addRefs;
    ++counts.live;
}

void NoteDestroyed(ObjectKind kind) {
    std::lock_guard<std::mutex> lock(StateLock);
    --CountsOf(TheState(), kind).live;
}

void NoteAddRef(ObjectKind kind) {
    std::lock_guard<std::mutex> lock(StateLock);
    ++CountsOf(TheState(), kind).addRefs;
}

void NoteRelease(ObjectKind kind) {
    std::lock_guard<std::mutex> lock(StateLock);
    ++CountsOf(TheState(), kind).releases;
}

std::vector<VoiceInfo> InstalledVoices() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().voices;
}

bool FindInstalledVoice(const std::wstring& id, VoiceInfo& voice) {
    std::lock_guard<std::mutex> lock(StateLock);
    for (const VoiceInfo& candidate : TheState().voices) {
        if (candidate.id == id) {
            voice = candidate;
            return true;
        }
    }
    return false;
}

bool IsCategoryMissing() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().categoryMissing;
}

Speed SynthesisSpeed() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().speed;
}

size_t BlockBytes(size_t index, const PcmFormat& format) {
    std::lock_guard<std::mutex> lock(StateLock);
    const auto& sizes = TheState().blockSizes;
    size_t frame = format.BlockAlign() ? format.BlockAlign() : 1;
    size_t bytes = sizes[index % sizes.size()] / frame * frame;
    return bytes ? bytes : frame;
}

DWORD PurgeWatchdogMilliseconds() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().purgeWatchdog;
}

void NotePurgeTimeout() {
    {
        std::lock_guard<std::mutex> lock(StateLock);
        TheState().purgeTimedOut = true;
    }
    std::fprintf(stderr, "speech engine stand-in: a purge waited in vain for the engine thread to leave Write\n");
    std::fflush(stderr);
}

bool LatePurgedEndEventsWanted() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().lateEndEvents;
}

bool RegisteredVoicesListed() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().registeredVoicesListed;
}

bool SentenceEventsWanted() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().sentenceEvents;
}

bool ReleaseWaitsForEngineThread() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().releaseWaitsForEngineThread;
}

std::wstring UnixProgramFolder() {
    std::lock_guard<std::mutex> lock(StateLock);
    return TheState().unixProgramFolder;
}

void SetRecordDeliveredPcm(bool on) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().recordPcm = on;
}

void RecordWrite(ULONG streamNumber, const unsigned char* data, ULONG bytes) {
    std::lock_guard<std::mutex> lock(StateLock);
    State& state = TheState();
    if (!state.recordPcm) return;
    if (state.pcm.find(streamNumber) == state.pcm.end()) state.streamOrder.push_back(streamNumber);
    state.pcm[streamNumber].insert(state.pcm[streamNumber].end(), data, data + bytes);
    state.writeSizes[streamNumber].push_back(bytes);
}

void NoteStreamNumber(ULONG streamNumber) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().lastStreamNumber = streamNumber;
}

void NoteRate(long rate) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().rate = rate;
}

void NoteVoiceId(const std::wstring& id) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().voiceId = id;
}

void NotePayloadHandedOut(void* payload) {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().outstandingPayloads.insert(payload);
    ++TheState().payloads.handedOut;
}

void NoteTaskMemoryFreed(void* block) {
    std::lock_guard<std::mutex> lock(StateLock);
    if (TheState().outstandingPayloads.erase(block)) ++TheState().payloads.freed;
}

void NoteTaskMemoryWatched() {
    std::lock_guard<std::mutex> lock(StateLock);
    TheState().taskMemoryWatched = true;
}

std::wstring HexResult(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

std::wstring NullableText(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(L"NULL"); }

}  // namespace engine
