// Reading and writing the settings in the player's shared plugin.ini.
#pragma once

#include <windows.h>

extern char SettingsFilePath[MAX_PATH];

void LocateSettingsFile(HINSTANCE module);
void LoadSettings(HINSTANCE module);
void SaveSettings();
