// The hot key's matching rules and the latch that lets one press open the sheet once.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "settings/hotkey_hook.h"

namespace {

constexpr uint16_t CTRL_SHIFT_S = 0x353;

uint16_t HotKeyOf(BYTE keyCode, BYTE modifiers) {
    return static_cast<uint16_t>(modifiers << 8 | keyCode);
}

HotKeyEvent Press(WPARAM key, bool alt, bool shift, bool control) {
    return {key, false, alt, shift, control};
}
HotKeyEvent Release(WPARAM key, bool alt = false, bool shift = false, bool control = false) {
    return {key, true, alt, shift, control};
}

TEST(HotKeyMatcher, DefaultCombinationNeedsExactlyCtrlAndShift) {
    EXPECT_TRUE(HotKeyMatches(CTRL_SHIFT_S, 'S', false, true, true));

    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 'S', false, false, false)) << "S alone";
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 'S', false, false, true)) << "Ctrl+S";
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 'S', false, true, false)) << "Shift+S";
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 'S', true, true, true)) << "Ctrl+Alt+Shift+S";
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 'T', false, true, true)) << "Ctrl+Shift+T";
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, VK_SHIFT, false, true, true)) << "the modifiers themselves";
}

TEST(HotKeyMatcher, EachModifierFlagStandsForItsOwnKey) {
    const uint16_t altF5 = HotKeyOf(VK_F5, HOTKEYF_ALT);
    EXPECT_TRUE(HotKeyMatches(altF5, VK_F5, true, false, false));
    EXPECT_FALSE(HotKeyMatches(altF5, VK_F5, false, false, false));
    EXPECT_FALSE(HotKeyMatches(altF5, VK_F5, false, true, false));
    EXPECT_FALSE(HotKeyMatches(altF5, VK_F5, false, false, true));

    const uint16_t plainF9 = HotKeyOf(VK_F9, 0);
    EXPECT_TRUE(HotKeyMatches(plainF9, VK_F9, false, false, false));
    EXPECT_FALSE(HotKeyMatches(plainF9, VK_F9, true, false, false));
}

TEST(HotKeyMatcher, ExtendedKeyFlagIsNotLookedAt) {
    const uint16_t ctrlInsertExtended = HotKeyOf(VK_INSERT, HOTKEYF_EXT | HOTKEYF_CONTROL);
    EXPECT_TRUE(HotKeyMatches(ctrlInsertExtended, VK_INSERT, false, false, true));
    EXPECT_FALSE(HotKeyMatches(ctrlInsertExtended, VK_INSERT, false, false, false));

    const uint16_t homeExtendedOnly = HotKeyOf(VK_HOME, HOTKEYF_EXT);
    EXPECT_TRUE(HotKeyMatches(homeExtendedOnly, VK_HOME, false, false, false));
}

TEST(HotKeyMatcher, ClearedHotKeyAndForeignKeyCodesNeverMatch) {
    EXPECT_FALSE(HotKeyMatches(0, 0, false, false, false));
    EXPECT_FALSE(HotKeyMatches(HotKeyOf(0, HOTKEYF_CONTROL), 0, false, false, true));
    // The key code is compared whole: a value whose low byte happens to be 'S' is another key.
    EXPECT_FALSE(HotKeyMatches(CTRL_SHIFT_S, 0x100 | 'S', false, true, true));
}

TEST(HotKeyLatch, HeldCombinationFiresOnceUntilAnyKeyIsReleased) {
    bool fired = false;
    EXPECT_TRUE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));
    EXPECT_TRUE(fired);
    // Auto-repeat, and the same key-down seen again when the player removes a peeked message.
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));
    // A key-down of another key leaves the latch set.
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('A', false, true, true)));
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));

    // Releasing any key, here the unrelated A, opens the latch again.
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Release('A', false, true, true)));
    EXPECT_FALSE(fired);
    EXPECT_TRUE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));
}

TEST(HotKeyLatch, NonMatchingKeysNeitherFireNorSetTheLatch) {
    bool fired = false;
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, false, true)));
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press(VK_SHIFT, false, true, true)));
    EXPECT_FALSE(fired);
    EXPECT_TRUE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Press('S', false, true, true)));
}

TEST(HotKeyLatch, ReleaseOfTheHotKeyItselfNeverFires) {
    bool fired = true;
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Release('S', false, true, true)));
    EXPECT_FALSE(fired);
    fired = false;
    EXPECT_FALSE(HotKeyLatchStep(&fired, CTRL_SHIFT_S, Release('S', false, true, true)));
    EXPECT_FALSE(fired);
}

}  // namespace
