// The voice (ISpVoice with its event and notify sources).
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>
#include <sapi.h>

#include <string>

namespace engine {

HRESULT CreateVoice(REFIID iid, void** object);

// Accepts wave-format PCM with 1 or 2 channels of 8 or 16 bits; anything else is
// SPERR_UNSUPPORTED_FORMAT.
// The audio output category, which Wine's own category class answers.
extern const wchar_t AudioOutputsCategoryId[];

// Whether a token id names an audio output (a token under the audio output category).
bool IsAudioOutputTokenId(const std::wstring& id);

// The sound device's token: the first the audio output category lists.
HRESULT DefaultAudioOutputToken(ISpObjectToken** token);

HRESULT AcceptOutputFormat(const GUID& formatId, const WAVEFORMATEX* format, PcmFormat& accepted);

}  // namespace engine
