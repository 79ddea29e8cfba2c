// A picture of the "Text info" window showing Cyrillic and Greek text, taken from the test display
// with ImageMagick's import and kept in <build>/artifacts/.
#include "infowindow/text_info_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

// Wine's way to run a Linux program and wait for it; absent on Windows.
using UnixSpawn = LONG(WINAPI*)(char* const argv[], int wait);
// Wine's Linux name for a Windows path, freed with HeapFree.
using UnixFileName = char*(__cdecl*)(LPCWSTR path);

const wchar_t RUSSIAN_AND_GREEK[] =
    L"\u0422\u0435\u043A\u0441\u0442 \u043D\u0430 \u0440\u0443\u0441\u0441\u043A\u043E\u043C "
    L"\u044F\u0437\u044B\u043A\u0435: \u0441\u0438\u043D\u0442\u0435\u0437 \u0440\u0435\u0447\u0438.\r\n"
    L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03CC \u03BA\u03B5\u03AF\u03BC\u03B5\u03BD\u03BF: "
    L"\u03C3\u03CD\u03BD\u03B8\u03B5\u03C3\u03B7 \u03BF\u03BC\u03B9\u03BB\u03AF\u03B1\u03C2.";

void PumpMessagesFor(DWORD milliseconds) {
    DWORD end = GetTickCount() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

// The build folder's artifacts/ as a Linux path: the test program lies in <build>/bin/.
std::string ArtifactsFolder(UnixFileName unixFileName) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    char* name = unixFileName(exe);
    if (!name) return "";
    std::string path(name);
    HeapFree(GetProcessHeap(), 0, name);
    for (int i = 0; i < 2; ++i) path.erase(path.rfind('/'));
    return path + "/artifacts";
}

// Pixels of the control's client area that differ from its background: the drawn glyphs.
int InkedPixels(HWND control) {
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    const COLORREF background = GetPixel(dc, client.right - 2, client.bottom - 2);
    int inked = 0;
    for (int y = 0; y < client.bottom; y += 1)
        for (int x = 0; x < client.right; x += 1)
            if (GetPixel(dc, x, y) != background) ++inked;
    ReleaseDC(control, dc);
    return inked;
}

}  // namespace

TEST(TextInfoScreenshot, CyrillicAndGreekTextIsDrawnAndPictured) {
    auto spawn = reinterpret_cast<UnixSpawn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp"));
    auto unixFileName =
        reinterpret_cast<UnixFileName>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!spawn || !unixFileName) GTEST_SKIP() << "pictures are taken on Wine's display only";

    HMODULE richEdit = LoadLibraryA("riched20.dll");
    ASSERT_NE(nullptr, richEdit);
    HWND window = CreateTextInfoWindow(GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "in_txt_picture_" + std::to_string(GetCurrentProcessId()) + ".txt";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "\xFF\xFE", 2, &written, nullptr);
    WriteFile(file, RUSSIAN_AND_GREEK, sizeof RUSSIAN_AND_GREEK - sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);

    SetWindowPos(window, nullptr, 0, 0, 460, 240, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(0, InfoBox(const_cast<char*>(path.c_str()), nullptr));
    ASSERT_TRUE(IsWindowVisible(window));
    UpdateWindow(window);
    PumpMessagesFor(500);

    HWND text = GetDlgItem(window, 1000);
    EXPECT_GT(InkedPixels(text), 200) << "no text drawn in the control";

    RECT frame;
    GetWindowRect(window, &frame);
    const std::string folder = ArtifactsFolder(unixFileName);
    ASSERT_FALSE(folder.empty());
    const std::string crop = std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top) +
                             "+" + std::to_string(frame.left) + "+" + std::to_string(frame.top);
    const std::string command = "(mkdir -p '" + folder + "' && cd '" + folder +
                                "' && timeout 60 import -window root text-info-screen.png"
                                " && timeout 60 convert text-info-screen.png -crop " + crop +
                                " +repage text-info.png && test -s text-info.png) >/dev/null 2>&1 </dev/null";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(command.c_str()), nullptr};

    // The window keeps answering its messages while the picture is taken.
    LONG status = -1;
    std::atomic<bool> done{false};
    std::thread picture([&] {
        status = spawn(argv, 1);
        done = true;
    });
    while (!done) PumpMessagesFor(20);
    picture.join();
    EXPECT_EQ(0, status) << command;

    DestroyTextInfoWindow();
    FreeTextBuffer();
    DeleteFileA(path.c_str());
    FreeLibrary(richEdit);
}
