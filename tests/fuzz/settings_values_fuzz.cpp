// The settings rules for any integers the file's reader may return, any module file name and any
// VoiceID length: checked modes index their tables, the rate stays in the voice's range, the hot
// key keeps its low 16 bits, and the settings path ends in plugin.ini inside 260 bytes or is refused.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/settings_values.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void CheckMode(int stored, int checked, int rows, int fallback, const char* name) {
    const bool inRange = stored >= 0 && stored < rows;
    FUZZ_CHECK(checked >= 0 && checked < rows, "%s %d outside its %d rows", name, checked, rows);
    FUZZ_CHECK(checked == (inRange ? stored : fallback), "%s %d checked as %d", name, stored, checked);
}

void CheckValues(const StoredSettings& stored) {
    const CheckedSettings checked = CheckSettings(stored);
    CheckMode(stored.sampleRateMode, checked.sampleRateMode, SAMPLE_RATE_MODES, DEFAULT_SAMPLE_RATE_MODE, "sample rate");
    CheckMode(stored.bitsPerSampleMode, checked.bitsPerSampleMode, BITS_MODES, DEFAULT_BITS_MODE, "bits");
    CheckMode(stored.numChannelsMode, checked.numChannelsMode, CHANNEL_MODES, DEFAULT_CHANNELS_MODE, "channels");

    FUZZ_CHECK(checked.rate >= -10 && checked.rate <= 10, "rate %d checked as %ld", stored.rate, checked.rate);
    if (stored.rate >= -10 && stored.rate <= 10)
        FUZZ_CHECK(checked.rate == stored.rate, "rate %d in range changed to %ld", stored.rate, checked.rate);
    else
        FUZZ_CHECK(checked.rate == (stored.rate < 0 ? -10 : 10), "rate %d clamped to %ld", stored.rate, checked.rate);

    FUZZ_CHECK(checked.takeVoiceId == (stored.voiceIdLength >= 1 && stored.voiceIdLength <= 510),
               "VoiceID of %lu bytes taken: %d", stored.voiceIdLength, checked.takeVoiceId);
    FUZZ_CHECK(checked.useHotKey == (stored.useHotKey != 0), "UseHotKey %d", stored.useHotKey);
    const uint32_t bits = static_cast<uint32_t>(stored.hotKey);
    FUZZ_CHECK(checked.hotKey == bits % 65536, "HotKey %d kept as %u", stored.hotKey, checked.hotKey);
}

// Room for two bytes per code unit and the terminator, without wrapping around.
void CheckVoiceIdBytes(uint64_t units) {
    const size_t bytes = VoiceIdAnsiBytes(static_cast<size_t>(units));
    const unsigned __int128 needed = static_cast<unsigned __int128>(units) * 2 + 2;
    if (bytes == 0)
        FUZZ_CHECK(needed > SIZE_MAX, "%llu units refused although they fit", static_cast<unsigned long long>(units));
    else
        FUZZ_CHECK(bytes == needed, "%llu units get %zu bytes", static_cast<unsigned long long>(units), bytes);
}

bool EndsWithExeAnyCase(const std::string& name) {
    if (name.size() < 3) return false;
    std::string tail = name.substr(name.size() - 3);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == "exe";
}

// The output buffer is a heap block of exactly 260 bytes, so a write past it is seen.
void CheckSettingsPath(const std::string& name) {
    char* out = static_cast<char*>(std::malloc(SETTINGS_PATH_CAPACITY));
    std::memset(out, '#', SETTINGS_PATH_CAPACITY);
    const bool found = SettingsPathForModule(name.c_str(), out);

    const size_t slash = name.rfind('\\');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string expected = folder + (EndsWithExeAnyCase(name) ? "Plugins\\plugin.ini" : "plugin.ini");
    if (expected.size() < SETTINGS_PATH_CAPACITY) {
        FUZZ_CHECK(found, "a path of %zu characters was refused", expected.size());
        FUZZ_CHECK(std::memchr(out, '\0', SETTINGS_PATH_CAPACITY) != nullptr, "the path has no terminator");
        FUZZ_CHECK(expected == out, "path \"%s\", expected \"%s\"", out, expected.c_str());
    } else {
        FUZZ_CHECK(!found, "a path of %zu characters was given", expected.size());
        FUZZ_CHECK(out[0] == '\0', "a refused path leaves \"%.20s...\"", out);
    }
    std::free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    StoredSettings stored;
    stored.sampleRateMode = static_cast<int>(input.Dword());
    stored.bitsPerSampleMode = static_cast<int>(input.Dword());
    stored.numChannelsMode = static_cast<int>(input.Dword());
    stored.rate = static_cast<int>(input.Dword());
    stored.voiceIdLength = input.Dword();
    stored.useHotKey = static_cast<int>(input.Dword());
    stored.hotKey = static_cast<int>(input.Dword());
    CheckValues(stored);

    const uint64_t units = input.Dword() | (static_cast<uint64_t>(input.Dword()) << 32);
    CheckVoiceIdBytes(units);

    // The module's name: the rest, up to its first 0 byte.
    const char* rest = reinterpret_cast<const char*>(input.Rest());
    CheckSettingsPath(std::string(rest, strnlen(rest, input.RestSize())));
    return 0;
}
