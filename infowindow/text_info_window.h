// The "Text info" window that shows the text of a file, and follows the speech through it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "infowindow/reading_along.h"
#include "infowindow/text_loading.h"

// Loads the Rich Edit library the window needs, then creates the hidden window from its dialog
// template, owned by the player's window. Without the library it reports it missing and creates no
// window; null then, and when the creation failed.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner);
// Destroys the window, if there is one, on its own thread. Reader threads are told to stop and waited
// for 100 ms at most; one that cannot stop so soon ends on its own later, touching nothing that is gone.
void DestroyTextInfoWindow();
// Frees the Rich Edit library, after the window is gone.
void UnloadRichEdit();
// The window, or null when it was not created.
HWND TextInfoWindowHandle();
// Frees the text last loaded, if any (on the window's thread).
void FreeTextBuffer();

// Every function below may be called from any thread. On the window's thread each works at once; from
// another it leaves its work to the window's thread and returns without waiting for it.

// Loads a file's text into the window and remembers its name (a name too long to keep is not kept).
// A file that cannot be read leaves the text shown. The start of the text shows at once; the rest of
// a long text follows in pieces from the window's message loop, and a long file is read on a thread of
// its own, so the caller (Play) never waits for it. A new load cancels the one before. Without the
// window only the name is kept.
void LoadInfoText(const char* file);
// The name LoadInfoText remembered last; empty at start.
const char* LoadedInfoFileName();

// Host callback: shows the window with the text of file, reloading only for another name. Returns 0.
int __cdecl InfoBox(char* file, HWND parent);

// Reading along. Play asks for the voice's boundaries before it speaks a file and follows its stream
// once Speak has handed the number out; the window then selects the sentence the output is playing
// (or the word, from a voice that reports no sentences), until Stop, another text, or the reader's own
// click, selection or scrolling. The output's clock (the milliseconds it has played) is handed in.
// Without a player's window (a host that gave none) nothing is followed and no boundary is kept.
// A voice given the text from a place on (Read from here, a remembered place) reports positions in
// what it was given: textShift is how much further they lie in the window's text.
using OutputClock = int(__cdecl*)();
void ExpectSpeechBoundaries();
void FollowSpeech(ULONG stream, DWORD bytesPerSecond, OutputClock clock, int64_t textShift = 0);
void StopFollowingSpeech();
// From the speech event thread: a boundary the voice has reached. Only queued (the oldest go past a
// bound); the window takes it on its own thread and never calls the engine.
void QueueSpokenBoundary(const SpokenBoundary& boundary);

// Where the sentence heard last of the file being followed starts in the window's text (kept through
// Stop, until the next file is followed); false when none was heard. Any thread.
bool HeardTextPosition(uint32_t* position);

// The text's context menu: "Read from here", "Read from the beginning" and "Continue where I stopped"
// (PluginSettings.ResumeFiles). Playback says which file plays and speaks a text in its place.
struct ReadingActions {
    // Whether `file` is being played (or is paused), and whether it is spoken as speech markup.
    bool (*isPlaying)(const char* file, bool* markup);
    // Speaks `speech` instead of what the playing file has left; positions in it lie textShift
    // further in the window's text. False when nothing could be spoken.
    bool (*speakFrom)(const std::wstring& speech, int64_t textShift);
};
void SetReadingActions(const ReadingActions& actions);

// Reads a text file (ReadInfoText) and shows the whole of it in the Rich Edit control at once, with the
// note of what was cut for showing: UTF-16 little-endian after a byte-order mark FF FE, otherwise ANSI
// text. False when the file could not be opened, sized or held in memory; the control then keeps its
// text. (The window gives long texts in pieces instead.)
bool LoadTextFile(HWND richEdit, const char* fileName, InfoText* text);

// Where the two controls go, in client pixels.
struct InfoWindowLayout {
    RECT closeButton;  // left, top, right, bottom
    RECT text;
};
// A margin of 3 pixels at every edge and between the text and the button, which keeps its size
// and sits in the bottom right corner of a client area of clientWidth x clientHeight.
InfoWindowLayout LayoutInfoWindow(int clientWidth, int clientHeight, SIZE closeButtonSize);
