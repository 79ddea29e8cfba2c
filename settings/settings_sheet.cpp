#include "settings/settings_sheet.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstddef>
#include <cstring>

#include "base/module_objects.h"
#include "base/plugin_settings.h"
#include "resources/resource.h"
#include "voices/voice_list.h"

static bool SettingsSheetOpen;

// ---- Voice page ----

// The radio buttons of each two-valued setting, indexed by the setting.
static const int BitsButtons[2] = {IDC_8_BIT, IDC_16_BIT};
static const int ChannelsButtons[2] = {IDC_MONO, IDC_STEREO};

// True from the page's initialisation until its clean-up ran: the clean-up can be asked for more than
// once on one close (cancel, then reset, then the page's destruction).
static bool VoicePageNeedsCleanUp;

// Position a horizontal scroll message reports: the thumb position of SB_THUMBPOSITION and
// SB_THUMBTRACK, otherwise the slider's own; either read as a signed 16-bit number.
static long ScrollMessagePosition(WPARAM scrollParam, LRESULT sliderPosition) {
    const WORD code = LOWORD(scrollParam);
    if (code == SB_THUMBPOSITION || code == SB_THUMBTRACK) return static_cast<short>(HIWORD(scrollParam));
    return static_cast<short>(sliderPosition);
}

static void UpdateRateLabel(HWND page, long rate) {
    char text[32];
    wsprintfA(text, "Rate: %ld", rate);
    SetWindowTextA(GetDlgItem(page, IDC_RATE_LABEL), text);
}

static void SetVoiceRate(long rate) {
    if (Voice) Voice->SetRate(rate);
}

static void FillSampleRateList(HWND page) {
    HWND list = GetDlgItem(page, IDC_SAMPLE_RATE_LIST);
    for (int row = 0; row < SAMPLE_RATE_MODES; ++row) {
        char text[16];
        wsprintfA(text, "%d kHz", SampleRates[row] / 1000);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageA(list, LB_SETCURSEL, PluginSettings.SampleRateMode, 0);
}

// A value outside the table checks no button, so neither is stored as chosen unless the user picks one.
static void CheckRadioRow(HWND page, const int (&buttons)[2], int row) {
    if (row >= 0 && row < 2) CheckDlgButton(page, buttons[row], BST_CHECKED);
}

static BOOL OnVoicePageInit(HWND page) {
    FillSampleRateList(page);
    CheckRadioRow(page, BitsButtons, PluginSettings.BitsPerSampleMode);
    CheckRadioRow(page, ChannelsButtons, PluginSettings.NumChannelsMode);

    // Without the configured voice among them, the first voice stays selected.
    HWND voices = GetDlgItem(page, IDC_VOICE_LIST);
    FillTokenList(voices);
    SelectListVoice(voices, PluginSettings.VoiceID.Get());
    VoicePageNeedsCleanUp = true;

    HWND slider = GetDlgItem(page, IDC_RATE_SLIDER);
    SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(MIN_RATE, MAX_RATE));
    SendMessageA(slider, TBM_SETPOS, TRUE, PluginSettings.Rate);
    UpdateRateLabel(page, PluginSettings.Rate);
    return TRUE;
}

// The slider moves: the running voice is heard at the new rate at once; Rate itself changes on OK.
static BOOL OnVoicePageScroll(HWND page, WPARAM scrollParam, HWND slider) {
    const long position = ScrollMessagePosition(scrollParam, SendMessageA(slider, TBM_GETPOS, 0, 0));
    UpdateRateLabel(page, position);
    SetVoiceRate(position);
    return FALSE;
}

static bool ButtonChecked(HWND page, int id) {
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

static void ApplyVoicePage(HWND page) {
    const LRESULT rateRow = SendDlgItemMessageA(page, IDC_SAMPLE_RATE_LIST, LB_GETCURSEL, 0, 0);
    PluginSettings.SampleRateMode = rateRow == LB_ERR ? DEFAULT_SAMPLE_RATE_MODE : static_cast<int>(rateRow);
    PluginSettings.BitsPerSampleMode = ButtonChecked(page, IDC_16_BIT) ? 1 : 0;
    PluginSettings.NumChannelsMode = ButtonChecked(page, IDC_STEREO) ? 1 : 0;
    if (ISpObjectToken* token = SelectedListToken(GetDlgItem(page, IDC_VOICE_LIST)))
        token->GetId(PluginSettings.VoiceID.Receive());  // a failed GetId leaves no voice configured
    PluginSettings.Rate = static_cast<short>(SendDlgItemMessageA(page, IDC_RATE_SLIDER, TBM_GETPOS, 0, 0));
}

// Runs once per close, whichever way the sheet closes or goes: puts the stored rate back on the voice
// (taking back a preview after a cancel) and gives back the voice list's token references.
static void FinishVoicePage(HWND page) {
    if (!VoicePageNeedsCleanUp) return;
    VoicePageNeedsCleanUp = false;
    SetVoiceRate(PluginSettings.Rate);
    ReleaseTokenList(GetDlgItem(page, IDC_VOICE_LIST));
}

// The page's answer to a sheet notification: go ahead (PSNRET_NOERROR; a cancel is allowed).
static BOOL AnswerGoAhead(HWND page) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
}

