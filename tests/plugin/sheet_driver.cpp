#include "tests/plugin/sheet_driver.h"

#include <commctrl.h>
#include <prsht.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace sheet {

namespace {

// Other test programs may show a sheet with the same caption at the same time: only this process's count.
BOOL CALLBACK CollectOwnSheet(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    // GetWindowText would send WM_GETTEXT to the player's thread, which may be waiting for this one.
    wchar_t caption[64] = {};
    InternalGetWindowText(window, caption, 64);
    if (lstrcmpA(className, "#32770") == 0 && Narrow(caption) == SHEET_CAPTION)
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

HWND FindOwnSheet() {
    const std::vector<HWND> sheets = OpenSheets();
    return sheets.empty() ? nullptr : sheets.front();
}

// The sheet window exists while it still builds its tabs and pages; it shows once that is done.
// A message sent after that is handled by the modal loop, so the pages' initialisation is over.
HWND FindReadySheet() {
    HWND sheet = FindOwnSheet();
    if (!sheet || !IsWindowVisible(sheet)) return nullptr;
    SendMessageA(sheet, WM_NULL, 0, 0);
    return sheet;
}

HWND WaitForSheetUnless(DWORD timeoutMs, const std::atomic<bool>& giveUp) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = FindReadySheet()) return found;
        if (giveUp || GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(10);
    }
}

}  // namespace

HWND WaitForSheet(DWORD timeoutMs) {
    const std::atomic<bool> never{false};
    return WaitForSheetUnless(timeoutMs, never);
}

bool WaitUntilClosed(HWND sheet, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(sheet)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

std::vector<HWND> OpenSheets() {
    std::vector<HWND> sheets;
    EnumWindows(CollectOwnSheet, reinterpret_cast<LPARAM>(&sheets));
    return sheets;
}

bool SheetIsOpen() {
    return FindOwnSheet() != nullptr;
}

HWND Page(HWND sheet, int index) {
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, index, 0));
}

HWND Control(HWND sheet, int pageIndex, int controlId) {
    return GetDlgItem(Page(sheet, pageIndex), controlId);
}

void ShowTab(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, index, 0);
}

void PressOk(HWND sheet) {
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
}

void PressCancel(HWND sheet) {
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

bool WithSheet(const std::function<void()>& open, const std::function<void(HWND sheet)>& drive) {
    std::atomic<bool> openReturned{false};
    std::atomic<bool> shown{false};
    std::thread driver([&] {
        HWND sheet = WaitForSheetUnless(SHEET_WAIT_MS, openReturned);
        if (!sheet) return;
        shown = true;
        drive(sheet);
        if (IsWindow(sheet)) {
            PressCancel(sheet);
            WaitUntilClosed(sheet);
        }
    });
    open();
    openReturned = true;
    driver.join();
    return shown;
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int SelectedRow(HWND list) {
    return static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
}

std::string RowText(HWND list, int row) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, row, 0);
    if (length < 0) return "<no row>";
    std::string text(length + 1, '\0');
    SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(length);
    return text;
}

int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
}

void SelectRow(HWND list, int row) {
    SendMessageA(list, LB_SETCURSEL, row, 0);
    SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

void Click(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
}

bool IsChecked(HWND button) {
    return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DragSliderTo(HWND slider, int position) {
    HWND page = GetParent(slider);
    const LPARAM from = reinterpret_cast<LPARAM>(slider);
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(position)), from);
    SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, static_cast<WORD>(position)), from);
    SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), from);
}

void PressSliderKey(HWND slider, WORD virtualKey) {
    SendMessageA(slider, WM_KEYDOWN, virtualKey, 1);
    SendMessageA(slider, WM_KEYUP, virtualKey, 0xC0000001);
}

int SliderPosition(HWND slider) {
    return static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
}

void SetHotKeyValue(HWND control, WORD value) {
    SendMessageA(control, HKM_SETHOTKEY, value, 0);
}

WORD HotKeyValue(HWND control) {
    return LOWORD(SendMessageA(control, HKM_GETHOTKEY, 0, 0));
}

namespace {

// <folder of the test program>..\artifacts
std::string ArtifactsFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    folder = folder.substr(0, folder.find_last_of('\\'));  // bin
    folder = folder.substr(0, folder.find_last_of('\\'));  // the build folder
    folder += "\\artifacts";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Wine's own entry points; absent on Windows.
std::string UnixPathOf(const std::string& windowsPath) {
    typedef char*(__cdecl * ToUnixFunc)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnixFunc>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix) return "";
    char* unixPath = toUnix(Wide(windowsPath).c_str());
    if (!unixPath) return "";
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

}  // namespace

bool SaveScreenshot(const std::string& name, HWND window) {
    typedef LONG(WINAPI * SpawnFunc)(char* const argv[], int wait);
    auto spawn = reinterpret_cast<SpawnFunc>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp"));
    const std::string file = UnixPathOf(ArtifactsFolder() + "\\" + name + ".png");
    if (!spawn || file.empty()) return false;
    std::string crop;
    RECT area;
    if (window) {
        // Painted through, children included, and given a moment to reach the display: a picture, not a check.
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(200);
    }
    if (window && GetWindowRect(window, &area)) {
        // Wine's desktop window stands at the display's origin, so desktop and display coordinates agree.
        const int margin = 8;
        const long left = area.left > margin ? area.left - margin : 0, top = area.top > margin ? area.top - margin : 0;
        crop = " -crop " + std::to_string(area.right + margin - left) + "x" + std::to_string(area.bottom + margin - top) +
               "+" + std::to_string(left) + "+" + std::to_string(top) + " +repage";
    }
    std::string command = "timeout 30 import -window root" + crop + " '" + file + "' >/dev/null 2>&1 </dev/null";
    char shell[] = "/bin/sh", option[] = "-c";
    char* const argv[] = {shell, option, &command[0], nullptr};
    // The spawn blocks until import is done; import reads the X display, which no Wine thread holds.
    return spawn(argv, 1) == 0;
}

}  // namespace sheet
