// Speech stream formats: the wave format of every stream-format index (the nine sample rates are the
// settings' table, in base/settings_defaults.h).
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "base/settings_defaults.h"

// Stream-format index of the stored output modes: 4 + 4 * rate + 2 * bits + channels (PCM, 4..39).
int StreamFormatIndexOf(int sampleRateMode, int bitsPerSampleMode, int numChannelsMode);

// Builds the format id and a wave format (COM task memory, the receiver frees it) for a stream-format index.
// S_OK, E_INVALIDARG (bad out pointers or an index without a format) or E_OUTOFMEMORY.
HRESULT BuildWaveFormat(int streamFormatIndex, GUID* formatId, WAVEFORMATEX** waveFormat);

// Copies a wave format and its extra bytes into COM task memory. S_OK or E_OUTOFMEMORY (out pointer null).
HRESULT CopyWaveFormat(const WAVEFORMATEX* source, WAVEFORMATEX** copy);