static BOOL OnVoicePageNotify(HWND page, const NMHDR* header) {
    switch (header->code) {
    case PSN_APPLY:
        ApplyVoicePage(page);
        FinishVoicePage(page);
        return AnswerGoAhead(page);
    case PSN_QUERYCANCEL:
        FinishVoicePage(page);
        return AnswerGoAhead(page);
    case PSN_RESET:
        // The sheet asks only the visible page whether it may cancel, but resets every page:
        // a cancel from the Hot Key tab reaches this page here alone.
        FinishVoicePage(page);
        return FALSE;
    }
    return FALSE;
}

static INT_PTR CALLBACK VoicePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnVoicePageInit(page);
    case WM_HSCROLL:
        return OnVoicePageScroll(page, wParam, reinterpret_cast<HWND>(lParam));
    case WM_NOTIFY:
        return OnVoicePageNotify(page, reinterpret_cast<const NMHDR*>(lParam));
    case WM_DESTROY:
        // The sheet can go without OK, Cancel or a reset reaching the page (its owner destroyed).
        FinishVoicePage(page);
        return FALSE;
    }
    return FALSE;
}

// ---- Hot Key page ----

static HWND HotKeyControl;

static BOOL OnHotKeyPageInit(HWND page) {
    HotKeyControl = GetDlgItem(page, IDC_HOTKEY);
    if (PluginSettings.UseHotKey) CheckDlgButton(page, IDC_USE_HOTKEY, BST_CHECKED);
    if (PluginSettings.Documents) CheckDlgButton(page, IDC_DOCUMENTS, BST_CHECKED);
    if (PluginSettings.Seekable) CheckDlgButton(page, IDC_SEEKABLE, BST_CHECKED);
    SendMessageA(HotKeyControl, HKM_SETHOTKEY, PluginSettings.HotKey, 0);
    // A sheet opened by the hot key would otherwise stay behind the window that had the keyboard.
    SetForegroundWindow(page);
    return TRUE;
}

static BOOL OnHotKeyPageNotify(HWND page, const NMHDR* header) {
    if (header->code != PSN_APPLY) return FALSE;
    PluginSettings.UseHotKey = ButtonChecked(page, IDC_USE_HOTKEY);
    PluginSettings.Documents = ButtonChecked(page, IDC_DOCUMENTS);
    PluginSettings.Seekable = ButtonChecked(page, IDC_SEEKABLE);
    PluginSettings.HotKey = LOWORD(SendMessageA(HotKeyControl, HKM_GETHOTKEY, 0, 0));
    return AnswerGoAhead(page);
}

static INT_PTR CALLBACK HotKeyPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnHotKeyPageInit(page);
    case WM_NOTIFY:
        return OnHotKeyPageNotify(page, reinterpret_cast<const NMHDR*>(lParam));
    }
    return FALSE;
}

// ---- The sheet ----

struct SettingsPage {
    int templateId;
    DLGPROC procedure;
};
static const SettingsPage SettingsPageTable[] = {
    {IDD_VOICE_PAGE, VoicePage},
    {IDD_HOTKEY_PAGE, HotKeyPage},
};
constexpr int PAGE_COUNT = sizeof SettingsPageTable / sizeof SettingsPageTable[0];

// The records in the forms that every sheet implementation since Internet Explorer 4 reads: the
// page record up to its header subtitle (48 bytes), the sheet header up to its header bitmap (52).
constexpr UINT PAGE_RECORD_SIZE = offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR);
constexpr UINT SHEET_HEADER_SIZE = offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP);
static_assert(PAGE_RECORD_SIZE == 48 && SHEET_HEADER_SIZE == 52, "32-bit record layouts");

// Some sheet implementations create only the start page at open, whatever PSP_PREMATURE asks.
// Showing the second page and going back creates every page at open, so both read the settings
// and both take part in OK and Cancel; where the pages exist already, nothing visible changes.
static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED) {
        for (int page = PAGE_COUNT - 1; page >= 0; --page) SendMessageA(sheet, PSM_SETCURSEL, page, 0);
    }
    return 0;
}

// The sheet steps through an array of page records by each record's dwSize, so records of the
// 48-byte form must lie 48 bytes apart, not sizeof(PROPSHEETPAGEA) apart.
struct alignas(4) PageRecord {
    BYTE bytes[PAGE_RECORD_SIZE];
};

static PageRecord BuildPageRecord(const SettingsPage& row) {
    PROPSHEETPAGEA page = {};
    page.dwSize = PAGE_RECORD_SIZE;
    page.dwFlags = PSP_PREMATURE;
    page.hInstance = PluginModule.hDllInstance;
    page.pszTemplate = MAKEINTRESOURCEA(row.templateId);
    page.pfnDlgProc = row.procedure;
    PageRecord record;
    memcpy(record.bytes, &page, PAGE_RECORD_SIZE);
    return record;
}

static void ShowSheetModally(HWND parent) {
    PageRecord pages[PAGE_COUNT];
    for (int i = 0; i < PAGE_COUNT; ++i) pages[i] = BuildPageRecord(SettingsPageTable[i]);
    PROPSHEETHEADERA header = {};
    header.dwSize = SHEET_HEADER_SIZE;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = parent;
    header.pszCaption = "Text Speech Plugin Properties";
    header.nPages = PAGE_COUNT;
    header.nStartPage = 0;
    header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
    header.pfnCallback = SheetCallback;

    // The trackbar and the hot key control are common controls.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES | ICC_HOTKEY_CLASS | ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    PropertySheetA(&header);
}

void __cdecl ShowSettingsSheet(HWND parent) {
    if (SettingsSheetOpen) return;
    SettingsSheetOpen = true;
    ShowSheetModally(parent);
    SettingsSheetOpen = false;
}
