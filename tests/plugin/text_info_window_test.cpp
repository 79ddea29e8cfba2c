// The "Text info" window of the real in_txt.dll in the player host: created hidden by Init from its
// template, filled by Play, shown by InfoBox, hidden by every way of closing it, destroyed by Quit.
#include <windows.h>
#include <richedit.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/box.h"
#include "tests/plugin/plugin_fixture.h"
#include "tests/plugin/text_info_probe.h"

namespace {

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

const wchar_t RUSSIAN_AND_GREEK[] =
    L"\u0422\u0435\u043A\u0441\u0442 \u043D\u0430 \u0440\u0443\u0441\u0441\u043A\u043E\u043C "
    L"\u044F\u0437\u044B\u043A\u0435.\r\n"
    L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03CC \u03BA\u03B5\u03AF\u03BC\u03B5\u03BD\u03BF.";


// A control's place in its dialog's client area.
Box PlaceIn(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return BoxOf(r);
}

void PressKeys(std::initializer_list<BYTE> keys) {
    for (BYTE key : keys) keybd_event(key, 0, 0, 0);
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) keybd_event(*key, 0, KEYEVENTF_KEYUP, 0);
}

class PluginTextInfo : public PluginTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LoadAndInit(WithShownWindow(DefaultOptions())));
        window_ = FindTextInfoWindow();
        ASSERT_NE(nullptr, window_) << "Init creates the window";
        button_ = GetDlgItem(window_, IDCANCEL);
        text_ = GetDlgItem(window_, INFO_TEXT);
    }

    // The player's message loop, with the dialog keys a modeless dialog needs.
    void Pump(DWORD milliseconds) {
        const DWORD end = GetTickCount() + milliseconds;
        do {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (IsDialogMessageA(window_, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(5);
        } while (static_cast<LONG>(GetTickCount() - end) < 0);
    }
    // Hidden within a generous time; the messages a close posts (the cancel that follows) arrive too.
    bool HiddenSoon() {
        for (int i = 0; i < 100 && IsWindowVisible(window_); ++i) Pump(20);
        Pump(50);
        return !IsWindowVisible(window_);
    }

    int InfoBox(const std::string& path) {
        const int result = host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
        Pump(30);
        return result;
    }
    // The control's text exactly, as UTF-16.
    std::wstring ShownText() const {
        wchar_t text[2048] = {};
        GETTEXTEX request = {sizeof text, GT_USECRLF, 1200, nullptr, nullptr};
        SendMessageW(text_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(text));
        return text;
    }

    // Both controls where the layout rule puts them for the current client and button sizes.
    void ExpectLaidOut() const {
        RECT client, button;
        GetClientRect(window_, &client);
        GetClientRect(button_, &button);
        const long W = client.right, H = client.bottom, w = button.right, h = button.bottom;
        EXPECT_EQ((Box{W - w - 3, H - h - 3, w, h}), PlaceIn(window_, button_)) << W << " x " << H;
        EXPECT_EQ((Box{3, 3, W - 6, H - h - 9}), PlaceIn(window_, text_)) << W << " x " << H;
    }

    HWND window_ = nullptr;
    HWND button_ = nullptr;
    HWND text_ = nullptr;
};

}  // namespace

