// The "Text info" window of the real in_txt.dll in the player host: created hidden by Init, filled
// by Play, shown by InfoBox, hidden by closing, destroyed by Quit.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <memory>
#include <string>

#include "engine/engine.h"
#include "host/call_log.h"
#include "host/files.h"
#include "host/plugin_host.h"

namespace {

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

const wchar_t GREEK[] = L"\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1 \u03BA\u03CC\u03C3\u03BC\u03B5";

class PluginTextInfo : public ::testing::Test {
protected:
    void SetUp() override {
        engine::Reset();
        host::ClearCallLog();
        host::HostOptions options;
        options.output.drain = host::DrainMode::Instant;
        host_ = std::make_unique<host::PluginHost>(options);
        ASSERT_TRUE(host_->Load()) << host_->Error();
        host_->Init();
        folder_ = host::CreateUniqueTempFolder("in_txt_info_");
        ASSERT_FALSE(folder_.empty());
        window_ = InfoWindow();
        ASSERT_NE(nullptr, window_) << "Init creates the window";
    }
    void TearDown() override {
        host_.reset();
        if (!folder_.empty()) host::RemoveFolderTree(folder_);
    }

    // The window of this thread with the caption "Text info" (other test processes may show one too).
    static HWND InfoWindow() {
        HWND found = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), FindTextInfo, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    static BOOL CALLBACK FindTextInfo(HWND window, LPARAM found) {
        char caption[32] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (lstrcmpA(caption, "Text info") != 0) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(host::WriteWholeFile(path, bytes));
        return path;
    }

    int InfoBox(const std::string& path) {
        int result = host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
        host_->PumpMessages(30);
        return result;
    }

    void PlayToEnd(const std::string& path) {
        ASSERT_EQ(0, host_->Play(path));
        EXPECT_TRUE(host_->WaitForEndOfFile(10000));
        host_->Stop();
    }

    std::wstring ShownText() const {
        wchar_t text[1024] = {};
        GETTEXTEX request = {};
        request.cb = sizeof text;
        request.flags = GT_USECRLF;
        request.codepage = 1200;
        SendMessageW(GetDlgItem(window_, 1000), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                     reinterpret_cast<LPARAM>(text));
        return text;
    }

    std::unique_ptr<host::PluginHost> host_;
    std::string folder_;
    HWND window_ = nullptr;
};

}  // namespace

TEST_F(PluginTextInfo, CreatedHiddenOwnedByThePlayerAndDestroyedByQuit) {
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(host_->MainWindow(), GetWindow(window_, GW_OWNER));
    EXPECT_EQ(host_->Library(), reinterpret_cast<HMODULE>(GetWindowLongPtrA(window_, GWLP_HINSTANCE)));
    EXPECT_EQ(L"", ShownText());
    host_->Quit();
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(PluginTextInfo, PlayFillsTheHiddenWindowEveryTimeAndInfoBoxShowsIt) {
    const std::string path = MakeFile("greek.txt", Utf16File(GREEK));
    PlayToEnd(path);
    EXPECT_FALSE(IsWindowVisible(window_)) << "playing never shows the window";
    EXPECT_EQ(GREEK, ShownText());

    // The same file again is read again.
    ASSERT_TRUE(host::WriteWholeFile(path, Utf16File(L"second take")));
    PlayToEnd(path);
    EXPECT_EQ(L"second take", ShownText());

    // InfoBox for the name just played, in other letters: shown as it is, not read again.
    ASSERT_TRUE(host::WriteWholeFile(path, "third take"));
    std::string upper = path;
    CharUpperA(&upper[0]);
    EXPECT_EQ(0, InfoBox(upper));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(L"second take", ShownText());

    // Another file is read.
    EXPECT_EQ(0, InfoBox(MakeFile("other.txt", "other file")));
    EXPECT_EQ(L"other file", ShownText());
}

TEST_F(PluginTextInfo, ClosingHidesAndInfoBoxShowsTheSameTextAndSizeAgain) {
    const std::string path = MakeFile("greek.txt", Utf16File(GREEK));
    EXPECT_EQ(0, InfoBox(path));
    ASSERT_TRUE(IsWindowVisible(window_));
    SetWindowPos(window_, nullptr, 0, 0, 480, 320, SWP_NOMOVE | SWP_NOZORDER);
    RECT before;
    GetWindowRect(window_, &before);

    SendMessageA(GetDlgItem(window_, IDCANCEL), BM_CLICK, 0, 0);
    host_->PumpMessages(50);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(0, InfoBox(path));
    EXPECT_TRUE(IsWindowVisible(window_));

    SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    host_->PumpMessages(50);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_TRUE(IsWindow(window_));

    EXPECT_EQ(0, InfoBox(path));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(GREEK, ShownText());
    RECT after;
    GetWindowRect(window_, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    RECT client, button;
    GetClientRect(window_, &client);
    GetWindowRect(GetDlgItem(window_, IDCANCEL), &button);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(client.right - 3, button.right);
    EXPECT_EQ(client.bottom - 3, button.bottom);
}
