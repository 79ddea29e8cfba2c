// Driving the plug-in's modal properties sheet from a test: the player's thread (the test's main
// thread) opens it and runs its modal loop, while a driver thread finds it, works its controls with
// the messages a user's actions produce, and closes it. Also screenshots of the display.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "named_lock.h"

namespace sheet {

constexpr char SHEET_CAPTION[] = "Text Speech Plugin Properties";
constexpr DWORD SHEET_WAIT_MS = 10000;  // generous: only a hang takes this long

// Held by every test that shows the sheet or types keys: the sheet takes the foreground, and typed
// keys go to whichever window has it, so two such test programs must not run at the same time.
class ForegroundLock : public NamedTestLock {
public:
    ForegroundLock() : NamedTestLock("in_txt_tests_foreground") {}
};

// The sheet's window, once it shows (null after timeoutMs).
HWND WaitForSheet(DWORD timeoutMs = SHEET_WAIT_MS);
bool WaitUntilClosed(HWND sheet, DWORD timeoutMs = SHEET_WAIT_MS);
// Whether a sheet of this process is up now; all of them.
bool SheetIsOpen();
std::vector<HWND> OpenSheets();

// The pages' tab indices.
constexpr int VOICE_PAGE = 0;
constexpr int HOT_KEY_PAGE = 1;

// Page window by tab index.
HWND Page(HWND sheet, int index);
HWND Control(HWND sheet, int pageIndex, int controlId);
void ShowTab(HWND sheet, int index);

// OK and Cancel, posted as a user's press is: the sheet closes from its own modal loop.
void PressOk(HWND sheet);
void PressCancel(HWND sheet);

// Runs open() on the calling thread, which shows the sheet modally, while drive(sheet) runs on a
// thread of its own once the sheet is up. A sheet that drive leaves open is cancelled, so open()
// always returns. Returns whether the sheet showed (drive ran).
bool WithSheet(const std::function<void()>& open, const std::function<void(HWND sheet)>& drive);

// Voice page.
std::string WindowText(HWND window);
int SelectedRow(HWND list);          // -1 without a selection
std::string RowText(HWND list, int row);
int RowCount(HWND list);
// Selects a row as a click does, telling the page (LBN_SELCHANGE).
void SelectRow(HWND list, int row);
// Clicks a radio button or check box (BM_CLICK).
void Click(HWND button);
bool IsChecked(HWND button);
// Moves the slider as dragging its thumb does: position, then SB_THUMBTRACK and SB_THUMBPOSITION.
void DragSliderTo(HWND slider, int position);
// Presses a key on the focused slider; the trackbar itself reports the move to the page.
void PressSliderKey(HWND slider, WORD virtualKey);
int SliderPosition(HWND slider);

// Hot Key page: the hot key control's value (key code | modifiers << 8).
void SetHotKeyValue(HWND control, WORD value);
WORD HotKeyValue(HWND control);

// Saves a screenshot of the display, cut to the window when one is given, as
// <build>/artifacts/<name>.png (Linux's ImageMagick, started through Wine). False where that is
// not possible (on Windows).
bool SaveScreenshot(const std::string& name, HWND window = nullptr);

}  // namespace sheet