TEST_F(PluginTextInfo, CreatedHiddenFromItsTemplateAndDestroyedByQuit) {
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(host_->MainWindow(), GetWindow(window_, GW_OWNER));
    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    const LONG dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_3DLOOK | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(dialogStyle, style & (dialogStyle | WS_CHILD | WS_VISIBLE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << std::hex << style;
    EXPECT_TRUE(GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

    // The Close button, then the Rich Edit, and nothing else.
    char text[32];
    ASSERT_EQ(button_, GetWindow(window_, GW_CHILD));
    ASSERT_EQ(text_, GetWindow(button_, GW_HWNDNEXT));
    EXPECT_EQ(nullptr, GetWindow(text_, GW_HWNDNEXT));
    GetWindowTextA(button_, text, sizeof text);
    EXPECT_STREQ("Close", text);
    EXPECT_EQ(BS_DEFPUSHBUTTON | WS_TABSTOP, GetWindowLongA(button_, GWL_STYLE) & (0x0F | WS_TABSTOP));
    GetClassNameA(text_, text, sizeof text);
    EXPECT_STREQ("RichEdit20A", text);
    // The control manages its border and scroll bar styles itself.
    const LONG textStyle = ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_READONLY | WS_TABSTOP | WS_VISIBLE;
    EXPECT_EQ(textStyle, GetWindowLongA(text_, GWL_STYLE) & (textStyle | ES_AUTOHSCROLL | WS_HSCROLL));
    EXPECT_EQ(L"", ShownText());

    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ("MS Sans Serif", font.lfFaceName);
    // 204 x 162 dialog units; the button keeps its 50 x 14 and everything is laid out at once.
    RECT units = {0, 0, 204, 162}, client;
    MapDialogRect(window_, &units);
    GetClientRect(window_, &client);
    EXPECT_EQ(BoxOf(units), BoxOf(client));
    RECT buttonUnits = {0, 0, 50, 14}, button;
    MapDialogRect(window_, &buttonUnits);
    GetClientRect(button_, &button);
    EXPECT_EQ(BoxOf(buttonUnits), BoxOf(button));
    ExpectLaidOut();

    host_->Quit();
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(PluginTextInfo, ControlsFollowEveryResize) {
    for (SIZE size : {SIZE{520, 410}, SIZE{180, 120}, SIZE{640, 200}}) {
        SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT frame;
        GetWindowRect(window_, &frame);
        ASSERT_EQ(size.cx, frame.right - frame.left);
        ExpectLaidOut();
    }
}

TEST_F(PluginTextInfo, EveryWayOfClosingOnlyHidesAndInfoBoxBringsItBackUnchanged) {
    const std::string path = MakeFile("russian.txt", Utf16File(RUSSIAN_AND_GREEK));
    SetWindowPos(window_, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT before;
    GetWindowRect(window_, &before);

    struct Way {
        const char* name;
        void (*close)(HWND window, HWND button);
    };
    const Way ways[] = {
        {"Close button", [](HWND, HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }},
        {"close box", [](HWND window, HWND) { SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"system menu", [](HWND window, HWND) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE | 2, 0); }},
        {"Alt+F4", [](HWND, HWND) { PressKeys({VK_MENU, VK_F4}); }},
        {"Esc", [](HWND, HWND) { PressKeys({VK_ESCAPE}); }},
    };
    for (const Way& way : ways) {
        EXPECT_EQ(0, InfoBox(path)) << way.name;
        ASSERT_TRUE(IsWindowVisible(window_)) << way.name;
        EXPECT_EQ(window_, GetForegroundWindow()) << way.name;
        way.close(window_, button_);
        EXPECT_TRUE(HiddenSoon()) << way.name;
        EXPECT_TRUE(IsWindow(window_)) << way.name;
    }

    EXPECT_EQ(0, InfoBox(path));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());
    RECT after;
    GetWindowRect(window_, &after);
    EXPECT_EQ(BoxOf(before), BoxOf(after));
    ExpectLaidOut();
}

TEST_F(PluginTextInfo, PlayReadsEveryTimeInfoBoxOnlyForAnotherName) {
    const std::string path = MakeFile("First.txt", "first take");
    PlayToEnd(path);
    EXPECT_FALSE(IsWindowVisible(window_)) << "playing never shows the window";
    EXPECT_EQ(L"first take", ShownText());
    ASSERT_TRUE(host::WriteWholeFile(path, "second take"));
    PlayToEnd(path);
    EXPECT_EQ(L"second take", ShownText());

    // The same name in other letters is not read again.
    ASSERT_TRUE(host::WriteWholeFile(path, "third take"));
    std::string upper = path;
    CharUpperA(&upper[0]);
    EXPECT_EQ(0, InfoBox(upper));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(L"second take", ShownText());

    EXPECT_EQ(0, InfoBox(MakeFile("other.txt", "other file")));
    EXPECT_EQ(L"other file", ShownText());
    EXPECT_EQ(0, InfoBox(path));
    EXPECT_EQ(L"third take", ShownText());
}

TEST_F(PluginTextInfo, UnreadableFileKeepsTheTextAndIsNotTriedAgainByInfoBox) {
    EXPECT_EQ(0, InfoBox(MakeFile("russian.txt", Utf16File(RUSSIAN_AND_GREEK))));
    const std::string later = folder_ + "\\later.txt";
    EXPECT_EQ(0, InfoBox(later));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());

    // Its name was recorded: InfoBox does not read it once it exists, playing it does.
    MakeFile("later.txt", "now there");
    EXPECT_EQ(0, InfoBox(later));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());
    PlayToEnd(later);
    EXPECT_EQ(L"now there", ShownText());
}

TEST_F(PluginTextInfo, NameTooLongToKeepIsForgottenNotCut) {
    // The longest full name that can be kept: 259 characters.
    const std::string longest = MakeFile(std::string(MAX_PATH - 1 - folder_.size() - 5, 'p') + ".txt", "longest");
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), longest.size());
    EXPECT_EQ(0, InfoBox(longest));
    EXPECT_EQ(L"longest", ShownText());

    // One more character: neither opened nor kept. Cut to fit, it would equal the name above, which
    // InfoBox would then not read again.
    EXPECT_EQ(0, InfoBox(longest + "x"));
    EXPECT_EQ(L"longest", ShownText());
    ASSERT_TRUE(host::WriteWholeFile(longest, "longest changed"));
    EXPECT_EQ(0, InfoBox(longest));
    EXPECT_EQ(L"longest changed", ShownText());
}

