// The user settings, one module-level record read and written in place.
#pragma once

#include <cstdint>

#include "base/scoped.h"
#include "base/settings_defaults.h"

struct Settings {
    int SampleRateMode = DEFAULT_SAMPLE_RATE_MODE;  // row of the sample-rate table
    int BitsPerSampleMode = DEFAULT_BITS_MODE;      // 0: 8 bits, 1: 16 bits
    int NumChannelsMode = DEFAULT_CHANNELS_MODE;    // 0: mono, 1: stereo
    long Rate = DEFAULT_RATE;
    TaskWideString VoiceID;  // token id of the chosen voice, or none
    bool UseHotKey = DEFAULT_USE_HOT_KEY;
    // Low byte: key code; high byte: HOTKEYF_* modifiers. 0 until the settings are loaded, which
    // gives DEFAULT_HOT_KEY when the file has none.
    uint16_t HotKey = 0;
    // Play continues a remembered file where it was stopped (the Text info window's menu turns it on).
    bool ResumeFiles = DEFAULT_RESUME_FILES;
    // The player's seek bar, arrow keys and time display work on a text: it has an estimated length
    // and is sought by sentence.
    bool Seekable = DEFAULT_SEEKABLE;
    // E-books and documents (EPUB, FB2, HTML, RTF, DOCX) are also played, as their text.
    bool Documents = DEFAULT_DOCUMENTS;
};

// Defined in base/module_objects.cpp, with the other module-lifetime objects.
extern Settings PluginSettings;
