#include "infowindow/text_info_window.h"

#include <ole2.h>
#include <richedit.h>
#include <tom.h>
#include <textserv.h>

#include "base/error_report.h"
#include "infowindow/text_decoding.h"
#include "resources/resource.h"

namespace {

// Neither interface id is in MinGW's uuid library.
const IID IID_InfoTextDocument = {0x8CC497C0, 0xA1DF, 0x11CE, {0x80, 0x98, 0x00, 0xAA, 0x00, 0x47, 0xBE, 0x5D}};
const IID IID_InfoTextServices = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

constexpr int MARGIN = 3;

ModuleLibrary RichEditLibrary;
HWND InfoWindow = nullptr;
HWND CloseButton = nullptr;
HWND RichEdit = nullptr;
SIZE CloseButtonSize = {0, 0};
char LoadedFileName[MAX_PATH] = "";
ScopedHeapBlock TextBuffer;

void* AllocateBytes(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void ReleaseBytes(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

// wchar_t is a 16-bit UTF-16 code unit here, the same as char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed over as wchar_t");

bool AnsiToUtf16(const char* bytes, char16_t* out, size_t capacity) {
    return MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<wchar_t*>(out), static_cast<int>(capacity)) != 0;
}

// A failed read counts as nothing read.
uint32_t ReadFromFile(void* file, void* buffer, uint32_t count) {
    DWORD read = 0;
    return ReadFile(static_cast<HANDLE>(file), buffer, count, &read, nullptr) ? read : 0;
}

void RewindFile(void* file) { SetFilePointer(static_cast<HANDLE>(file), 0, nullptr, FILE_BEGIN); }

// A block of a long file's text, cut for showing, gives back what the cut text no longer needs (it
// is kept until the next file is loaded). Left as it is when that is little or the heap refuses.
wchar_t* ShrunkToFit(char16_t* text, size_t units, size_t capacity) {
    if (units > capacity / 2) return reinterpret_cast<wchar_t*>(text);
    void* smaller = HeapReAlloc(GetProcessHeap(), 0, text, units * sizeof(char16_t));
    return static_cast<wchar_t*>(smaller ? smaller : text);
}

// The 64-bit size of an open file, or false when it cannot be asked.
bool FileSize(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

// Gives UTF-16 text to the control through its text services, so it never passes the ANSI code page.
bool SetTextThroughTextServices(HWND richEdit, const wchar_t* text) {
    ScopedComPtr<IUnknown> control;
    if (!SendMessageA(richEdit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(control.Receive()))) return false;
    if (!control) return false;
    ScopedComPtr<IUnknown> document;
    if (FAILED(control->QueryInterface(IID_InfoTextDocument, document.ReceiveVoid()))) return false;
    ScopedComPtr<ITextServices> services;
    if (FAILED(document->QueryInterface(IID_InfoTextServices, services.ReceiveVoid()))) return false;
    return SUCCEEDED(services->TxSetText(text));
}

// Room for two bytes per code unit and the terminator; characters the code page lacks become its
// default character.
void SetTextThroughAnsi(HWND richEdit, const wchar_t* text) {
    SIZE_T size = static_cast<SIZE_T>(lstrlenW(text)) * 2 + 1;
    ScopedHeapBlock ansi(AllocateBytes(size));
    if (!ansi.Get()) return;
    char* bytes = ansi.As<char>();
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, static_cast<int>(size), nullptr, nullptr) == 0)
        bytes[0] = '\0';
    SetWindowTextA(richEdit, bytes);
}

void PlaceControls(int clientWidth, int clientHeight) {
    InfoWindowLayout layout = LayoutInfoWindow(clientWidth, clientHeight, CloseButtonSize);
    const RECT& button = layout.closeButton;
    const RECT& text = layout.text;
    MoveWindow(CloseButton, button.left, button.top, button.right - button.left, button.bottom - button.top, TRUE);
    MoveWindow(RichEdit, text.left, text.top, text.right - text.left, text.bottom - text.top, TRUE);
}

INT_PTR OnInitDialog(HWND window) {
    CloseButton = GetDlgItem(window, IDCANCEL);
    RichEdit = GetDlgItem(window, IDC_INFO_TEXT);
    RECT button = {};
    GetClientRect(CloseButton, &button);
    CloseButtonSize = {button.right, button.bottom};
    RECT client = {};
    GetClientRect(window, &client);
    PlaceControls(client.right, client.bottom);
    return TRUE;
}

INT_PTR OnSize(LPARAM lParam) {
    PlaceControls(LOWORD(lParam), HIWORD(lParam));
    return FALSE;
}

INT_PTR OnCommand(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == IDCANCEL) ShowWindow(window, SW_HIDE);
    return FALSE;
}

