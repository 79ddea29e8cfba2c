// The Text info window's Rich Edit control: giving it a text in pieces without moving what the
// reader sees, selecting a span, replacing the control, and noticing the reader's own moves.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <cstddef>
#include <string>

#include "infowindow/reading_along.h"

// Where the piece of a text that starts at `start` ends. The control lays a paragraph out whole on
// every change to it, so a paragraph longer than pieceUnits goes in whole, as a piece of its own: cut
// into pieces, it would be laid out again for each (a megabyte on one line: minutes instead of two
// seconds). Other pieces end where NextSliceEnd cuts them, or after a display break. `breaks` must
// have been scanned up to `units`.
size_t NextPieceEnd(const char16_t* text, size_t start, size_t units, size_t pieceUnits,
                    const DisplayBreaks& breaks = DisplayBreaks(DisplayBreaks::NONE));

// Makes a text of `units` code units the control's whole text: UTF-16 text through the control's text
// services, so it never passes the ANSI code page, anything else (or when that route fails) through
// the ANSI code page. Returns whether the text went in as UTF-16, which is how the rest of the same
// text must follow (AppendPieces).
bool SetFirstPiece(HWND control, const wchar_t* text, size_t units, bool utf16);

// Adds pieces of text at the control's end, as UTF-16 or through the ANSI code page, while it lives;
// the selection and the scroll position are back as they were when it goes.
class PieceAppender {
public:
    PieceAppender(HWND control, bool asUtf16);
    ~PieceAppender();
    PieceAppender(const PieceAppender&) = delete;
    PieceAppender& operator=(const PieceAppender&) = delete;
    void Append(const wchar_t* text, size_t units);

private:
    HWND control_;
    bool asUtf16_;
    CHARRANGE selection_;
    POINT scroll_;
};

// Characters the control holds, each line break one.
long ControlLength(HWND control);

// Selects the span and scrolls it into view.
void SelectAndShow(HWND control, long position, long length);

// What a control reports, with itself: the reader's own moves (clicks, selections with the keyboard,
// scrolling), and a copy (WM_COPY, Ctrl+C, Ctrl+Insert), which the control makes itself unless `copy`
// returns true.
struct TextControlCalls {
    void (*readerMoved)(HWND control);
    bool (*copy)(HWND control);
};

// Prepares a new control for long texts: no undo, no length limit, and its reports.
void PrepareTextControl(HWND control, const TextControlCalls& calls);

// Puts `text` on the clipboard as UTF-16 text. False when the clipboard could not take it.
bool CopyToClipboard(HWND owner, const std::wstring& text);

// Gives the control back its own procedure (from any thread of the process): nothing of this module
// runs for it any more.
void UnwatchTextControl(HWND control);

// A new control made like `old` (class, styles, place, font, id, order among its siblings), prepared
// the same way; `old` loses its id and is hidden, for the caller to destroy. Null when it cannot be
// made.
HWND ReplaceTextControl(HWND old, const TextControlCalls& calls);

// Destroying a control costs about 50 to 120 ms a million characters under Wine: when the player
// quits, one that holds a long text is left to the end of the process instead. False when it could
// not be taken out of its dialog (the caller destroys it then).
bool LeaveToProcessEnd(HWND control);
