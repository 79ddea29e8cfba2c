// The seven user settings, one module-level record read and written in place.
#pragma once

#include <cstdint>

#include "settings/settings_values.h"
#include "voices/task_wide_string.h"

struct Settings {
    int SampleRateMode = DEFAULT_SAMPLE_RATE_MODE;  // row of the sample-rate table, 0..8
    int BitsPerSampleMode = DEFAULT_BITS_MODE;      // 0: 8 bits, 1: 16 bits
    int NumChannelsMode = DEFAULT_CHANNELS_MODE;    // 0: mono, 1: stereo
    long Rate = 0;              // speaking rate, -10..10
    TaskWideString VoiceID;     // token id of the chosen voice, or none
    bool UseHotKey = true;
    uint16_t HotKey = 0;        // low byte: key code; high byte: HOTKEYF_* modifiers
};

constexpr uint16_t DEFAULT_HOT_KEY = DEFAULT_HOT_KEY_VALUE;

extern Settings PluginSettings;