// The default processing that follows turns the close into the cancel command, which hides it too.
INT_PTR OnSysCommand(HWND window, WPARAM wParam) {
    if ((wParam & 0xFFF0) == SC_CLOSE) ShowWindow(window, SW_HIDE);
    return FALSE;
}

INT_PTR CALLBACK TextInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(window);
    case WM_SIZE: return OnSize(lParam);
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_SYSCOMMAND: return OnSysCommand(window, wParam);
    default: return FALSE;
    }
}

}  // namespace

InfoWindowLayout LayoutInfoWindow(int clientWidth, int clientHeight, SIZE closeButtonSize) {
    const int w = closeButtonSize.cx;
    const int h = closeButtonSize.cy;
    InfoWindowLayout layout;
    layout.closeButton.left = clientWidth - w - MARGIN;
    layout.closeButton.top = clientHeight - h - MARGIN;
    layout.closeButton.right = layout.closeButton.left + w;
    layout.closeButton.bottom = layout.closeButton.top + h;
    layout.text.left = MARGIN;
    layout.text.top = MARGIN;
    layout.text.right = MARGIN + clientWidth - 2 * MARGIN;
    layout.text.bottom = MARGIN + clientHeight - h - 3 * MARGIN;
    return layout;
}

bool LoadTextFile(HWND richEdit, const char* fileName, ScopedHeapBlock& textBuffer) {
    textBuffer.Free();
    ScopedHandle file(CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    TextSource source = {0, file.Get(), ReadFromFile, RewindFile};
    if (!FileSize(file.Get(), &source.size)) return false;

    const TextMemory memory = {AllocateBytes, ReleaseBytes, AnsiToUtf16};
    DecodedText decoded;
    const bool read = DecodeTextFile(source, memory, &decoded);
    file.Close();
    if (!read) return false;
    const size_t shownUnits = LimitShownText(decoded.text, MAX_SHOWN_TEXT_UNITS);
    textBuffer.Reset(ShrunkToFit(decoded.text, shownUnits + 1, decoded.capacity));

    if (!richEdit) return true;
    const wchar_t* text = textBuffer.As<wchar_t>();
    if (decoded.utf16 && SetTextThroughTextServices(richEdit, text)) return true;
    SetTextThroughAnsi(richEdit, text);
    return true;
}

// The library must be loaded before a dialog holding a "RichEdit20A" control is created.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner) {
    if (!RichEditLibrary.Load("riched20.dll")) {
        ShowErrorBox(TEXT_RICH_EDIT_MISSING);
        return nullptr;
    }
    InfoWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_TEXT_INFO), owner, TextInfoDialogProc, 0);
    return InfoWindow;
}

void UnloadRichEdit() { RichEditLibrary.Free(); }

void DestroyTextInfoWindow() {
    if (!InfoWindow) return;
    DestroyWindow(InfoWindow);
    InfoWindow = nullptr;
    CloseButton = nullptr;
    RichEdit = nullptr;
}

HWND TextInfoWindowHandle() { return InfoWindow; }

void FreeTextBuffer() { TextBuffer.Free(); }

// A name too long to keep is not kept at all: cut, it could equal another file's name, and InfoBox
// would then show this text for that file.
void LoadInfoText(const char* file) {
    if (!file) file = "";
    LoadTextFile(RichEdit, file, TextBuffer);
    if (lstrlenA(file) < MAX_PATH)
        lstrcpyA(LoadedFileName, file);
    else
        LoadedFileName[0] = '\0';
}

const char* LoadedInfoFileName() { return LoadedFileName; }

int __cdecl InfoBox(char* file, HWND) {
    if (!InfoWindow) return 0;
    if (file && lstrcmpiA(file, LoadedFileName) != 0) LoadInfoText(file);
    ShowWindow(InfoWindow, SW_SHOW);
    SetForegroundWindow(InfoWindow);
    return 0;
}
