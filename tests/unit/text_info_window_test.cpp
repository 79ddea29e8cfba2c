// The "Text info" dialog created from its template in this program's resources: template, layout,
// the ways it is closed, InfoBox's reload rule, and a screenshot of it on the test display.
#include "infowindow/text_info_window.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <thread>

#include "resources/resource.h"

namespace {

struct Box {
    int left, top, width, height;
    bool operator==(const Box& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << ", " << b.top << ", " << b.width << " x " << b.height << ")";
}

Box BoxOf(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// Where a control is, in its dialog's client coordinates.
Box ControlBox(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return BoxOf(r);
}

Box DialogUnits(HWND dialog, int left, int top, int width, int height) {
    RECT r = {left, top, left + width, top + height};
    MapDialogRect(dialog, &r);
    return BoxOf(r);
}

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Runs the messages waiting for this thread as a player's message loop would, dialog keys included.
void PumpMessages(HWND dialog, DWORD milliseconds = 50) {
    DWORD end = GetTickCount() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog && IsDialogMessageA(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

// Pumps until the window is hidden or a generous time has passed, then lets the messages that the
// closing posted (the cancel command that follows a close) arrive too.
bool HiddenSoon(HWND dialog) {
    for (int i = 0; i < 100 && IsWindowVisible(dialog); ++i) PumpMessages(dialog, 20);
    PumpMessages(dialog, 50);
    return !IsWindowVisible(dialog);
}

void PressKeys(std::initializer_list<BYTE> keys) {
    for (BYTE key : keys) keybd_event(key, 0, 0, 0);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) keybd_event(*it, 0, KEYEVENTF_KEYUP, 0);
}

// Reads the fields of a dialog template in order.
struct TemplateReader {
    const BYTE* at;
    const BYTE* start = at;

    template <typename T>
    T Next() {
        T value;
        CopyMemory(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    BYTE Byte() { return Next<BYTE>(); }
    WORD Word() { return Next<WORD>(); }
    DWORD Dword() { return Next<DWORD>(); }
    ::Box Box() {
        short x = Next<short>(), y = Next<short>(), cx = Next<short>(), cy = Next<short>();
        return {x, y, cx, cy};
    }
    std::wstring String() {
        std::wstring text;
        for (WORD unit; (unit = Word()) != 0;) text.push_back(static_cast<wchar_t>(unit));
        return text;
    }
    // An ordinal comes back as "#" and its number.
    std::wstring NameOrOrdinal() {
        WORD first;
        CopyMemory(&first, at, sizeof first);
        if (first != 0xFFFF) return String();
        at += 2;
        return L"#" + std::to_wstring(Word());
    }
    void AlignToDword() {
        while ((at - start) % 4) ++at;
    }
};

class TextInfoWindow : public ::testing::Test {
protected:
    void SetUp() override {
        richEditLibrary_ = LoadLibraryA("riched20.dll");
        ASSERT_NE(nullptr, richEditLibrary_);
        // Stands in for the player's main window, the owner.
        owner_ = CreateWindowExA(0, "STATIC", "player", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(nullptr, owner_);
        window_ = CreateTextInfoWindow(GetModuleHandleA(nullptr), owner_);
        ASSERT_NE(nullptr, window_);
        ASSERT_EQ(window_, TextInfoWindowHandle());
        button_ = GetDlgItem(window_, IDCANCEL);
        text_ = GetDlgItem(window_, IDC_INFO_TEXT);

        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "in_txt_info_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        DestroyTextInfoWindow();
        EXPECT_EQ(nullptr, TextInfoWindowHandle());
        FreeTextBuffer();
        if (owner_) DestroyWindow(owner_);
        for (const std::string& file : files_) DeleteFileA(file.c_str());
        RemoveDirectoryA(folder_.c_str());
        if (richEditLibrary_) FreeLibrary(richEditLibrary_);
    }

    std::string File(const std::string& name, const std::string& bytes) {
        std::string path = folder_ + name;
        WriteFileBytes(path, bytes);
        files_.push_back(path);
        return path;
    }

    int ShowInfo(const std::string& path) {
        int result = InfoBox(const_cast<char*>(path.c_str()), owner_);
        PumpMessages(window_);
        return result;
    }

    std::wstring ShownText() {
        wchar_t text[4096] = {};
        GETTEXTEX request = {};
        request.cb = sizeof text;
        request.flags = GT_USECRLF;
        request.codepage = 1200;
        SendMessageW(text_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(text));
        return text;
    }

    // Both controls where the layout rule puts them for the current client size and button size.
    void ExpectLaidOut() {
        RECT client;
        GetClientRect(window_, &client);
        RECT button;
        GetClientRect(button_, &button);
        const int W = client.right, H = client.bottom, w = button.right, h = button.bottom;
        EXPECT_EQ((Box{W - w - 3, H - h - 3, w, h}), ControlBox(window_, button_)) << "client " << W << " x " << H;
        EXPECT_EQ((Box{3, 3, W - 6, H - h - 9}), ControlBox(window_, text_)) << "client " << W << " x " << H;
    }

    HMODULE richEditLibrary_ = nullptr;
    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    HWND button_ = nullptr;
    HWND text_ = nullptr;
    std::string folder_;
    std::vector<std::string> files_;
};

const wchar_t RUSSIAN_AND_GREEK[] =
    L"\u0422\u0435\u043A\u0441\u0442 \u043D\u0430 \u0440\u0443\u0441\u0441\u043A\u043E\u043C \u044F\u0437\u044B\u043A\u0435.\r\n"
    L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03CC \u03BA\u03B5\u03AF\u03BC\u03B5\u03BD\u03BF.";

}  // namespace

// ---- Layout arithmetic ----

TEST(InfoWindowLayout, ButtonInTheCornerTextAboveWithThreePixelMargins) {
    InfoWindowLayout layout = LayoutInfoWindow(300, 200, SIZE{75, 23});
    EXPECT_EQ((Box{222, 174, 75, 23}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, 294, 168}), BoxOf(layout.text));

    // The template's own numbers, in dialog units, obey the same rule.
    layout = LayoutInfoWindow(204, 162, SIZE{50, 14});
    EXPECT_EQ((Box{151, 145, 50, 14}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, 198, 139}), BoxOf(layout.text));
}

TEST(InfoWindowLayout, ClientSmallerThanTheMarginsGivesNegativeSizesWithoutMinimum) {
    InfoWindowLayout layout = LayoutInfoWindow(0, 0, SIZE{75, 23});
    EXPECT_EQ((Box{-78, -26, 75, 23}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, -6, -32}), BoxOf(layout.text));
}

// ---- The dialog from its template ----

TEST_F(TextInfoWindow, TemplateStylesCaptionAndControls) {
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(owner_, GetWindow(window_, GW_OWNER));

    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    const LONG expectedStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_3DLOOK | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(expectedStyle, style & (expectedStyle | WS_CHILD | WS_VISIBLE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
        << std::hex << style;
    EXPECT_TRUE(GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    char caption[64] = {};
    GetWindowTextA(window_, caption, sizeof caption);
    EXPECT_STREQ("Text info", caption);

    // The controls in template order: the Close button, then the Rich Edit.
    ASSERT_EQ(button_, GetWindow(window_, GW_CHILD));
    ASSERT_EQ(text_, GetWindow(button_, GW_HWNDNEXT));
    EXPECT_EQ(nullptr, GetWindow(text_, GW_HWNDNEXT));

    char name[64] = {};
    GetClassNameA(button_, name, sizeof name);
    EXPECT_STREQ("Button", name);
    GetWindowTextA(button_, name, sizeof name);
    EXPECT_STREQ("Close", name);
    const LONG buttonStyle = GetWindowLongA(button_, GWL_STYLE);
    EXPECT_EQ(BS_DEFPUSHBUTTON, buttonStyle & 0x0F);
    EXPECT_EQ(WS_CHILD | WS_VISIBLE | WS_TABSTOP, buttonStyle & (WS_CHILD | WS_VISIBLE | WS_TABSTOP));

    GetClassNameA(text_, name, sizeof name);
    EXPECT_STREQ("RichEdit20A", name);
    // The control manages its border and scroll bar itself; the template test below checks those bits.
    const LONG textStyle = GetWindowLongA(text_, GWL_STYLE);
    const LONG expectedTextStyle =
        ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_READONLY | WS_TABSTOP | WS_VISIBLE | WS_CHILD;
    EXPECT_EQ(expectedTextStyle, textStyle & (expectedTextStyle | WS_HSCROLL | ES_AUTOHSCROLL)) << std::hex << textStyle;
}

// The extended dialog template as linked, field by field.
TEST(TextInfoTemplate, ResourceHoldsExactlyTheDialog) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_TEXT_INFO), MAKEINTRESOURCEA(5));
    ASSERT_NE(nullptr, found);
    TemplateReader in{static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)))};
    const BYTE* end = in.at + SizeofResource(nullptr, found);

