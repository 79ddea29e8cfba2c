// Reading a file's text for the Text info window: decoded to UTF-16 and cut to what the window shows,
// on the calling thread or, for a long file, on a thread of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/scoped.h"

// A file's text as the window shows it.
struct InfoText {
    ScopedHeapBlock block;           // NUL-terminated UTF-16 (process heap): the part shown
    size_t units = 0;                // units in block, the terminator not counted
    uint64_t hiddenUnits = 0;        // units after MAX_SHOWN_TEXT_UNITS, not shown
    bool utf16 = false;              // the file began with the UTF-16LE mark
    bool whole = true;               // false: only the file's start was read
    std::vector<uint32_t> crLfPairs;  // where block's CR LF pairs stand (FindCrLfPairs)

    const wchar_t* Text() const { return block.As<wchar_t>(); }
};

// Reads and decodes the file, or its first atMostBytes: UTF-16LE after a mark FF FE, otherwise ANSI
// text up to its first 0 byte. The text handed out before is emptied first. False when the file
// cannot be opened, sized or held.
bool ReadInfoText(const char* fileName, InfoText* text, uint64_t atMostBytes = UINT64_MAX);

// How much of a long file is read first, to show its start at once: far more than the window's first
// piece of text, in any encoding.
constexpr uint64_t INFO_TEXT_START_BYTES = 64 * 1024;

// The size of the file in bytes; false when it cannot be opened or sized.
bool TextFileSize(const char* fileName, uint64_t* size);

// Reads a file with ReadInfoText on a thread of its own and posts `message` to `window` with `ticket`
// as wParam and, as lParam, a new InfoText (the receiver deletes it): first the file's start (not
// whole), then the whole text, or null when the file could not be read. When a post fails the text is
// dropped.
void StartReadingInfoText(const char* fileName, HWND window, UINT message, WPARAM ticket);
// Waits until every reading thread has ended (before the window and the library go).
void WaitForInfoTextReaders();
