// The "Text info" window that shows the text of a file, and follows the speech through it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/file_text.h"
#include "infowindow/reading_along.h"

// Loads the Rich Edit library the window needs, then creates the hidden window from its dialog
// template, owned by the player's window. Without the library it reports it missing and creates no
// window; null then, and when the creation failed.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner);
// Destroys the window, if there is one, on its own thread, and lets go of its texts (their readers
// stop at their next chunk).
void DestroyTextInfoWindow();
// Frees the Rich Edit library, after the window is gone.
void UnloadRichEdit();

// Every function below may be called from any thread. On the window's thread each works at once; from
// another it leaves its work to the window's thread (one request of each kind, the newest) and returns
// without waiting for it.

// Loads a file's text into the window and remembers its name (a name too long to keep is not kept).
// A file that cannot be read leaves the text shown. The text shows as it is read: its start at once,
// the rest in pieces from the window's message loop; a long file is read on a thread of its own.
// Without the window only the name is kept.
void LoadInfoText(const char* file);
// The same for the file Play starts, whose text playback reads (null: it cannot be read).
void ShowPlayingText(const char* file, std::shared_ptr<FileText> text);

// Host callback: shows the window with the text of file, reloading only for another name. Returns 0.
int __cdecl InfoBox(char* file, HWND parent);

// Reading along: while the window shows the text being spoken, it selects the span playback reports
// heard (ReadingActions::heard), until Stop, another text, or the reader's own click, selection or
// scrolling. Without a player's window (a host that gave none) nothing is followed.
void FollowSpeech();
void StopFollowingSpeech();

// What the window asks of playback, set once at start-up.
struct ReadingActions {
    // Whether `text` is the text of the file being played (or paused).
    bool (*isPlaying)(const FileText* text);
    // Speaks `text` from the start of the sentence that holds `position`, instead of what is left,
    // when it is still the text being played.
    void (*readFrom)(const FileText* text, size_t position);
    // The span heard last, in the text's positions; false when none was heard.
    bool (*heard)(TextSpan* span);
    // The text of `file` when it is the file being played: the window shows that one.
    std::shared_ptr<FileText> (*playingText)(const char* file);
};
void SetReadingActions(const ReadingActions& actions);

// Where the two controls go, in client pixels.
struct InfoWindowLayout {
    RECT closeButton;  // left, top, right, bottom
    RECT text;
};
// A margin of 3 pixels at every edge and between the text and the button, which keeps its size
// and sits in the bottom right corner of a client area of clientWidth x clientHeight.
InfoWindowLayout LayoutInfoWindow(int clientWidth, int clientHeight, SIZE closeButtonSize);
