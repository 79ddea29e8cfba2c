#include "settings/settings_store.h"

#include <string>

#include "base/plugin_settings.h"
#include "base/scoped.h"
#include "playback/remembered_places.h"
#include "voices/task_wide_string.h"

char SettingsFilePath[MAX_PATH] = "";

namespace {

const char SECTION[] = "in_txt";

static_assert(SETTINGS_PATH_CAPACITY == MAX_PATH, "the settings path is a platform path");

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

// The length of the VoiceID value read into value; 0 when there is none.
unsigned long ReadVoiceId(const char* path, char (&value)[VOICE_ID_BUFFER]) {
    return GetPrivateProfileStringA(SECTION, "VoiceID", "", value, VOICE_ID_BUFFER, path);
}

// No voice deletes the key; a conversion that fails (or finds no memory) writes an empty value.
void WriteVoiceId(const char* path) {
    const wchar_t* id = PluginSettings.VoiceID.Get();
    if (!id) {
        WriteText("VoiceID", nullptr, path);
        return;
    }
    const size_t size = VoiceIdAnsiBytes(static_cast<size_t>(lstrlenW(id)));
    ScopedHeapBlock ansi(size > 0 ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : nullptr);
    char empty[1] = "";
    char* text = ansi.Get() ? ansi.As<char>() : empty;
    if (ansi.Get()) WideCharToMultiByte(CP_ACP, 0, id, -1, text, static_cast<int>(size), nullptr, nullptr);
    WriteText("VoiceID", text, path);
}

}  // namespace

void LocateSettingsFile(HINSTANCE module) {
    SettingsFilePath[0] = '\0';
    // One more byte than a path may have: a name that fills it was cut.
    char name[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(module, name, sizeof name);
    if (length == 0 || length >= MAX_PATH) return;
    name[length] = '\0';
    SettingsPathForModule(name, SettingsFilePath);
}

// The voice is taken only when the file held a usable one; otherwise the one held before stays.
void ApplySettings(const CheckedSettings& checked, const char* voiceId) {
    PluginSettings.SampleRateMode = checked.sampleRateMode;
    PluginSettings.BitsPerSampleMode = checked.bitsPerSampleMode;
    PluginSettings.NumChannelsMode = checked.numChannelsMode;
    PluginSettings.Rate = checked.rate;
    if (checked.takeVoiceId) AssignAnsi(PluginSettings.VoiceID, voiceId);
    PluginSettings.UseHotKey = checked.useHotKey;
    PluginSettings.HotKey = checked.hotKey;
}

void ApplyDefaultSettings() {
    ApplySettings(CheckSettings(StoredSettings()), "");
    PluginSettings.ResumeFiles = DEFAULT_RESUME_FILES;
    PluginSettings.Seekable = DEFAULT_SEEKABLE;
    PluginSettings.Documents = DEFAULT_DOCUMENTS;
}

// The places of "Continue where I stopped" live beside the settings file.
void LocatePlacesFile(const char* settingsPath) {
    std::string path = settingsPath;
    const size_t folderEnd = path.find_last_of('\\');
    if (folderEnd == std::string::npos) return;  // a bare name would mean the Windows folder
    path.resize(folderEnd + 1);
    UsePlacesFile((path + PLACES_FILE_NAME).c_str());
}

// Keys are read in the file's order, each missing one giving its default.
void ReadSettingsFile(const char* path) {
    StoredSettings stored;
    stored.sampleRateMode = ReadInt("SampleRateMode", stored.sampleRateMode, path);
    stored.bitsPerSampleMode = ReadInt("BitsPerSampleMode", stored.bitsPerSampleMode, path);
    stored.numChannelsMode = ReadInt("NumChannelsMode", stored.numChannelsMode, path);
    stored.rate = ReadInt("Rate", stored.rate, path);
    char voiceId[VOICE_ID_BUFFER];
    stored.voiceIdLength = ReadVoiceId(path, voiceId);
    stored.useHotKey = ReadInt("UseHotKey", stored.useHotKey, path);
    stored.hotKey = ReadInt("HotKey", stored.hotKey, path);
    ApplySettings(CheckSettings(stored), voiceId);
    PluginSettings.ResumeFiles = ReadInt("ResumeFiles", DEFAULT_RESUME_FILES, path) != 0;
    PluginSettings.Seekable = ReadInt("Seekable", DEFAULT_SEEKABLE, path) != 0;
    PluginSettings.Documents = ReadInt("Documents", DEFAULT_DOCUMENTS, path) != 0;
}

void WriteSettingsFile(const char* path) {
    WriteNumber("SampleRateMode", "%d", PluginSettings.SampleRateMode, path);
    WriteNumber("BitsPerSampleMode", "%d", PluginSettings.BitsPerSampleMode, path);
    WriteNumber("NumChannelsMode", "%d", PluginSettings.NumChannelsMode, path);
    WriteNumber("Rate", "%ld", PluginSettings.Rate, path);
    WriteVoiceId(path);
    WriteNumber("UseHotKey", "%d", PluginSettings.UseHotKey ? 1 : 0, path);
    WriteNumber("HotKey", "%d", PluginSettings.HotKey, path);
    // Off, the key is left out, as in a file written before there was one.
    WriteText("ResumeFiles", PluginSettings.ResumeFiles ? "1" : nullptr, path);
    WriteText("Seekable", PluginSettings.Seekable ? "1" : nullptr, path);
    WriteText("Documents", PluginSettings.Documents ? "1" : nullptr, path);
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
    LocatePlacesFile(SettingsFilePath);
}

// An empty path means start-up stopped before loading, or no path was found: nothing to write to.
void SaveSettings() {
    if (SettingsFilePath[0] == '\0') return;
    WriteSettingsFile(SettingsFilePath);
}
