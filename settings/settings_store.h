// Reading and writing the settings in the player's shared plugin.ini, section "in_txt".
#pragma once

#include <windows.h>

// Where the settings live; empty until LocateSettingsFile runs, and empty when no usable path was found.
extern char SettingsFilePath[MAX_PATH];

// Finds plugin.ini from the module's own file name.
void LocateSettingsFile(HINSTANCE module);
// Locates the file and reads the seven settings into PluginSettings; defaults when there is no path.
void LoadSettings(HINSTANCE module);
// Writes the settings to the file LoadSettings located; writes nothing when no path was found.
void SaveSettings();

// The settings path for a module file name: a name ending in "exe" (any case) leads to the
// Plugins sub-folder of its folder, any other to its own folder. False, and an empty out,
// when the result would not fit MAX_PATH characters with its terminator.
bool SettingsPathForModule(const char* moduleFileName, char out[MAX_PATH]);

// Reads every setting from the file at path (missing keys give their defaults) into PluginSettings.
void ReadSettingsFile(const char* path);
// Writes every setting of PluginSettings to the file at path; only the "in_txt" section is touched.
void WriteSettingsFile(const char* path);
// Puts the defaults of a missing file into PluginSettings; the voice is left as it is.
void ApplyDefaultSettings();

// A stored mode is used as an index into a table of rowCount rows; a value outside it gives fallback.
int CheckedMode(int value, int rowCount, int fallback);
// Keeps a stored speaking rate inside the voice's range -10..10.
long ClampedRate(long rate);