// Another thread calls while the window's thread pumps nothing: every call returns at once, and the
// window does the work once its thread pumps again.
TEST_F(PluginTextInfo, CallsFromAnotherThreadNeverWaitForTheWindow) {
    const std::string path = MakeFile("elsewhere.txt", "Loaded from another thread.");
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        host_->Module()->InfoBox(const_cast<char*>(path.c_str()), nullptr);
        returned = true;
    });
    const DWORD start = GetTickCount();
    while (!returned && GetTickCount() - start < 10000) Sleep(5);  // no pumping here
    caller.join();
    EXPECT_TRUE(returned) << "InfoBox waited for the window's thread";
    EXPECT_TRUE(host_->PumpUntil([&] { return IsWindowVisible(window_) && ShownText() == L"Loaded from another thread."; },
                                 10000));
}

// A named pipe nobody writes to: a file whose reads wait. Two instances, for the look at the file and
// the read of it.
struct SlowFile {
    std::string name = "\\\\.\\pipe\\in_txt_slow_" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(GetTickCount());
    HANDLE ends[2];
    SlowFile() {
        for (HANDLE& end : ends)
            end = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    }
    ~SlowFile() { Close(); }
    void Close() {
        for (HANDLE& end : ends)
            if (end != INVALID_HANDLE_VALUE) CloseHandle(end), end = INVALID_HANDLE_VALUE;
    }
    // Writes on until the reader goes (true), or until far more than a text could ever need (false).
    bool WrittenUntilTheReaderGoes() {
        const std::string chunk(4096, 'x');
        for (HANDLE end : ends) {
            DWORD written = 0;
            int writes = 0;
            while (WriteFile(end, chunk.data(), 4096, &written, nullptr))
                if (++writes > 16384) return false;
        }
        return true;
    }
};

// A new load cancels the one before, even one whose read waits: the new text shows at once and the old
// reader stops at its next chunk. A reader that waits in a read does not hold Quit, and when its read
// ends after the plug-in was unloaded, it lets the module go without running anything of it.
TEST_F(PluginTextInfo, NewLoadCancelsTheOldAndAWaitingReaderDoesNotHoldQuit) {
    SlowFile slow;
    ASSERT_NE(INVALID_HANDLE_VALUE, slow.ends[1]);
    EXPECT_EQ(0, InfoBox(slow.name));
    EXPECT_EQ(0, InfoBox(MakeFile("next.txt", "The next file.")));
    EXPECT_EQ(L"The next file.", ShownText());
    EXPECT_TRUE(slow.WrittenUntilTheReaderGoes()) << "a cancelled reader read on";

    SlowFile stuck;
    EXPECT_EQ(0, InfoBox(stuck.name));
    const DWORD start = GetTickCount();
    host_->Quit();
    EXPECT_LT(GetTickCount() - start, 5000u) << "Quit waited for a reader stuck in a read";
    host_->Unload();
    stuck.Close();
    EXPECT_TRUE(host_->PumpUntil([] { return GetModuleHandleA("in_txt.dll") == nullptr; }, 20000))
        << "the reader kept the module after its read ended";
}

// The picture goes to <build>/artifacts/text-info.png, taken with ImageMagick from the test display.
TEST_F(PluginTextInfo, CyrillicAndGreekAreDrawnAndPictured) {
    using UnixSpawn = LONG(WINAPI*)(char* const argv[], int wait);
    using UnixFileName = char*(__cdecl*)(LPCWSTR path);
    auto spawn = reinterpret_cast<UnixSpawn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp"));
    auto unixName = reinterpret_cast<UnixFileName>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!spawn || !unixName) GTEST_SKIP() << "pictures are taken on Wine's display only";

    SetWindowPos(window_, nullptr, 0, 0, 460, 240, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(0, InfoBox(MakeFile("russian.txt", Utf16File(RUSSIAN_AND_GREEK))));
    Pump(500);

    // Glyphs drawn: pixels of the control that differ from its background.
    RECT client;
    GetClientRect(text_, &client);
    HDC dc = GetDC(text_);
    const COLORREF background = GetPixel(dc, client.right - 2, client.bottom - 2);
    int inked = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) inked += GetPixel(dc, x, y) != background;
    ReleaseDC(text_, dc);
    EXPECT_GT(inked, 200);

    // The program lies in <build>/bin.
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    char* name = unixName(program);
    ASSERT_NE(nullptr, name);
    std::string folder(name);
    HeapFree(GetProcessHeap(), 0, name);
    folder = folder.substr(0, folder.rfind('/', folder.rfind('/') - 1)) + "/artifacts";
    RECT frame;
    GetWindowRect(window_, &frame);
    const std::string crop = std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top) +
                             "+" + std::to_string(frame.left) + "+" + std::to_string(frame.top);
    const std::string command = "(mkdir -p '" + folder + "' && cd '" + folder +
                                "' && timeout 60 import -window root text-info-screen.png && timeout 60 convert "
                                "text-info-screen.png -crop " + crop + " +repage text-info.png && test -s text-info.png)"
                                " >/dev/null 2>&1 </dev/null";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(command.c_str()), nullptr};

    // The window goes on answering its messages while the picture is taken.
    LONG status = -1;
    std::atomic<bool> done{false};
    std::thread picture([&] {
        status = spawn(argv, 1);
        done = true;
    });
    while (!done) Pump(20);
    picture.join();
    EXPECT_EQ(0, status) << command;
}
