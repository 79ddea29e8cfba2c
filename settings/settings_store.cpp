#include "settings/settings_store.h"

char SettingsFilePath[MAX_PATH] = "";

// Not stored yet: the settings keep their values from before loading.
void LocateSettingsFile(HINSTANCE) {}

void LoadSettings(HINSTANCE) {}

void SaveSettings() {}
