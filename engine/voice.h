// The voice (ISpVoice with its event and notify sources).
#pragma once

#include "engine/synthesizer.h"

#include <windows.h>
#include <sapi.h>

namespace engine {

HRESULT CreateVoice(REFIID iid, void** object);

// Accepts wave-format PCM with 1 or 2 channels of 8 or 16 bits; anything else is
// SPERR_UNSUPPORTED_FORMAT.
HRESULT AcceptOutputFormat(const GUID& formatId, const WAVEFORMATEX* format, PcmFormat& accepted);

}  // namespace engine
