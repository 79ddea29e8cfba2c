// The wave format tags of the stream format table beside PCM.
#pragma once

#include "windows.h"

constexpr WORD WAVE_FORMAT_ADPCM = 2;
constexpr WORD WAVE_FORMAT_ALAW = 6;
constexpr WORD WAVE_FORMAT_MULAW = 7;
