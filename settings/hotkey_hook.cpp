#include "settings/hotkey_hook.h"

// No hook yet.
void InstallHotKeyHook(HINSTANCE) {}

void RemoveHotKeyHook() {}