    EXPECT_EQ(1, in.Word());        // version
    EXPECT_EQ(0xFFFF, in.Word());   // extended template
    EXPECT_EQ(0u, in.Dword());      // help id
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TOOLWINDOW), in.Dword());
    EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_3DLOOK | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME),
              in.Dword());
    EXPECT_EQ(2, in.Word());  // controls
    EXPECT_EQ((Box{0, 0, 204, 162}), in.Box());
    EXPECT_EQ(L"", in.NameOrOrdinal());  // menu
    EXPECT_EQ(L"", in.NameOrOrdinal());  // class
    EXPECT_EQ(L"Text info", in.String());
    EXPECT_EQ(8, in.Word());      // points
    EXPECT_EQ(0, in.Word());      // weight
    EXPECT_EQ(0, in.Byte());      // italic
    EXPECT_EQ(1, in.Byte());      // character set
    EXPECT_EQ(L"MS Sans Serif", in.String());

    in.AlignToDword();
    EXPECT_EQ(0u, in.Dword());  // help id
    EXPECT_EQ(0u, in.Dword());  // extended style
    EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON | WS_VISIBLE | WS_CHILD | WS_TABSTOP), in.Dword());
    EXPECT_EQ((Box{151, 145, 50, 14}), in.Box());
    EXPECT_EQ(static_cast<DWORD>(IDCANCEL), in.Dword());
    EXPECT_EQ(L"#128", in.NameOrOrdinal());  // the button class
    EXPECT_EQ(L"Close", in.NameOrOrdinal());
    EXPECT_EQ(0, in.Word());  // creation data

    in.AlignToDword();
    EXPECT_EQ(0u, in.Dword());
    EXPECT_EQ(0u, in.Dword());
    EXPECT_EQ(static_cast<DWORD>(ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_READONLY | WS_BORDER | WS_VSCROLL |
                                 WS_TABSTOP | WS_VISIBLE | WS_CHILD),
              in.Dword());
    EXPECT_EQ((Box{3, 3, 198, 139}), in.Box());
    EXPECT_EQ(static_cast<DWORD>(IDC_INFO_TEXT), in.Dword());
    // Class names are matched ignoring case; the resource compiler stores them in capitals.
    EXPECT_EQ(0, lstrcmpiW(L"RichEdit20A", in.NameOrOrdinal().c_str()));
    EXPECT_EQ(L"", in.NameOrOrdinal());
    EXPECT_EQ(0, in.Word());
    EXPECT_LE(in.at, end);
}

