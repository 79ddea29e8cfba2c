#include "infowindow/text_control.h"

#include <ole2.h>
#include <richedit.h>
#include <tom.h>
#include <textserv.h>

#include <cstring>
#include <string>

#include "base/scoped.h"
#include "infowindow/reading_along.h"

namespace {

// Neither interface id is in MinGW's uuid library.
const IID IID_InfoTextDocument = {0x8CC497C0, 0xA1DF, 0x11CE, {0x80, 0x98, 0x00, 0xAA, 0x00, 0x47, 0xBE, 0x5D}};
const IID IID_InfoTextServices = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

constexpr LPARAM NO_LENGTH_LIMIT = 0x7FFFFFFE;
const char READER_MOVED_PROPERTY[] = "in_txt.readerMoved";
const char COPY_PROPERTY[] = "in_txt.copy";

// Every Rich Edit control of the class shares its window procedure.
WNDPROC RichEditProc = nullptr;

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
std::string ToAnsi(const wchar_t* text, size_t units) {
    std::string bytes(units * 2 + 1, '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), &bytes[0],
                                            static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(written > 0 ? written : 0);
    return bytes;
}

// Clicks, keys that move the caret or the view, the wheel and the scroll bars: the reader is
// reading on their own.
bool ReaderMoves(UINT message, WPARAM wParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_NCLBUTTONDOWN:
        return true;
    case WM_KEYDOWN:
        return wParam == VK_UP || wParam == VK_DOWN || wParam == VK_LEFT || wParam == VK_RIGHT ||
               wParam == VK_PRIOR || wParam == VK_NEXT || wParam == VK_HOME || wParam == VK_END;
    }
    return false;
}

// WM_COPY, and the keys with which the control copies on its own (Ctrl+C, Ctrl+Insert).
bool Copies(UINT message, WPARAM wParam) {
    if (message == WM_COPY) return true;
    return message == WM_KEYDOWN && (wParam == 'C' || wParam == VK_INSERT) && GetKeyState(VK_CONTROL) < 0;
}

LRESULT CALLBACK WatchedRichEditProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (ReaderMoves(message, wParam)) {
        auto onReaderMoved = reinterpret_cast<void (*)(HWND)>(GetPropA(control, READER_MOVED_PROPERTY));
        if (onReaderMoved) onReaderMoved(control);
    }
    if (Copies(message, wParam)) {
        auto onCopy = reinterpret_cast<bool (*)(HWND)>(GetPropA(control, COPY_PROPERTY));
        if (onCopy && onCopy(control)) return 0;
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(control, READER_MOVED_PROPERTY);
        RemovePropA(control, COPY_PROPERTY);
    }
    return CallWindowProcA(RichEditProc, control, message, wParam, lParam);
}

// A CR or an LF ends a paragraph in the control, alone or in a line end of two or three units.
bool EndsParagraph(char16_t unit) { return unit == u'\r' || unit == u'\n'; }

// Where the paragraph that holds `at` starts, or `from` if it starts earlier.
size_t ParagraphStart(const char16_t* text, size_t from, size_t at) {
    while (at > from && !EndsParagraph(text[at - 1])) --at;
    return at;
}

// Past the line end that closes the paragraph that holds `at`, or the text's end.
size_t ParagraphEnd(const char16_t* text, size_t at, size_t units) {
    while (at < units && !EndsParagraph(text[at])) ++at;
    return at < units ? at + LineEndUnits(text, at, units) : units;
}

}  // namespace

// A long paragraph that starts inside the piece waits for the next one, which then holds all of it.
// A display break ends a paragraph as a line end does; a piece ends after one in its second half.
size_t NextPieceEnd(const char16_t* text, size_t start, size_t units, size_t pieceUnits, const DisplayBreaks& breaks) {
    const size_t end = NextSliceEnd(text, start, units, pieceUnits);
    if (end == units || EndsParagraph(text[end - 1]) || breaks.At(end - 1)) return end;
    const size_t lastBreak = breaks.LastBefore(end - 1);
    const bool breakInPiece = lastBreak != DisplayBreaks::NONE && lastBreak >= start;
    if (breakInPiece && lastBreak + 1 > start + pieceUnits / 2) return lastBreak + 1;
    const size_t paragraphStart = ParagraphStart(text, breakInPiece ? lastBreak + 1 : start, end);
    const size_t nextBreak = breaks.FirstFrom(end);
    const size_t paragraphEnd = nextBreak < units && ParagraphEnd(text, end, nextBreak) == nextBreak
                                    ? nextBreak + 1
                                    : ParagraphEnd(text, end, units);
    if (paragraphEnd - paragraphStart <= pieceUnits) return end;
    return paragraphStart > start ? paragraphStart : paragraphEnd;
}

