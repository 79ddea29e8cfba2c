// How failures are shown to the user: a message box titled "Text Speech Error" owned by the player's window.
#pragma once

#include <windows.h>

// Call sites of engine calls whose failure is reported with its HRESULT. The numbers are shown to
// users ("line 648") and the README tells what each means: never renumber them.
enum ErrorSite {
    SITE_CREATE_TRANSLATOR = 400,
    SITE_INIT_WIN32_EVENT = 402,
    SITE_SET_NOTIFY_SINK = 404,
    SITE_SET_INTEREST = 407,
    SITE_ENUM_VOICES = 592,
    SITE_NEXT_VOICE = 600,
    SITE_VOICE_ID = 605,
    SITE_SET_VOICE = 613,
    SITE_SET_RATE = 620,
    SITE_SPEAK = 648,
    SITE_RESUME = 650,
    SITE_PURGE = 677,
    SITE_WAIT_UNTIL_DONE = 679,
};

extern const char TEXT_RICH_EDIT_MISSING[];
extern const char TEXT_ENGINE_MISSING[];
extern const char TEXT_OUTPUT_DEVICE[];
extern const char TEXT_FORMAT_REJECTED[];

// Formats "Error result %08X, facility %d, code %d, line %d" into buffer (at least 64 bytes).
void FormatHResultMessage(char* buffer, HRESULT result, int site);

// Shows a failed HRESULT with its call site, after copying the message to the clipboard.
void ReportHResult(HRESULT result, ErrorSite site);

// Reports a failed call with its site and says whether the call succeeded, so a call site reads
//     if (!Succeeded(voice->SetRate(rate), SITE_SET_RATE)) return PLAY_FAILED;
bool Succeeded(HRESULT result, ErrorSite site);

// Shows one of the fixed texts; the clipboard is left alone.
void ShowErrorBox(const char* text);

// Puts text on the clipboard as CF_TEXT.
void CopyToClipboard(const char* text);
