#include "settings/settings_values.h"

#include <cctype>
#include <cstring>

namespace {

const char PLUGINS_INI[] = "Plugins\\plugin.ini";
const char PLUGIN_INI[] = "plugin.ini";

// Only the last three characters count; no dot is looked for.
bool EndsWithExe(const char* name, size_t length) {
    if (length < 3) return false;
    const char* tail = name + length - 3;
    for (int i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != "exe"[i]) return false;
    return true;
}

// Length of the folder part, trailing backslash included; 0 for a bare file name.
size_t FolderLength(const char* name, size_t length) {
    for (size_t i = length; i > 0; --i)
        if (name[i - 1] == '\\') return i;
    return 0;
}

}  // namespace

int CheckedMode(int value, int rowCount, int fallback) {
    return value >= 0 && value < rowCount ? value : fallback;
}

long ClampedRate(long rate) {
    if (rate < MIN_RATE) return MIN_RATE;
    if (rate > MAX_RATE) return MAX_RATE;
    return rate;
}

uint16_t StoredHotKey(int value) { return static_cast<uint16_t>(static_cast<unsigned>(value) & 0xFFFF); }

bool AcceptsVoiceIdLength(unsigned long length) { return length > 0 && length < VOICE_ID_BUFFER - 1; }

size_t VoiceIdAnsiBytes(size_t units) {
    if (units > (SIZE_MAX - 2) / 2) return 0;
    return 2 * units + 2;
}

bool SettingsPathForModule(const char* moduleFileName, char out[SETTINGS_PATH_CAPACITY]) {
    out[0] = '\0';
    const size_t length = std::strlen(moduleFileName);
    const char* tail = EndsWithExe(moduleFileName, length) ? PLUGINS_INI : PLUGIN_INI;
    const size_t folder = FolderLength(moduleFileName, length);
    if (folder + std::strlen(tail) >= SETTINGS_PATH_CAPACITY) return false;
    std::memcpy(out, moduleFileName, folder);
    std::strcpy(out + folder, tail);
    return true;
}

CheckedSettings CheckSettings(const StoredSettings& stored) {
    CheckedSettings checked;
    checked.sampleRateMode = CheckedMode(stored.sampleRateMode, SAMPLE_RATE_MODES, DEFAULT_SAMPLE_RATE_MODE);
    checked.bitsPerSampleMode = CheckedMode(stored.bitsPerSampleMode, BITS_MODES, DEFAULT_BITS_MODE);
    checked.numChannelsMode = CheckedMode(stored.numChannelsMode, CHANNEL_MODES, DEFAULT_CHANNELS_MODE);
    checked.rate = ClampedRate(stored.rate);
    checked.takeVoiceId = AcceptsVoiceIdLength(stored.voiceIdLength);
    checked.useHotKey = stored.useHotKey != 0;
    checked.hotKey = StoredHotKey(stored.hotKey);
    return checked;
}
