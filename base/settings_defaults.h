// The ranges and defaults of the settings: the one place that says them. Plain constants, so
// the pure settings rules (and their fuzzers) can use them without any platform header.
#pragma once

#include <cstdint>

// The output format is stored as three modes, each a row of a table: nine sample rates (8000 to
// 48000 Hz), 8 or 16 bits, mono or stereo.
constexpr int SAMPLE_RATE_MODES = 9;
// Hz, indexed by SampleRateMode.
inline constexpr int SampleRates[SAMPLE_RATE_MODES] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int BITS_MODES = 2;
constexpr int CHANNEL_MODES = 2;
constexpr int DEFAULT_SAMPLE_RATE_MODE = 8;  // 48000 Hz
constexpr int DEFAULT_BITS_MODE = 1;         // 16 bits
constexpr int DEFAULT_CHANNELS_MODE = 0;     // mono

// The voice's speaking rates; 0 is its normal rate.
constexpr long MIN_RATE = -10;
constexpr long MAX_RATE = 10;
constexpr long DEFAULT_RATE = 0;

constexpr bool DEFAULT_USE_HOT_KEY = true;
constexpr uint16_t DEFAULT_HOT_KEY = 0x353;  // Ctrl+Shift+S: key code 'S', modifiers Shift and Control

constexpr bool DEFAULT_RESUME_FILES = false;
constexpr bool DEFAULT_SEEKABLE = false;
// E-books and documents are played as text only when asked for.
constexpr bool DEFAULT_DOCUMENTS = false;
