#include "infowindow/text_info_window.h"

#include <ole2.h>
#include <richedit.h>
#include <tom.h>
#include <textserv.h>

#include "resources/resource.h"

namespace {

// Neither interface id is in MinGW's uuid library.
const IID IID_InfoTextDocument = {0x8CC497C0, 0xA1DF, 0x11CE, {0x80, 0x98, 0x00, 0xAA, 0x00, 0x47, 0xBE, 0x5D}};
const IID IID_InfoTextServices = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

constexpr int MARGIN = 3;
constexpr WORD UTF16_LE_MARK = 0xFEFF;
// Large enough for any text file worth reading, small enough that (size + 1) * 2 cannot overflow.
constexpr DWORD MAX_TEXT_FILE_SIZE = 0x3FFFFFFF;

HWND InfoWindow = nullptr;
HWND CloseButton = nullptr;
HWND RichEdit = nullptr;
SIZE CloseButtonSize = {0, 0};
char LoadedFileName[MAX_PATH] = "";
ScopedHeapBlock TextBuffer;

void* AllocateBytes(SIZE_T size) { return HeapAlloc(GetProcessHeap(), 0, size); }

// Reads up to size bytes; the count actually read, which a short read makes smaller and a failed one 0.
DWORD ReadUpTo(HANDLE file, void* buffer, DWORD size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) ? read : 0;
}

// The size of a file that fits in memory as text, or false.
bool TextFileSize(HANDLE file, DWORD* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    *size = GetFileSize(file, &high);
    if (*size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    return high == 0 && *size <= MAX_TEXT_FILE_SIZE;
}

WORD ReadFirstTwoBytes(HANDLE file) {
    WORD value = 0;
    ReadUpTo(file, &value, sizeof value);
    return value;
}

// The code units after the byte-order mark; an odd last byte is dropped. The text ends where the
// read ended, so a short read never shows memory that was not filled.
bool ReadUtf16Text(HANDLE file, DWORD size, ScopedHeapBlock& textBuffer) {
    DWORD bufferBytes = size & ~1u;
    textBuffer.Reset(AllocateBytes(bufferBytes));
    if (!textBuffer.Get()) return false;
    DWORD read = ReadUpTo(file, textBuffer.Get(), size - 2);
    textBuffer.As<wchar_t>()[read / 2] = L'\0';
    return true;
}

// The bytes up to the first 0 byte (or the end of what was read), converted from the ANSI code page.
bool ReadAnsiText(HANDLE file, DWORD size, ScopedHeapBlock& textBuffer) {
    ScopedHeapBlock bytes(AllocateBytes(size + 1));
    textBuffer.Reset(AllocateBytes((static_cast<SIZE_T>(size) + 1) * sizeof(wchar_t)));
    if (!bytes.Get() || !textBuffer.Get()) {
        textBuffer.Free();
        return false;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    DWORD read = ReadUpTo(file, bytes.Get(), size);
    bytes.As<char>()[read] = '\0';
    wchar_t* text = textBuffer.As<wchar_t>();
    if (MultiByteToWideChar(CP_ACP, 0, bytes.As<char>(), -1, text, size + 1) == 0) text[0] = L'\0';
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
    DWORD size = 0;
    if (!TextFileSize(file.Get(), &size)) return false;

    // A size below 2 with a mark read anyway (a device file that reports 0) is not taken as UTF-16.
    const bool utf16 = ReadFirstTwoBytes(file.Get()) == UTF16_LE_MARK && size >= 2;
    const bool read = utf16 ? ReadUtf16Text(file.Get(), size, textBuffer) : ReadAnsiText(file.Get(), size, textBuffer);
    file.Close();
    if (!read) return false;

    if (!richEdit) return true;
    const wchar_t* text = textBuffer.As<wchar_t>();
    if (utf16 && SetTextThroughTextServices(richEdit, text)) return true;
    SetTextThroughAnsi(richEdit, text);
    return true;
}

HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner) {
    InfoWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_TEXT_INFO), owner, TextInfoDialogProc, 0);
    return InfoWindow;
}

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
