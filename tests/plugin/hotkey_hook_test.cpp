// The hot key through the real in_txt.dll in the player host: keys typed with SendInput while the
// player's window has the keyboard reach the plug-in's keyboard hook on the player's thread.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/sheet_fixture.h"

namespace {

constexpr DWORD KEYS_WAIT_MS = 10000;
// Pressed after every group of keys; nothing else uses it. Only pressed, never released until the
// end: a release would open the hot key's latch.
constexpr WORD MARKER_KEY = VK_F24;

// What reached the player after the plug-in's hook: the test's own hook is installed before the
// plug-in's, so it runs after it and sees only what the plug-in passed on.
struct KeysPassedOn {
    std::atomic<int> markers{0};
    std::atomic<int> sDowns{0};
    std::atomic<int> sDownsWithSheetOpen{0};
};
KeysPassedOn Passed;
HHOOK TestHook = nullptr;

LRESULT CALLBACK RecordPassedKeys(int code, WPARAM key, LPARAM flags) {
    const bool released = (static_cast<DWORD>(flags) & 0x80000000u) != 0;
    // A key peeked and then removed comes twice; only removals count.
    if (code == HC_ACTION) {
        if (key == MARKER_KEY && !released) ++Passed.markers;
        if (key == 'S' && !released) {
            ++Passed.sDowns;
            if (sheet::SheetIsOpen()) ++Passed.sDownsWithSheetOpen;
        }
    }
    return CallNextHookEx(TestHook, code, key, flags);
}

struct Key {
    WORD code;
    bool up;
};
Key Down(WORD code) { return {code, false}; }
Key Up(WORD code) { return {code, true}; }

void SendKeys(const std::vector<Key>& keys) {
    std::vector<INPUT> inputs;
    for (const Key& key : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key.code;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key.code, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = key.up ? KEYEVENTF_KEYUP : 0;
        if (key.code == VK_INSERT) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Closes every sheet that shows, from a thread of its own, counting them, until stopped.
class SheetCloser {
public:
    explicit SheetCloser(HWND mainWindow) : mainWindow_(mainWindow), thread_([this] { Run(); }) {}
    ~SheetCloser() {
        stop_ = true;
        thread_.join();
    }
    int Opened() const { return opened_; }
    bool AllOwnedByMainWindow() const { return allOwnedByMain_; }
    bool AllInFront() const { return allInFront_; }
    // Called on the closer's thread with each sheet before it is cancelled.
    std::function<void(HWND)> whileOpen;

private:
    void Run() {
        while (!stop_) {
            HWND sheet = sheet::WaitForSheet(50);
            if (!sheet) continue;
            ++opened_;
            if (GetWindow(sheet, GW_OWNER) != mainWindow_) allOwnedByMain_ = false;
            if (GetForegroundWindow() != sheet) allInFront_ = false;
            if (whileOpen) whileOpen(sheet);
            sheet::PressCancel(sheet);
            sheet::WaitUntilClosed(sheet);
        }
    }
    HWND mainWindow_;
    std::atomic<bool> stop_{false};
    std::atomic<int> opened_{0};
    std::atomic<bool> allOwnedByMain_{true}, allInFront_{true};
    std::thread thread_;
};

class HotKeyHook : public SheetTest {
protected:
    // The test's hook goes in between loading the plug-in and its Init, which puts in the plug-in's.
    void Start(const std::string& ini = "") {
        Passed.markers = Passed.sDowns = Passed.sDownsWithSheetOpen = 0;
        ASSERT_NO_FATAL_FAILURE(LoadPlugin(SheetOptions(ini)));
        TestHook = SetWindowsHookExA(WH_KEYBOARD, RecordPassedKeys, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, TestHook);
        host_->Init();
        closer_ = std::make_unique<SheetCloser>(host_->MainWindow());
    }
    void TearDown() override {
        // No key stays down for the test programs that come next.
        SendKeys({Up('S'), Up(VK_INSERT), Up(VK_SHIFT), Up(VK_CONTROL), Up(VK_MENU), Up(MARKER_KEY)});
        if (host_) host_->PumpMessages(50);
        closer_.reset();  // before the player goes: it cancels the sheets the player's window owns
        SheetTest::TearDown();
        if (TestHook) UnhookWindowsHookEx(TestHook);
        TestHook = nullptr;
    }

    // Gives the player's window the keyboard, types the keys and pumps the player's messages until
    // the marker typed after them has come through: every key before it has passed the hooks.
    void Type(const std::vector<Key>& keys) {
        SetForegroundWindow(host_->MainWindow());
        SetFocus(host_->MainWindow());
        host_->PumpMessages(20);  // what the last sheet's closing left queued
        HWND player = host_->MainWindow();
        host_->PumpUntil([player] { return GetForegroundWindow() == player; }, 10000);
        ASSERT_EQ(player, GetForegroundWindow()) << "the player's window must have the keyboard";
        const int markers = Passed.markers;
        std::vector<Key> withMarker = keys;
        withMarker.push_back(Down(MARKER_KEY));
        SendKeys(withMarker);
        ASSERT_TRUE(host_->PumpUntil([&] { return Passed.markers > markers; }, KEYS_WAIT_MS))
            << "the typed keys did not come through";
    }
    static std::vector<Key> CtrlShiftS() {
        return {Down(VK_CONTROL), Down(VK_SHIFT), Down('S'), Up('S'), Up(VK_SHIFT), Up(VK_CONTROL)};
    }

    std::unique_ptr<SheetCloser> closer_;
};

TEST_F(HotKeyHook, CtrlShiftSOpensTheSheetOverThePlayerAndTheKeyGoesOn) {
    Start();
    Type(CtrlShiftS());
    EXPECT_EQ(1, closer_->Opened());
    EXPECT_TRUE(closer_->AllOwnedByMainWindow());
    EXPECT_TRUE(closer_->AllInFront());
    EXPECT_EQ(1, Passed.sDowns - Passed.sDownsWithSheetOpen)
        << "the S that opened the sheet goes on to the player once the sheet has closed";
}

TEST_F(HotKeyHook, OtherCombinationsOpenNothing) {
    Start();
    Type({Down('S'), Up('S')});
    Type({Down(VK_CONTROL), Down('S'), Up('S'), Up(VK_CONTROL)});
    Type({Down(VK_SHIFT), Down('S'), Up('S'), Up(VK_SHIFT)});
    Type({Down(VK_CONTROL), Down(VK_MENU), Down(VK_SHIFT), Down('S'), Up('S'), Up(VK_SHIFT), Up(VK_MENU),
          Up(VK_CONTROL)});
    Type({Down(VK_CONTROL), Down(VK_SHIFT), Down('T'), Up('T'), Up(VK_SHIFT), Up(VK_CONTROL)});
    EXPECT_EQ(0, closer_->Opened());
    EXPECT_EQ(4, Passed.sDowns) << "every key goes on to the player";
}

TEST_F(HotKeyHook, HeldCombinationOpensOnceUntilAKeyIsReleased) {
    Start();
    Type({Down(VK_CONTROL), Down(VK_SHIFT), Down('S')});
    EXPECT_EQ(1, closer_->Opened());
    Type({Down('S'), Down('S')});  // auto-repeat after the sheet has closed
    EXPECT_EQ(1, closer_->Opened());
    // The held modifiers repeat too, as held keys do: after a sheet had closed, the hook now and then
    // did not see them as held under Wine until they came again.
    Type({Up('S'), Down(VK_CONTROL), Down(VK_SHIFT), Down('S')});
    EXPECT_EQ(2, closer_->Opened());
    Type({Up('S'), Up(VK_SHIFT), Up(VK_CONTROL)});
    EXPECT_EQ(2, closer_->Opened());
}

TEST_F(HotKeyHook, PressedWhileTheSheetIsOpenOpensNoSecondSheet) {
    Start();
    std::atomic<size_t> mostAtOnce{0};
    closer_->whileOpen = [&](HWND) {
        // Let go of S and press it again: the latch opens, but the sheet is up already.
        const int markers = Passed.markers;
        SendKeys({Up('S'), Down('S'), Down(MARKER_KEY)});
        const DWORD start = GetTickCount();
        while (Passed.markers == markers && GetTickCount() - start < KEYS_WAIT_MS) Sleep(10);
        mostAtOnce = sheet::OpenSheets().size();
    };
    Type({Down(VK_CONTROL), Down(VK_SHIFT), Down('S')});
    EXPECT_EQ(1, closer_->Opened());
    EXPECT_EQ(1u, mostAtOnce.load());
    Type({Up('S'), Up(VK_SHIFT), Up(VK_CONTROL)});
}

TEST_F(HotKeyHook, TurnedOffOpensNothingUntilTurnedOnInTheSheet) {
    Start("[in_txt]\r\nUseHotKey=0\r\n");
    Type(CtrlShiftS());
    EXPECT_EQ(0, closer_->Opened());

    closer_.reset();
    OpenSheet([](HWND sheet) {
        sheet::Click(sheet::Control(sheet, sheet::HOT_KEY_PAGE, USE_HOT_KEY_BOX));
        sheet::PressOk(sheet);
    });
    closer_ = std::make_unique<SheetCloser>(host_->MainWindow());
    Type(CtrlShiftS());
    EXPECT_EQ(1, closer_->Opened()) << "no restart needed";
}

TEST_F(HotKeyHook, GoneAfterQuit) {
    Start();
    host_->Quit();
    Type(CtrlShiftS());
    EXPECT_EQ(0, closer_->Opened());
    EXPECT_EQ(1, Passed.sDowns);
}

}  // namespace
