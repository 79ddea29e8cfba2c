// The rules that turn what plugin.ini holds into usable settings, and where plugin.ini lies. No
// platform calls here: the store does the reading and writing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/settings_defaults.h"

// The platform's longest path, terminator included (MAX_PATH).
constexpr int SETTINGS_PATH_CAPACITY = 260;

// The VoiceID value is read into this many bytes; the reader reports 511 both for a value of
// exactly 511 bytes and for a longer one it had to cut.
constexpr unsigned long VOICE_ID_BUFFER = 512;

// A stored mode is used as an index into a table of rowCount rows; a value outside it gives fallback.
int CheckedMode(int value, int rowCount, int fallback);
// Keeps a stored speaking rate inside the voice's range -10..10.
long ClampedRate(long rate);
// Only the low 16 bits of a stored hot key count: key code and modifier flags.
uint16_t StoredHotKey(int value);
// A VoiceID value of this many bytes is taken: not empty, and not one that filled the buffer.
bool AcceptsVoiceIdLength(unsigned long length);
// Bytes for a VoiceID of this many UTF-16 units in the ANSI code page: two per unit (a double-byte
// code page) and the terminator. 0 when the count cannot be held.
size_t VoiceIdAnsiBytes(size_t units);

// The settings path for a module file name: a name ending in "exe" (any case) leads to the
// Plugins sub-folder of its folder, any other to its own folder. False, and an empty out,
// when the result would not fit SETTINGS_PATH_CAPACITY characters with its terminator.
bool SettingsPathForModule(const char* moduleFileName, char out[SETTINGS_PATH_CAPACITY]);

// The integers as the file's reader returned them (the defaults for missing keys), and the
// length of the VoiceID value read.
struct StoredSettings {
    int sampleRateMode = DEFAULT_SAMPLE_RATE_MODE;
    int bitsPerSampleMode = DEFAULT_BITS_MODE;
    int numChannelsMode = DEFAULT_CHANNELS_MODE;
    int rate = DEFAULT_RATE;
    unsigned long voiceIdLength = 0;
    int useHotKey = DEFAULT_USE_HOT_KEY;
    int hotKey = DEFAULT_HOT_KEY;
};

// What the plug-in keeps of them: modes that index their tables, a rate in the voice's range.
struct CheckedSettings {
    int sampleRateMode;
    int bitsPerSampleMode;
    int numChannelsMode;
    long rate;
    bool takeVoiceId;  // false: the voice held before stays
    bool useHotKey;
    uint16_t hotKey;
};

CheckedSettings CheckSettings(const StoredSettings& stored);
