// Voices others registered in the registry, and hosting their engines (ISpTTSEngine) the way
// SAPI does: created from the token's CLSID, given the token, asked for its format, and called
// with a fragment list and an engine site of the voice's.
#pragma once

#include "engine/engine.h"
#include "engine/speech_text.h"
#include "engine/synthesizer.h"
#include "base/scoped.h"

#include <windows.h>
#include <sapi.h>
#include "engine/tts_engine_interfaces.h"

#include <string>
#include <vector>

namespace engine {

// The value that marks a token registration wrote for one of the engine's own voices.
extern const wchar_t OwnTokenValue[];

// The voices registered under the voices category's key that are not the engine's own (neither
// marked as written by its registration nor of an installed voice's id); none unless
// ListRegisteredVoices is on.
std::vector<VoiceInfo> RegisteredVoices();
bool FindRegisteredVoice(const std::wstring& id, VoiceInfo& voice);

// The installed voices, then the registered ones.
std::vector<VoiceInfo> ListedVoices();

// Creates the voice's engine in the multithreaded apartment (where the voice's engine thread
// calls it), gives it its token and asks it for `format`; `engineFormat` is the PCM format it writes,
// which the site converts to `format` when they differ. The creation's error, REGDB_E_CLASSNOTREG for
// a token without a class, SPERR_UNSUPPORTED_FORMAT for an engine that writes no PCM of 8 or 16 bits.
HRESULT CreateHostedEngine(const VoiceInfo& voice, const PcmFormat& format, ScopedComPtr<TtsEngine>& engine,
                           PcmFormat& engineFormat);

// Where a byte offset of sound in one format lands once converted to another: the same frame, at
// the other rate.
ULONGLONG ConvertedOffset(ULONGLONG offset, const PcmFormat& from, const PcmFormat& to);

// What the engine site asks of the stream being spoken (implemented on the engine thread).
class HostedStream {
public:
    virtual ~HostedStream() = default;
    virtual bool WriteAudio(const void* data, ULONG bytes) = 0;  // false: stopped or failed
    virtual DWORD Actions() = 0;                                 // SPVES_* flags
    virtual long Rate() = 0;
    virtual USHORT Volume() = 0;
    virtual ULONGLONG EventInterest() = 0;
    virtual void AddEvent(const SPEVENT& event) = 0;  // a copy, whose payload it then owns
    virtual ULONG SkipRequest() = 0;                  // sentences to skip, 0: none
    virtual void SkipDone(long skipped) = 0;
};

// Calls the engine's Speak with the speech as a fragment list and a site that passes everything
// to `stream`, its sound and event offsets converted from `engineFormat` to `format` (the rate by sox,
// or linearly where sox cannot be run); returns Speak's result.
HRESULT SpeakHosted(TtsEngine* engine, const PcmFormat& engineFormat, const PcmFormat& format, const SpeechText& speech,
                    HostedStream& stream);

}  // namespace engine
