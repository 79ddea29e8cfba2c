// The keyboard hook that opens the properties sheet with the configured key combination.
#pragma once

#include <windows.h>

#include <cstdint>

// Installs the hook on the calling thread (the player's main thread).
void InstallHotKeyHook(HINSTANCE instance);
// Removes the hook installed by InstallHotKeyHook, if any.
void RemoveHotKeyHook();

// Pure pieces of the hook.

// Whether a pressed key is the stored combination: the key code equals the low byte of hotKey and
// Alt, Shift and Control are down exactly when the high byte has HOTKEYF_ALT, HOTKEYF_SHIFT and
// HOTKEYF_CONTROL; HOTKEYF_EXT is not looked at. A hot key of 0 matches nothing.
bool HotKeyMatches(uint16_t hotKey, WPARAM keyCode, bool alt, bool shift, bool control);

// One key message as the hook sees it.
struct HotKeyEvent {
    WPARAM keyCode;
    bool released;  // bit 31 of the key message flags
    bool alt, shift, control;
};

// Feeds one key message through the latch that lets a combination fire once per press: a match
// sets *fired, any release clears it, and key-downs while it is set (auto-repeat, a message peeked
// and then removed) fire nothing. True when this message fires the hot key.
bool HotKeyLatchStep(bool* fired, uint16_t hotKey, const HotKeyEvent& event);
