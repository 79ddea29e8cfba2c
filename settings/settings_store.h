// Reading and writing the settings in the player's shared plugin.ini, section "in_txt".
#pragma once

#include <windows.h>

#include "settings/settings_values.h"

// Where the settings live; empty until LocateSettingsFile runs, and empty when no usable path was found.
extern char SettingsFilePath[MAX_PATH];

// Finds plugin.ini from the module's own file name.
void LocateSettingsFile(HINSTANCE module);
// Locates the file and reads the seven settings into PluginSettings; defaults when there is no path.
void LoadSettings(HINSTANCE module);
// Writes the settings to the file LoadSettings located; writes nothing when no path was found.
void SaveSettings();

// Reads every setting from the file at path (missing keys give their defaults) into PluginSettings.
void ReadSettingsFile(const char* path);
// Writes every setting of PluginSettings to the file at path; only the "in_txt" section is touched.
void WriteSettingsFile(const char* path);
// Puts the defaults of a missing file into PluginSettings; the voice is left as it is.
void ApplyDefaultSettings();