TEST_F(TextInfoWindow, TemplateFontAndSizeInDialogUnits) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0));
    ASSERT_NE(nullptr, font);
    LOGFONTA logFont = {};
    ASSERT_NE(0, GetObjectA(font, sizeof logFont, &logFont));
    EXPECT_STREQ("MS Sans Serif", logFont.lfFaceName);
    EXPECT_EQ(DEFAULT_CHARSET, logFont.lfCharSet);
    EXPECT_FALSE(logFont.lfItalic);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), logFont.lfHeight);
    ReleaseDC(nullptr, screen);

    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(DialogUnits(window_, 0, 0, 204, 162), BoxOf(client));
    RECT button;
    GetClientRect(button_, &button);
    EXPECT_EQ(DialogUnits(window_, 0, 0, 50, 14), BoxOf(button));
}

TEST_F(TextInfoWindow, ControlsAreLaidOutAtStartAndAfterEveryResize) {
    ExpectLaidOut();
    for (SIZE size : {SIZE{520, 410}, SIZE{180, 120}, SIZE{640, 200}}) {
        SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client;
        GetClientRect(window_, &client);
        ASSERT_LT(client.right, size.cx);  // the frame really changed size
        ExpectLaidOut();
    }
}

// ---- Showing and hiding ----

TEST_F(TextInfoWindow, InfoBoxShowsTheTextAndEveryClosePathOnlyHides) {
    const std::string path = File("russian.txt", Utf16File(RUSSIAN_AND_GREEK));
    SetWindowPos(window_, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT laidOut;
    GetWindowRect(window_, &laidOut);

    struct ClosePath {
        const char* name;
        void (*close)(HWND window, HWND button);
    };
    const ClosePath paths[] = {
        {"Close button", [](HWND, HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }},
        {"close box", [](HWND window, HWND) { SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"system menu Close", [](HWND window, HWND) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE | 2, 0); }},
        {"Alt+F4", [](HWND, HWND) { PressKeys({VK_MENU, VK_F4}); }},
        {"Esc", [](HWND, HWND) { PressKeys({VK_ESCAPE}); }},
    };
    for (const ClosePath& closePath : paths) {
        EXPECT_EQ(0, ShowInfo(path)) << closePath.name;
        ASSERT_TRUE(IsWindowVisible(window_)) << closePath.name;
        EXPECT_EQ(window_, GetForegroundWindow()) << closePath.name;

        closePath.close(window_, button_);
        EXPECT_TRUE(HiddenSoon(window_)) << closePath.name;
        EXPECT_TRUE(IsWindow(window_)) << closePath.name;
        EXPECT_EQ(window_, TextInfoWindowHandle()) << closePath.name;
    }

    // Shown again: the same text, the same size, the same layout.
    EXPECT_EQ(0, ShowInfo(path));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());
    RECT now;
    GetWindowRect(window_, &now);
    EXPECT_EQ(BoxOf(laidOut), BoxOf(now));
    ExpectLaidOut();
}