bool SetFirstPiece(HWND control, const wchar_t* text, size_t units, bool utf16) {
    const std::wstring piece(text, units);
    if (utf16 && SetTextThroughTextServices(control, piece.c_str())) return true;
    SetWindowTextA(control, ToAnsi(piece.c_str(), units).c_str());
    return false;
}

// The control draws nothing while pieces go in: a visible control that scrolled to each piece it took
// would fill five times slower.
PieceAppender::PieceAppender(HWND control, bool asUtf16) : control_(control), asUtf16_(asUtf16) {
    SendMessageA(control_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(control_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection_));
    SendMessageA(control_, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll_));
    const long end = ControlLength(control_);
    SendMessageA(control_, EM_SETSEL, end, end);
}

PieceAppender::~PieceAppender() {
    SendMessageA(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection_));
    SendMessageA(control_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll_));
    SendMessageA(control_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(control_, nullptr, TRUE);
}

void PieceAppender::Append(const wchar_t* text, size_t units) {
    if (asUtf16_) {
        const std::wstring piece(text, units);
        SETTEXTEX replace = {ST_SELECTION, 1200};
        SendMessageA(control_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&replace), reinterpret_cast<LPARAM>(piece.c_str()));
    } else {
        SendMessageA(control_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(ToAnsi(text, units).c_str()));
    }
}

long ControlLength(HWND control) {
    GETTEXTLENGTHEX length = {GTL_NUMCHARS, 1200};
    return static_cast<long>(SendMessageA(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
}

// A span out of view is scrolled to a quarter of the way down, with what came before it above: the
// reader sees the sentence and where it came from, and the next ones below.
void SelectAndShow(HWND control, long position, long length) {
    CHARRANGE span = {position, position + length};
    SendMessageA(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&span));
    RECT view;
    SendMessageA(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&view));
    POINTL start = {0, 0}, end = {0, 0};
    SendMessageA(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&start), position);
    SendMessageA(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&end), position + length);
    const long height = view.bottom - view.top;
    if (start.y >= view.top && end.y < view.bottom - height / 8) return;
    POINT scroll = {0, 0};
    SendMessageA(control, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    scroll.y += start.y - view.top - height / 4;
    if (scroll.y < 0) scroll.y = 0;
    SendMessageA(control, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
}

void PrepareTextControl(HWND control, const TextControlCalls& calls) {
    SendMessageA(control, EM_SETUNDOLIMIT, 0, 0);  // undo would copy every piece given
    SendMessageA(control, EM_EXLIMITTEXT, 0, NO_LENGTH_LIMIT);
    SetPropA(control, READER_MOVED_PROPERTY, reinterpret_cast<HANDLE>(calls.readerMoved));
    SetPropA(control, COPY_PROPERTY, reinterpret_cast<HANDLE>(calls.copy));
    WNDPROC previous =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedRichEditProc)));
    if (previous != WatchedRichEditProc) RichEditProc = previous;
}

void UnwatchTextControl(HWND control) {
    if (!RichEditProc || GetWindowLongPtrA(control, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(WatchedRichEditProc))
        return;
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RichEditProc));
    RemovePropA(control, READER_MOVED_PROPERTY);
}

HWND ReplaceTextControl(HWND old, const TextControlCalls& calls) {
    HWND parent = GetParent(old);
    char className[64] = {};
    GetClassNameA(old, className, sizeof className);
    RECT place;
    GetWindowRect(old, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    const int id = GetDlgCtrlID(old);
    HWND control = CreateWindowExA(GetWindowLongA(old, GWL_EXSTYLE), className, "", GetWindowLongA(old, GWL_STYLE),
                                   place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(old, GWLP_HINSTANCE)), nullptr);
    if (!control) return nullptr;
    SendMessageA(control, WM_SETFONT, SendMessageA(old, WM_GETFONT, 0, 0), FALSE);
    PrepareTextControl(control, calls);
    const bool hadFocus = GetFocus() == old;
    SetWindowLongPtrA(old, GWLP_ID, 0);
    ShowWindow(old, SW_HIDE);
    SetWindowPos(control, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(old, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (hadFocus) SetFocus(control);
    return control;
}

bool CopyToClipboard(HWND owner, const std::wstring& text) {
    ScopedGlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    if (!block) return false;
    void* bytes = GlobalLock(block.Get());
    if (!bytes) return false;
    memcpy(bytes, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block.Get());
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block.Get())) block.Detach();
    CloseClipboard();
    return !block;
}

// The control goes on without anything of this library: its own procedure back, out of the dialog
// (a message-only window holds it), and the Rich Edit library loaded until the process ends.
bool LeaveToProcessEnd(HWND control) {
    HMODULE library = nullptr;
    if (!RichEditProc || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "riched20.dll", &library)) return false;
    ShowWindow(control, SW_HIDE);
    if (!SetParent(control, HWND_MESSAGE)) return false;
    RemovePropA(control, READER_MOVED_PROPERTY);
    RemovePropA(control, COPY_PROPERTY);
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RichEditProc));
    return true;
}
