// The engine's module-level state that tests control and observe: installed voices, injected
// failures, counters, the call log and the delivered PCM. One lock guards all of it; it is a
// leaf lock, taken for short moments and never while calling out of the engine.
#pragma once

#include "engine/engine.h"
#include "engine/synthesizer.h"

#include <optional>
#include <string>

namespace engine {

// Counts one call of op; the injected result when this call is to fail.
std::optional<HRESULT> InjectedResult(Op op);

// Logs a call and passes its result on; a result other than S_OK is appended to the entry.
HRESULT Logged(const std::wstring& call, HRESULT result);

void NoteCreated(ObjectKind kind);
void NoteDestroyed(ObjectKind kind);
void NoteAddRef(ObjectKind kind);
void NoteRelease(ObjectKind kind);

std::vector<VoiceInfo> InstalledVoices();
bool FindInstalledVoice(const std::wstring& id, VoiceInfo& voice);
bool IsCategoryMissing();

Speed SynthesisSpeed();
// The size of the index-th block, in whole frames of the format.
size_t BlockBytes(size_t index, const PcmFormat& format);
DWORD PurgeWatchdogMilliseconds();
void NotePurgeTimeout();
bool LatePurgedEndEventsWanted();
bool SentenceEventsWanted();
bool RegisteredVoicesListed();
bool ReleaseWaitsForEngineThread();
std::wstring UnixProgramFolder();  // Windows path; empty: PATH alone

void RecordWrite(ULONG streamNumber, const unsigned char* data, ULONG bytes);
void NoteStreamNumber(ULONG streamNumber);
void NoteRate(long rate);
void NoteVoiceId(const std::wstring& id);

// Task-memory payloads given to the caller of GetEvents, and their frees (seen by the spy).
void NotePayloadHandedOut(void* payload);
void NoteTaskMemoryFreed(void* block);
void NoteTaskMemoryWatched();
void StartWatchingTaskMemory();

// Text for log entries.
std::wstring HexResult(HRESULT result);
std::wstring NullableText(const wchar_t* text);

}  // namespace engine
