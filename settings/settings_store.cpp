#include "settings/settings_store.h"

#include "plugin/scoped.h"
#include "settings/plugin_settings.h"

char SettingsFilePath[MAX_PATH] = "";

namespace {

const char SECTION[] = "in_txt";
const char PLUGINS_INI[] = "Plugins\\plugin.ini";
const char PLUGIN_INI[] = "plugin.ini";

constexpr int SAMPLE_RATE_ROWS = 9;
constexpr int BITS_ROWS = 2;
constexpr int CHANNEL_ROWS = 2;
constexpr int DEFAULT_SAMPLE_RATE_MODE = 8;
constexpr int DEFAULT_BITS_MODE = 1;
constexpr int DEFAULT_CHANNELS_MODE = 0;
constexpr long MIN_RATE = -10;
constexpr long MAX_RATE = 10;

// The reader reports 511 bytes both for a value of exactly 511 and for a longer one it had to cut.
constexpr int VOICE_ID_BUFFER = 512;

bool EndsWithExe(const char* name, int length) {
    return length >= 3 && lstrcmpiA(name + length - 3, "exe") == 0;
}

// Length of the folder part, trailing backslash included; 0 for a bare file name.
int FolderLength(const char* name, int length) {
    for (int i = length; i > 0; --i)
        if (name[i - 1] == '\\') return i;
    return 0;
}

int ReadInt(const char* key, int fallback, const char* path) {
    return static_cast<int>(GetPrivateProfileIntA(SECTION, key, fallback, path));
}

void WriteText(const char* key, const char* text, const char* path) {
    WritePrivateProfileStringA(SECTION, key, text, path);
}

void WriteNumber(const char* key, const char* format, long value, const char* path) {
    char text[16];
    wsprintfA(text, format, value);
    WriteText(key, text, path);
}

// An empty value, or one that filled the buffer and may have been cut, leaves VoiceID as it was.
void ReadVoiceId(const char* path) {
    char value[VOICE_ID_BUFFER];
    DWORD length = GetPrivateProfileStringA(SECTION, "VoiceID", "", value, VOICE_ID_BUFFER, path);
    if (length > 0 && length < VOICE_ID_BUFFER - 1) PluginSettings.VoiceID.AssignAnsi(value);
}

// No voice deletes the key; a conversion that fails (or finds no memory) writes an empty value.
void WriteVoiceId(const char* path) {
    const wchar_t* id = PluginSettings.VoiceID.Get();
    if (!id) {
        WriteText("VoiceID", nullptr, path);
        return;
    }
    int size = 2 * lstrlenW(id) + 2;
    ScopedHeapBlock ansi(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    char empty[1] = "";
    char* text = ansi.Get() ? ansi.As<char>() : empty;
    if (ansi.Get()) WideCharToMultiByte(CP_ACP, 0, id, -1, text, size, nullptr, nullptr);
    WriteText("VoiceID", text, path);
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

bool SettingsPathForModule(const char* moduleFileName, char out[MAX_PATH]) {
    out[0] = '\0';
    int length = lstrlenA(moduleFileName);
    const char* tail = EndsWithExe(moduleFileName, length) ? PLUGINS_INI : PLUGIN_INI;
    int folder = FolderLength(moduleFileName, length);
    if (folder + lstrlenA(tail) >= MAX_PATH) return false;
    CopyMemory(out, moduleFileName, folder);
    lstrcpyA(out + folder, tail);
    return true;
}

void LocateSettingsFile(HINSTANCE module) {
    SettingsFilePath[0] = '\0';
    // One more byte than a path may have: a name that fills it was cut.
    char name[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(module, name, sizeof name);
    if (length == 0 || length >= MAX_PATH) return;
    name[length] = '\0';
    SettingsPathForModule(name, SettingsFilePath);
}

void ApplyDefaultSettings() {
    PluginSettings.SampleRateMode = DEFAULT_SAMPLE_RATE_MODE;
    PluginSettings.BitsPerSampleMode = DEFAULT_BITS_MODE;
    PluginSettings.NumChannelsMode = DEFAULT_CHANNELS_MODE;
    PluginSettings.Rate = 0;
    PluginSettings.UseHotKey = true;
    PluginSettings.HotKey = DEFAULT_HOT_KEY;
}

void ReadSettingsFile(const char* path) {
    PluginSettings.SampleRateMode =
        CheckedMode(ReadInt("SampleRateMode", DEFAULT_SAMPLE_RATE_MODE, path), SAMPLE_RATE_ROWS,
                    DEFAULT_SAMPLE_RATE_MODE);
    PluginSettings.BitsPerSampleMode =
        CheckedMode(ReadInt("BitsPerSampleMode", DEFAULT_BITS_MODE, path), BITS_ROWS, DEFAULT_BITS_MODE);
    PluginSettings.NumChannelsMode =
        CheckedMode(ReadInt("NumChannelsMode", DEFAULT_CHANNELS_MODE, path), CHANNEL_ROWS,
                    DEFAULT_CHANNELS_MODE);
    PluginSettings.Rate = ClampedRate(ReadInt("Rate", 0, path));
    ReadVoiceId(path);
    PluginSettings.UseHotKey = ReadInt("UseHotKey", 1, path) != 0;
    PluginSettings.HotKey = static_cast<uint16_t>(ReadInt("HotKey", DEFAULT_HOT_KEY, path) & 0xFFFF);
}

void WriteSettingsFile(const char* path) {
    WriteNumber("SampleRateMode", "%d", PluginSettings.SampleRateMode, path);
    WriteNumber("BitsPerSampleMode", "%d", PluginSettings.BitsPerSampleMode, path);
    WriteNumber("NumChannelsMode", "%d", PluginSettings.NumChannelsMode, path);
    WriteNumber("Rate", "%ld", PluginSettings.Rate, path);
    WriteVoiceId(path);
    WriteNumber("UseHotKey", "%d", PluginSettings.UseHotKey ? 1 : 0, path);
    WriteNumber("HotKey", "%d", PluginSettings.HotKey, path);
}

// Without a path (the module's name did not fit) the defaults apply and no file is read: a bare
// file name would send the platform's reader to the Windows folder.
void LoadSettings(HINSTANCE module) {
    LocateSettingsFile(module);
    if (SettingsFilePath[0] == '\0') {
        ApplyDefaultSettings();
        return;
    }
    ReadSettingsFile(SettingsFilePath);
}

// An empty path means start-up stopped before loading, or no path was found: nothing to write to.
void SaveSettings() {
    if (SettingsFilePath[0] == '\0') return;
    WriteSettingsFile(SettingsFilePath);
}
