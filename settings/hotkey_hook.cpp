#include "settings/hotkey_hook.h"

#include <commctrl.h>

#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "base/scoped.h"
#include "settings/settings_sheet.h"

static ScopedHook HotKeyHookHandle;
static bool HotKeyFired;

bool HotKeyMatches(uint16_t hotKey, WPARAM keyCode, bool alt, bool shift, bool control) {
    // A cleared hot key control stores 0: no key at all, not a key with code 0.
    if (LOBYTE(hotKey) == 0 || keyCode != LOBYTE(hotKey)) return false;
    const BYTE modifiers = HIBYTE(hotKey);
    return alt == ((modifiers & HOTKEYF_ALT) != 0) && shift == ((modifiers & HOTKEYF_SHIFT) != 0) &&
           control == ((modifiers & HOTKEYF_CONTROL) != 0);
}

bool HotKeyLatchStep(bool* fired, uint16_t hotKey, const HotKeyEvent& event) {
    if (event.released) {
        *fired = false;
        return false;
    }
    if (*fired) return false;
    if (!HotKeyMatches(hotKey, event.keyCode, event.alt, event.shift, event.control)) return false;
    *fired = true;
    return true;
}

static bool KeyIsDown(int virtualKey) {
    return (GetKeyState(virtualKey) & 0x8000) != 0;
}

// Runs inside the message retrieval of the player's main thread; a sheet it opens runs its modal
// loop inside this call. Every key goes on to the next hook, also the one that opened the sheet.
static LRESULT CALLBACK HotKeyHook(int code, WPARAM keyCode, LPARAM flags) {
    if (code >= 0) {
        const HotKeyEvent event = {keyCode, (static_cast<DWORD>(flags) & 0x80000000u) != 0,
                                   KeyIsDown(VK_MENU), KeyIsDown(VK_SHIFT), KeyIsDown(VK_CONTROL)};
        if (HotKeyLatchStep(&HotKeyFired, PluginSettings.HotKey, event) && PluginSettings.UseHotKey)
            ShowSettingsSheet(PluginModule.hMainWindow);
    }
    return CallNextHookEx(HotKeyHookHandle.Get(), code, keyCode, flags);
}

void InstallHotKeyHook(HINSTANCE instance) {
    HotKeyHookHandle.Reset(SetWindowsHookExA(WH_KEYBOARD, HotKeyHook, instance, GetCurrentThreadId()));
}

void RemoveHotKeyHook() { HotKeyHookHandle.Reset(); }