TEST_F(TextInfoWindow, LoadingTextNeverShowsTheWindow) {
    LoadInfoText(File("a.txt", "plain").c_str());
    PumpMessages(window_);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(L"plain", ShownText());
}

// ---- What InfoBox and LoadInfoText reload ----

TEST_F(TextInfoWindow, InfoBoxReloadsOnlyForAnotherNameIgnoringCase) {
    const std::string first = File("First.txt", "first version");
    const std::string second = File("second.txt", "second file");
    EXPECT_EQ(0, ShowInfo(first));
    EXPECT_EQ(L"first version", ShownText());
    EXPECT_STREQ(first.c_str(), LoadedInfoFileName());

    // The same name in other letters: not read again, so the change on disk does not show.
    WriteFileBytes(first, "first changed");
    std::string upper = first;
    CharUpperA(&upper[0]);
    ASSERT_NE(first, upper);
    EXPECT_EQ(0, ShowInfo(upper));
    EXPECT_EQ(L"first version", ShownText());
    EXPECT_EQ(0, ShowInfo(first));
    EXPECT_EQ(L"first version", ShownText());

    EXPECT_EQ(0, ShowInfo(second));
    EXPECT_EQ(L"second file", ShownText());
    EXPECT_EQ(0, ShowInfo(first));
    EXPECT_EQ(L"first changed", ShownText());
}

TEST_F(TextInfoWindow, UnreadableFileShowsTheWindowWithTheOldTextAndIsNotRetried) {
    const std::string readable = File("readable.txt", Utf16File(RUSSIAN_AND_GREEK));
    EXPECT_EQ(0, ShowInfo(readable));
    SendMessageA(button_, BM_CLICK, 0, 0);
    ASSERT_FALSE(IsWindowVisible(window_));

    const std::string missing = folder_ + "later.txt";
    EXPECT_EQ(0, ShowInfo(missing));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());
    EXPECT_STREQ(missing.c_str(), LoadedInfoFileName());

    // The name was recorded: once the file exists, InfoBox for that name still does not read it.
    File("later.txt", "now there");
    EXPECT_EQ(0, ShowInfo(missing));
    EXPECT_EQ(RUSSIAN_AND_GREEK, ShownText());
    // Playing it does.
    LoadInfoText(missing.c_str());
    EXPECT_EQ(L"now there", ShownText());
}

TEST_F(TextInfoWindow, PlayLoadsTheSameFileAgain) {
    const std::string path = File("same.txt", "take one");
    LoadInfoText(path.c_str());
    EXPECT_EQ(L"take one", ShownText());
    WriteFileBytes(path, "take two");
    LoadInfoText(path.c_str());
    EXPECT_EQ(L"take two", ShownText());
}

TEST_F(TextInfoWindow, NameTooLongToKeepIsForgotten) {
    // A file whose full name has the longest length that can be kept: 259 characters.
    const std::string longest = File(std::string(MAX_PATH - 1 - folder_.size() - 4, 'p') + ".txt", "longest name");
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), longest.size());
    EXPECT_EQ(0, ShowInfo(longest));
    EXPECT_EQ(L"longest name", ShownText());
    EXPECT_EQ(longest, LoadedInfoFileName());

    // One character more cannot be kept (nor opened): no name is kept, the text stays.
    const std::string tooLong = longest + "x";
    EXPECT_EQ(0, ShowInfo(tooLong));
    EXPECT_STREQ("", LoadedInfoFileName());
    EXPECT_EQ(L"longest name", ShownText());
    EXPECT_EQ(0, ShowInfo(folder_ + std::string(400, 'q')));
    EXPECT_STREQ("", LoadedInfoFileName());

    // Had the long name been cut to fit, it would equal the first one, which would not be read again.
    WriteFileBytes(longest, "longest changed");
    EXPECT_EQ(0, ShowInfo(longest));
    EXPECT_EQ(L"longest changed", ShownText());
}

TEST(TextInfoWithoutWindow, LoadsStillReadAndRecordTheNameAndInfoBoxDoesNothing) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "in_txt_nowindow_" + std::to_string(GetCurrentProcessId()) + ".txt";
    WriteFileBytes(path, "text");
    LoadInfoText(path.c_str());
    EXPECT_STREQ(path.c_str(), LoadedInfoFileName());
    EXPECT_EQ(0, InfoBox(const_cast<char*>(path.c_str()), nullptr));
    EXPECT_EQ(nullptr, TextInfoWindowHandle());
    FreeTextBuffer();
    DeleteFileA(path.c_str());
}
