#include "infowindow/text_info_window.h"

#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/error_report.h"
#include "base/plugin_settings.h"
#include "documents/played_document.h"
#include "infowindow/reading_start.h"
#include "infowindow/text_control.h"
#include "infowindow/text_decoding.h"
#include "resources/resource.h"

namespace {

// Which thread runs what:
//  - the window's thread (the one that called Init): the dialog procedure, and with it every change of
//    the controls, the fill, the follow timer and the reading of short files;
//  - any thread that calls in (Play, Stop and InfoBox come from the player's thread, or from any thread
//    of another host): on the window's thread a call works at once; from another it leaves its request
//    in the window's request slot (a newer one of a kind replaces the older) and wakes the window with
//    one post, and never sends to the window or waits for it;
//  - a file's reader: its watcher posts one WM_INFO_TEXT_READ at a time when more text is in.
// What is heard comes from playback, asked on each follow tick.

constexpr int MARGIN = 3;

// The text goes into the control in pieces: the first at once, the others from the window's message
// loop, as many as fit a step's budget, so the player's thread is never held for long.
constexpr size_t FIRST_PIECE_UNITS = 2048;
constexpr size_t PIECE_UNITS = 4096;
// A paragraph is shown in lines of about this many units (DisplayBreaks).
constexpr size_t DISPLAY_LINE_UNITS = 1024;
// Display breaks are looked for at most this far past what is in, so no step scans a whole book.
constexpr size_t SCAN_AHEAD_UNITS = size_t{1} << 20;
constexpr double FILL_BUDGET_MS = 15;
// Filling takes the next step at once, unless something waits for the player's thread; it leaves the
// player's timers and painting their turn at least this often.
constexpr double FILL_YIELD_MS = 200;
// Emptying a control costs far more than destroying it once it holds more than this: it is replaced.
constexpr long EMPTY_IN_PLACE_CHARACTERS = 4096;
// At Quit, a control that holds more than this is left to the process's end (LeaveToProcessEnd): its
// destruction alone would take longer than Quit may.
constexpr long LEAVE_AT_QUIT_CHARACTERS = 65536;
// How often the window asks playback what is heard.
constexpr UINT FOLLOW_TICK_MS = 40;

constexpr UINT WM_INFO_TEXT_READ = WM_APP + 1;  // more of the text coming in: wParam its load's ticket
constexpr UINT WM_INFO_FILL = WM_APP + 2;       // the next fill step, when nothing else waits
constexpr UINT WM_INFO_REQUESTS = WM_APP + 3;   // another thread left requests
constexpr UINT WM_INFO_RETIRE = WM_APP + 4;     // a replaced control to destroy
constexpr UINT WM_INFO_END = WM_APP + 5;        // Quit, on another thread, asks the window to end
// How long Quit on another thread waits for the window's thread to end the window.
constexpr DWORD WINDOW_END_WAIT_MS = 500;
enum InfoTimer : UINT_PTR { FILL_TIMER = 1, FOLLOW_TIMER = 2 };
// The items of the text's context menu.
enum ReadingCommand : UINT { READ_FROM_HERE = 1, READ_FROM_BEGINNING = 2, CONTINUE_WHERE_STOPPED = 3, SEEK_BY_SENTENCE = 4 };

// Where the window's text stands. NoText -> Filling (a text's first units, or all of an empty one,
// came in) -> WholeIn, or ReadFailed (the rest could not be read: a closing line says so). A text
// that fails before any of it came in leaves the window as it was.
enum class LoadState { NoText, Filling, WholeIn, ReadFailed };

// What other threads ask of the window, kept until its thread takes it.
struct Requests {
    enum class Follow { Keep, Start, Stop };
    bool load = false;
    std::string file;
    bool withText = false;            // the text comes along (playback reads it)
    std::shared_ptr<FileText> text;
    Follow follow = Follow::Keep;
    bool show = false;
    bool wakePosted = false;
};

// A text the window shows or is about to: watched while it is read, and let go of (its reader
// stopped, when the window opened it) when another takes its place.
struct WatchedText {
    std::shared_ptr<FileText> text;
    bool own = false;  // opened by the window (not playback's)
    int watch = 0;

    void Release() {
        if (text) {
            text->Unwatch(watch);
            if (own) text->Cancel();
        }
        text.reset();
        own = false;
    }
};

// The window's whole state, attached to the dialog; only the window's thread touches it, but for
// what `lock` guards.
struct TextInfoWindow {
    HWND dialog = nullptr;
    HWND closeButton = nullptr;
    HWND richEdit = nullptr;
    SIZE closeButtonSize = {0, 0};
    bool hasOwner = false;  // a player's window to follow the speech for
    DWORD thread = 0;

    // The text shown, and how much of it the control holds; the one coming in to replace it.
    LoadState state = LoadState::NoText;
    WatchedText shown;
    WatchedText incoming;
    WPARAM ticket = 0;  // of the text coming in, or shown
    std::shared_ptr<std::atomic<bool>> readPosted = std::make_shared<std::atomic<bool>>(false);
    size_t filledUnits = 0;
    std::vector<uint32_t> folded;  // the units the control folds into line ends (FindFoldedUnits)
    DisplayBreaks breaks{DISPLAY_LINE_UNITS};  // the blanks shown as line ends
    std::wstring closing;          // the closing line, once added
    bool piecesAsUtf16 = true;
    bool closingAdded = false;  // the note of what is not shown, or of what could not be read
    bool fillScheduled = false;
    double lastFillYield = 0;
    std::vector<HWND> retired;  // replaced controls, destroyed one a message

    // Reading along.
    bool following = false;
    bool selecting = false;  // until the reader's own move
    bool spanPending = false;
    TextSpan pendingSpan = {0, 0};  // in the text's positions
    bool spanShown = false;
    TextSpan shownSpan = {0, 0};

    // Shared with other threads.
    std::mutex lock;
    Requests requests;
};

ModuleLibrary RichEditLibrary;
TextInfoWindow* Window = nullptr;  // from Init to Quit, for the calls in
// The name the last load was for, kept with or without a window; any thread.
std::mutex NameLock;
char LoadedFileName[MAX_PATH] = "";
ReadingActions Actions = {nullptr, nullptr, nullptr, nullptr};  // set once at start-up
// Quit on another thread and the window's thread agree on who ends the window: the window's thread
// takes a posted end (Posted -> Taken -> Ended) unless Quit stopped waiting first (Posted -> LeftBehind).
enum WindowEnd : LONG { END_NONE, END_POSTED, END_TAKEN, END_ENDED, END_LEFT_BEHIND };
std::atomic<LONG> EndState{END_NONE};
HANDLE EndDone = nullptr;  // set once the window's thread has ended the window
// A window left behind keeps its Rich Edit controls: the library they run on stays loaded.
bool RichEditStillUsed = false;

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool OnWindowThread(const TextInfoWindow& w) { return GetCurrentThreadId() == w.thread; }

TextInfoWindow* WindowOf(HWND dialog) { return reinterpret_cast<TextInfoWindow*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

const char16_t* Units(const FileText& text) { return reinterpret_cast<const char16_t*>(text.Text()); }

// ---- Requests from other threads ----

// The one way in from another thread: the change is left in the request slot, and one wake-up post
// serves any number of requests; a post that fails leaves the next request to try again.
template <typename Change>
void LeaveRequest(TextInfoWindow& w, Change change) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(w.lock);
        change(w.requests);
        wake = !w.requests.wakePosted;
        w.requests.wakePosted = true;
    }
    if (wake && !PostMessageA(w.dialog, WM_INFO_REQUESTS, 0, 0)) {
        std::lock_guard<std::mutex> guard(w.lock);
        w.requests.wakePosted = false;
    }
}

Requests TakeRequests(TextInfoWindow& w) {
    std::lock_guard<std::mutex> guard(w.lock);
    Requests taken = std::move(w.requests);
    w.requests = Requests();
    return taken;
}

// ---- Reading along ----

void EndFollowing(TextInfoWindow& w) {
    w.following = false;
    w.spanPending = false;
    KillTimer(w.dialog, FOLLOW_TIMER);
}

void StartFollowing(TextInfoWindow& w) {
    if (!w.hasOwner) return;
    w.following = true;
    w.selecting = true;
    w.spanPending = false;
    w.spanShown = false;
    SetTimer(w.dialog, FOLLOW_TIMER, FOLLOW_TICK_MS, nullptr);
}

// The reader clicked, selected or scrolled: the window is theirs until the next file plays. The
// subclassed control finds its window's state through the dialog that holds it.
void OnReaderMoved(HWND control) {
    TextInfoWindow* w = WindowOf(GetParent(control));
    if (w) w->selecting = false;
}

// A copy from the window gives the file's own text: the blanks shown as line ends are blanks again,
// and each line end is as the file has it. The closing line, which is not the file's, follows as
// shown. With no display breaks the control copies on its own.
bool OnCopy(HWND control) {
    TextInfoWindow* w = WindowOf(GetParent(control));
    if (!w || control != w->richEdit || !w->shown.text || w->breaks.Empty()) return false;
    CHARRANGE selection = {0, 0};
    SendMessageA(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (selection.cpMax <= selection.cpMin) return true;
    const uint32_t filledEnd = ControlPosition(w->folded, static_cast<uint32_t>(w->filledUnits));
    const auto textPosition = [&](long at) {
        return static_cast<uint32_t>(at) >= filledEnd ? w->filledUnits : TextPositionOf(w->folded, static_cast<uint32_t>(at));
    };
    const size_t from = textPosition(selection.cpMin), to = textPosition(selection.cpMax);
    std::wstring copied(w->shown.text->Text() + from, to - from);
    const size_t closingFrom = std::max<long>(selection.cpMin, static_cast<long>(filledEnd)) - filledEnd;
    const size_t closingTo = std::max<long>(selection.cpMax, static_cast<long>(filledEnd)) - filledEnd;
    if (closingFrom < w->closing.size()) copied += w->closing.substr(closingFrom, closingTo - closingFrom);
    CopyToClipboard(w->dialog, copied);
    return true;
}

TextControlCalls ControlCalls() { return {OnReaderMoved, OnCopy}; }

// The heard span, once the control holds it.
void ShowPendingSpan(TextInfoWindow& w) {
    if (!w.spanPending || !w.following || !w.selecting || w.state == LoadState::NoText) return;
    const TextSpan span = ControlSpan(w.folded, w.pendingSpan);
    if (span.position + span.length > ControlPosition(w.folded, static_cast<uint32_t>(w.filledUnits))) return;
    SelectAndShow(w.richEdit, span.position, span.length);
    w.spanPending = false;
    w.spanShown = true;
    w.shownSpan = w.pendingSpan;
}

bool ShowsPlayingText(const TextInfoWindow& w) {
    return w.shown.text && Actions.isPlaying && Actions.isPlaying(w.shown.text.get());
}

void OnFollowTick(TextInfoWindow& w) {
    TextSpan heard;
    if (!w.following || !Actions.heard || !ShowsPlayingText(w) || !Actions.heard(&heard)) return;
    const bool same = w.spanShown && heard.position == w.shownSpan.position && heard.length == w.shownSpan.length;
    if (same && !w.spanPending) return;
    w.pendingSpan = heard;
    w.spanPending = !same;
    ShowPendingSpan(w);
}

// ---- Filling ----

std::wstring HiddenTextNote(uint64_t hiddenUnits) {
    return L"\r\n\r\n[" + std::to_wstring(hiddenUnits) + L" more characters are not shown here.]";
}

// How far the control can be filled now: the part shown of a text read whole (or past what is shown),
// else up to its last line end that is known for good, so a paragraph goes in whole.
size_t FillableUnits(const TextInfoWindow& w) {
    const FileText& text = *w.shown.text;
    const bool done = text.Done();  // before the units: all of them are in once it is
    const size_t units = text.Units();
    const size_t shown = ShownUnitsOf(Units(text), units, MAX_SHOWN_TEXT_UNITS);
    if (done || shown < units) return shown;
    return KnownLinesEnd(Units(text), w.filledUnits, units);
}

// The line that closes a text: what is not shown of a long one, or that the rest could not be read.
// Due once the text's read has ended and all of what is shown is in.
std::wstring ClosingLine(const TextInfoWindow& w) {
    if (w.state == LoadState::ReadFailed) return L"\r\n\r\n[The rest of the text could not be read.]";
    const FileText& text = *w.shown.text;
    const size_t units = text.Units();
    const size_t shown = ShownUnitsOf(Units(text), units, MAX_SHOWN_TEXT_UNITS);
    return shown < units ? HiddenTextNote(units - shown) : L"";
}

bool ReadEnded(const TextInfoWindow& w) { return w.shown.text && w.shown.text->Done(); }

bool ClosingLineDue(const TextInfoWindow& w) {
    return !w.closingAdded && ReadEnded(w) && w.filledUnits == FillableUnits(w);
}

// Destroying a control that held a long text takes a while (about 50 ms a million characters): one a
// message, right after the new text's first piece is in.
void RetireControl(TextInfoWindow& w, HWND control) {
    w.retired.push_back(control);
    PostMessageA(w.dialog, WM_INFO_RETIRE, 0, 0);
}

void OnRetire(TextInfoWindow& w) {
    if (w.retired.empty()) return;
    DestroyWindow(w.retired.back());
    w.retired.pop_back();
}

// The one fill scheduler. The next step comes at once while no input or message waits for the
// player's thread, else on the timer, which comes after them; and on the timer at least every
// FILL_YIELD_MS, after the player's own timers and painting.
void ScheduleFill(TextInfoWindow& w) {
    if (w.fillScheduled) return;
    w.fillScheduled = true;
    const bool waiting = HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_HOTKEY)) != 0;
    if (!waiting && NowMs() - w.lastFillYield < FILL_YIELD_MS && PostMessageA(w.dialog, WM_INFO_FILL, 0, 0)) return;
    w.lastFillYield = NowMs();
    SetTimer(w.dialog, FILL_TIMER, 0, nullptr);
}

// The units from filledUnits to `end` are in the control: the line ends among them are noted (the
// pieces never end inside one, so each is seen whole).
void NoteFilled(TextInfoWindow& w, size_t end) {
    const char16_t* text = Units(*w.shown.text);
    for (uint32_t unit : FindFoldedUnits(text + w.filledUnits, end - w.filledUnits))
        w.folded.push_back(static_cast<uint32_t>(w.filledUnits + unit));
    w.filledUnits = end;
}

// Pieces of the text, as many as fit the step's budget. A paragraph longer than a piece goes in whole
// and alone in its step (NextPieceEnd): the control lays it out again on every change, at about 2 ms
// a KB of the paragraph under Wine, so nothing else should add to that step. Returns whether the step
// gave such a paragraph.
bool AppendPieces(TextInfoWindow& w, PieceAppender& appender, size_t fillable) {
    const double start = NowMs();
    const char16_t* text = Units(*w.shown.text);
    const size_t reach = fillable - w.filledUnits <= SCAN_AHEAD_UNITS
                             ? fillable
                             : NextSliceEnd(text, w.filledUnits, fillable, SCAN_AHEAD_UNITS);
    w.breaks.Scan(text, reach);
    bool appended = false;
    double pieceMs = 0;  // the last piece's: the next is not begun when it would not fit the budget
    while (w.filledUnits < reach && NowMs() - start + pieceMs < FILL_BUDGET_MS) {
        const double pieceStart = NowMs();
        const size_t end = NextPieceEnd(text, w.filledUnits, reach, PIECE_UNITS, w.breaks);
        const bool longParagraph = end - w.filledUnits > PIECE_UNITS;
        if (longParagraph && appended) return false;
        const std::wstring piece = w.breaks.Shown(w.shown.text->Text() + w.filledUnits, w.filledUnits, end - w.filledUnits);
        appender.Append(piece.c_str(), piece.size());
        NoteFilled(w, end);
        pieceMs = NowMs() - pieceStart;
        appended = true;
        if (longParagraph) return true;
    }
    return false;
}

// The closing line changes the text's last paragraph: after a long one it waits for the next step.
void AddClosingLine(TextInfoWindow& w, PieceAppender& appender, bool afterLongParagraph) {
    const std::wstring closing = ClosingLine(w);
    if (!closing.empty() && afterLongParagraph) return;
    if (!closing.empty()) appender.Append(closing.c_str(), closing.size());
    w.closing = closing;
    w.closingAdded = true;
}

// The one fill step: the next pieces of the text, within the step's budget; then, once the text is
// read and in, its closing line.
void RunFillStep(TextInfoWindow& w) {
    w.fillScheduled = false;
    KillTimer(w.dialog, FILL_TIMER);
    if (w.state != LoadState::Filling && w.state != LoadState::ReadFailed) return;
    if (w.closingAdded) return;
    const size_t fillable = FillableUnits(w);
    bool longParagraph = false;
    {
        PieceAppender appender(w.richEdit, w.piecesAsUtf16);
        longParagraph = AppendPieces(w, appender, fillable);
        if (ClosingLineDue(w)) AddClosingLine(w, appender, longParagraph);
    }
    ShowPendingSpan(w);
    if (w.closingAdded) {
        if (w.state == LoadState::Filling) w.state = LoadState::WholeIn;
    } else if (w.filledUnits < FillableUnits(w) || ClosingLineDue(w)) {
        ScheduleFill(w);
    }
}

// A control that holds a long text is replaced by an empty one; a short one is simply overwritten.
void MakeRoomForNewText(TextInfoWindow& w) {
    if (ControlLength(w.richEdit) <= EMPTY_IN_PLACE_CHARACTERS) return;
    HWND fresh = ReplaceTextControl(w.richEdit, ControlCalls());
    if (!fresh) return;
    RetireControl(w, w.richEdit);
    w.richEdit = fresh;
}

// The text coming in takes the control's place, from its top, with its first piece.
void AdoptIncoming(TextInfoWindow& w) {
    MakeRoomForNewText(w);
    w.shown.Release();
    w.shown = std::move(w.incoming);
    w.incoming = WatchedText();
    const FileText& text = *w.shown.text;
    w.state = LoadState::Filling;
    w.closingAdded = false;
    w.filledUnits = 0;
    w.folded.clear();
    w.breaks = DisplayBreaks(DISPLAY_LINE_UNITS);
    w.closing.clear();
    w.spanShown = false;
    w.selecting = true;
    const size_t fillable = FillableUnits(w);
    w.breaks.Scan(Units(text), fillable);
    const size_t first = NextSliceEnd(Units(text), 0, fillable, FIRST_PIECE_UNITS);
    const std::wstring piece = w.breaks.Shown(text.Text(), 0, first);
    // Bytes without a mark whose encoding is not known yet may still turn out to be UTF-8.
    w.piecesAsUtf16 = SetFirstPiece(w.richEdit, piece.c_str(), first, text.Utf16() || !text.EncodingKnown());
    NoteFilled(w, first);
    ScheduleFill(w);
}

// ---- Loading ----

void LoadTextFile(TextInfoWindow& w, const std::string& file, std::shared_ptr<FileText> text, bool withText);

// More of the text coming in, or of the one shown, was read. The text coming in takes the window once
// any of it is in; one that fails before that leaves the window as it was.
void OnTextRead(TextInfoWindow& w, WPARAM ticket) {
    if (ticket != w.ticket) return;  // an earlier load's
    w.readPosted->store(false);
    if (w.incoming.text) {
        const FileText& text = *w.incoming.text;
        const FileText::Progress progress = text.State();
        if (progress == FileText::Progress::Misread && w.incoming.own)
            return LoadTextFile(w, text.Path(), FileText::Open(text.Path().c_str(), true), true);
        if (text.Units() > 0 || progress == FileText::Progress::Whole)
            AdoptIncoming(w);
        else if (progress != FileText::Progress::Reading)
            w.incoming.Release();
        if (!w.shown.text || w.incoming.text) return;
    }
    if (!w.shown.text) return;
    if (w.shown.text->State() == FileText::Progress::Failed && w.state == LoadState::Filling)
        w.state = LoadState::ReadFailed;
    if (w.shown.text->State() == FileText::Progress::Misread && w.shown.own)
        return LoadTextFile(w, w.shown.text->Path(), FileText::Open(w.shown.text->Path().c_str(), true), true);
    ScheduleFill(w);
}

// The text is watched as it is read: one post at a time tells the window there is more.
void WatchIncoming(TextInfoWindow& w, std::shared_ptr<FileText> text, bool own) {
    w.incoming.Release();
    ++w.ticket;
    w.readPosted->store(false);
    w.incoming.text = std::move(text);
    w.incoming.own = own;
    const HWND dialog = w.dialog;
    const WPARAM ticket = w.ticket;
    const std::shared_ptr<std::atomic<bool>> posted = w.readPosted;
    w.incoming.watch = w.incoming.text->Watch([dialog, ticket, posted] {
        if (!posted->exchange(true)) PostMessageA(dialog, WM_INFO_TEXT_READ, ticket, 0);
    });
}

// The window shows `text` (playback's, when withText), or else the text of the file being played when
// it is that one, or else the file read here: a long one (or a pipe) on a thread of its own. A file
// that cannot be opened leaves the text shown.
void LoadTextFile(TextInfoWindow& w, const std::string& file, std::shared_ptr<FileText> text, bool withText) {
    bool own = false;
    if (!withText && Actions.playingText) text = Actions.playingText(file.c_str());
    if (!withText && !text) {
        text = OpenPlayedText(file.c_str());
        own = true;
        if (text && !text->ReadsQuickly()) {
            WatchIncoming(w, text, own);
            text->ReadOnThread();
            return;
        }
        if (text) text->ReadHere();
    }
    if (!text) return;
    if (text == w.shown.text && !w.incoming.text) return;  // shown already
    WatchIncoming(w, text, own);
    OnTextRead(w, w.ticket);
}

void ShowWindowNow(TextInfoWindow& w) {
    ShowWindow(w.dialog, SW_SHOW);
    SetForegroundWindow(w.dialog);
}

// Requests left by other threads: a load first, then the following, then showing the window.
void ApplyRequests(TextInfoWindow& w) {
    Requests taken = TakeRequests(w);
    if (taken.load) LoadTextFile(w, taken.file, std::move(taken.text), taken.withText);
    if (taken.follow == Requests::Follow::Start) StartFollowing(w);
    if (taken.follow == Requests::Follow::Stop) EndFollowing(w);
    if (taken.show) ShowWindowNow(w);
}

// ---- The text's context menu ----

// The text can be read from a place while it is the text of the file being played.
bool CanReadFromPlace(const TextInfoWindow& w) { return w.state != LoadState::NoText && ShowsPlayingText(w); }

HMENU MakeReadingMenu(bool canRead) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    const UINT readable = canRead ? MF_ENABLED : MF_GRAYED;
    AppendMenuA(menu, MF_STRING | readable, READ_FROM_HERE, "Read from here");
    AppendMenuA(menu, MF_STRING | readable, READ_FROM_BEGINNING, "Read from the beginning");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (PluginSettings.ResumeFiles ? MF_CHECKED : MF_UNCHECKED), CONTINUE_WHERE_STOPPED,
                "Continue where I stopped");
    AppendMenuA(menu, MF_STRING | (PluginSettings.Seekable ? MF_CHECKED : MF_UNCHECKED), SEEK_BY_SENTENCE,
                "Seek by sentence with the seek bar");
    return menu;
}

// Where the menu is about: the clicked character, or from the keyboard (no point) the caret, below
// which the menu then opens.
long MenuPosition(HWND control, LPARAM lParam, POINT* at) {
    if (lParam == -1) {
        CHARRANGE selection = {0, 0};
        SendMessageA(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        POINTL caret = {0, 0};
        SendMessageA(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&caret), selection.cpMin);
        *at = {caret.x, caret.y + GetSystemMetrics(SM_CYMENUSIZE)};
        ClientToScreen(control, at);
        return selection.cpMin;
    }
    *at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    POINTL client = {at->x, at->y};
    ScreenToClient(control, reinterpret_cast<POINT*>(&client));
    return static_cast<long>(SendMessageA(control, EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&client)));
}

// The click's place in the text, and the text it is in, are taken when the menu opens: a file that
// ends while the menu is open is not read from a place in the next one's text.
INT_PTR OnContextMenu(TextInfoWindow& w, HWND target, LPARAM lParam) {
    if (target != w.richEdit) return FALSE;
    POINT at;
    const long position = MenuPosition(w.richEdit, lParam, &at);
    const std::shared_ptr<FileText> text = w.shown.text;
    const uint32_t textPosition = TextPositionOf(w.folded, static_cast<uint32_t>(position > 0 ? position : 0));
    HMENU menu = MakeReadingMenu(CanReadFromPlace(w));
    if (!menu) return TRUE;
    const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, w.dialog, nullptr);
    DestroyMenu(menu);
    if (chosen == READ_FROM_HERE && position >= 0 && Actions.readFrom) Actions.readFrom(text.get(), textPosition);
    if (chosen == READ_FROM_BEGINNING && Actions.readFrom) Actions.readFrom(text.get(), 0);
    if (chosen == CONTINUE_WHERE_STOPPED) PluginSettings.ResumeFiles = !PluginSettings.ResumeFiles;
    if (chosen == SEEK_BY_SENTENCE) PluginSettings.Seekable = !PluginSettings.Seekable;  // from the next Play
    return TRUE;
}

// ---- The dialog ----

void PlaceControls(TextInfoWindow& w, int clientWidth, int clientHeight) {
    InfoWindowLayout layout = LayoutInfoWindow(clientWidth, clientHeight, w.closeButtonSize);
    const RECT& button = layout.closeButton;
    const RECT& text = layout.text;
    MoveWindow(w.closeButton, button.left, button.top, button.right - button.left, button.bottom - button.top, TRUE);
    MoveWindow(w.richEdit, text.left, text.top, text.right - text.left, text.bottom - text.top, TRUE);
}

// FALSE: no control gets the focus now. Focusing one would activate the hidden window, which would
// then take the foreground from the player (or from a game that plays through the plug-in); the
// dialog focuses its first control when it is shown and activated.
INT_PTR OnInitDialog(HWND dialog, LPARAM parameter) {
    TextInfoWindow& w = *reinterpret_cast<TextInfoWindow*>(parameter);
    SetWindowLongPtrA(dialog, DWLP_USER, parameter);
    w.dialog = dialog;
    w.closeButton = GetDlgItem(dialog, IDCANCEL);
    w.richEdit = GetDlgItem(dialog, IDC_INFO_TEXT);
    PrepareTextControl(w.richEdit, ControlCalls());
    RECT button = {};
    GetClientRect(w.closeButton, &button);
    w.closeButtonSize = {button.right, button.bottom};
    RECT client = {};
    GetClientRect(dialog, &client);
    PlaceControls(w, client.right, client.bottom);
    return FALSE;
}

INT_PTR OnSize(TextInfoWindow& w, LPARAM lParam) {
    PlaceControls(w, LOWORD(lParam), HIWORD(lParam));
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

INT_PTR OnTimer(TextInfoWindow& w, WPARAM timer) {
    if (timer == FILL_TIMER) RunFillStep(w);
    if (timer == FOLLOW_TIMER) OnFollowTick(w);
    return TRUE;
}

void OnEndAsked(TextInfoWindow& w);  // Ending the window, below

// Our own messages, each with its one handler.
INT_PTR OnInfoMessage(TextInfoWindow& w, UINT message, WPARAM wParam) {
    switch (message) {
    case WM_INFO_TEXT_READ: OnTextRead(w, wParam); break;
    case WM_INFO_FILL: RunFillStep(w); break;
    case WM_INFO_REQUESTS: ApplyRequests(w); break;
    case WM_INFO_RETIRE: OnRetire(w); break;
    case WM_INFO_END: OnEndAsked(w); break;
    }
    return TRUE;
}

// Memory that runs out while the window fills or follows ends that step, never the player: nothing
// may unwind through the window system.
INT_PTR Guarded(INT_PTR (*handler)(TextInfoWindow&, UINT, WPARAM, LPARAM), TextInfoWindow& w, UINT message,
                WPARAM wParam, LPARAM lParam) {
    try {
        return handler(w, message, wParam, lParam);
    } catch (const std::bad_alloc&) {
        w.fillScheduled = false;
        return TRUE;
    }
}

INT_PTR HandleMessage(TextInfoWindow& w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE: return OnSize(w, lParam);
    case WM_COMMAND: return OnCommand(w.dialog, wParam);
    case WM_CONTEXTMENU: return OnContextMenu(w, reinterpret_cast<HWND>(wParam), lParam);
    case WM_SYSCOMMAND: return OnSysCommand(w.dialog, wParam);
    case WM_TIMER: return OnTimer(w, wParam);
    case WM_INFO_TEXT_READ:
    case WM_INFO_FILL:
    case WM_INFO_REQUESTS:
    case WM_INFO_RETIRE:
    case WM_INFO_END: return OnInfoMessage(w, message, wParam);
    default: return FALSE;
    }
}

INT_PTR CALLBACK TextInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(window, lParam);
    TextInfoWindow* w = WindowOf(window);
    if (!w) return FALSE;
    return Guarded(HandleMessage, *w, message, wParam, lParam);
}

// A name too long to keep is not kept at all: cut, it could equal another file's name, and InfoBox
// would then show this text for that file.
void RememberName(const char* file) {
    std::lock_guard<std::mutex> guard(NameLock);
    if (lstrlenA(file) < MAX_PATH)
        lstrcpyA(LoadedFileName, file);
    else
        LoadedFileName[0] = '\0';
}

bool IsLoadedName(const char* file) {
    std::lock_guard<std::mutex> guard(NameLock);
    return lstrcmpiA(file, LoadedFileName) == 0;
}

void RequestLoad(const char* file, std::shared_ptr<FileText> text, bool withText) {
    if (!file) file = "";
    RememberName(file);
    if (!Window) return;
    TextInfoWindow& w = *Window;
    if (!OnWindowThread(w)) {
        return LeaveRequest(w, [&](Requests& requests) {
            requests.load = true;
            requests.file = file;
            requests.text = std::move(text);
            requests.withText = withText;
        });
    }
    ApplyRequests(w);
    LoadTextFile(w, file, std::move(text), withText);
}

void RequestFollowing(Requests::Follow follow) {
    if (!Window) return;
    TextInfoWindow& w = *Window;
    if (!OnWindowThread(w)) return LeaveRequest(w, [follow](Requests& requests) { requests.follow = follow; });
    ApplyRequests(w);
    if (follow == Requests::Follow::Start) StartFollowing(w);
    if (follow == Requests::Follow::Stop) EndFollowing(w);
}

// ---- Ending the window ----

// On the window's thread: its texts let go of (their readers stop at their next chunk), controls and
// window destroyed, state freed.
void EndWindow(TextInfoWindow* w) {
    w->incoming.Release();
    w->shown.Release();
    SetWindowLongPtrA(w->dialog, DWLP_USER, 0);
    for (HWND control : w->retired) DestroyWindow(control);
    DestroyWindow(w->dialog);
    delete w;
}

void OnEndAsked(TextInfoWindow& w) {
    LONG posted = END_POSTED;
    if (!EndState.compare_exchange_strong(posted, END_TAKEN)) return;
    EndWindow(&w);
    EndState = END_ENDED;
    SetEvent(EndDone);
}

// From another thread, whose calls cannot destroy the window: nothing of this module runs for it any
// more (no dialog procedure, no watched control; its timers then reach only the system's dialog
// procedure), and its state is cut off. The state is freed only when the window is gone already (its
// thread ended): a thread may still be inside the procedure with it.
void LeaveWindowBehind(TextInfoWindow* w) {
    SetWindowLongPtrA(w->dialog, DWLP_USER, 0);
    SetWindowLongPtrA(w->dialog, DWLP_DLGPROC, 0);
    KillTimer(w->dialog, FOLLOW_TIMER);  // refused from another thread on Windows: harmless then
    KillTimer(w->dialog, FILL_TIMER);
    UnwatchTextControl(w->richEdit);
    for (HWND control : w->retired) UnwatchTextControl(control);
    w->incoming.Release();
    w->shown.Release();
    RichEditStillUsed = true;
    if (!IsWindow(w->dialog)) delete w;
}

// From another thread: the window's thread is asked to end the window, and given a short while.
void EndWindowFromAnotherThread(TextInfoWindow* w) {
    ScopedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EndDone = done.Get();
    EndState = END_POSTED;
    const bool posted = done.IsValid() && PostMessageA(w->dialog, WM_INFO_END, 0, 0);
    if (posted) WaitForSingleObject(done.Get(), WINDOW_END_WAIT_MS);
    LONG waiting = END_POSTED;
    if (EndState.compare_exchange_strong(waiting, END_LEFT_BEHIND)) return LeaveWindowBehind(w);
    while (EndState != END_ENDED) WaitForSingleObject(done.Get(), INFINITE);  // ended now, or being ended
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

// The library must be loaded before a dialog holding a "RichEdit20A" control is created.
HWND CreateTextInfoWindow(HINSTANCE instance, HWND owner) {
    if (!RichEditLibrary.Load("riched20.dll")) {
        ShowErrorBox(TEXT_RICH_EDIT_MISSING);
        return nullptr;
    }
    std::unique_ptr<TextInfoWindow> w(new TextInfoWindow);
    w->hasOwner = owner != nullptr;
    w->thread = GetCurrentThreadId();
    if (!CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_TEXT_INFO), owner, TextInfoDialogProc,
                            reinterpret_cast<LPARAM>(w.get())))
        return nullptr;
    Window = w.release();
    return Window->dialog;
}

namespace {

// The controls too long to destroy in Quit's time are taken out of the dialog before it goes.
void LeaveLongTextsBehind(TextInfoWindow& w) {
    std::vector<HWND> controls = w.retired;
    controls.push_back(w.richEdit);
    for (HWND control : controls) {
        if (ControlLength(control) > LEAVE_AT_QUIT_CHARACTERS && LeaveToProcessEnd(control))
            w.retired.erase(std::remove(w.retired.begin(), w.retired.end(), control), w.retired.end());
    }
}

}  // namespace

void UnloadRichEdit() {
    if (!RichEditStillUsed) RichEditLibrary.Reset();
}

void DestroyTextInfoWindow() {
    if (!Window) return;
    TextInfoWindow* w = Window;
    Window = nullptr;
    if (OnWindowThread(*w)) {
        LeaveLongTextsBehind(*w);
        EndWindow(w);
    } else {
        EndWindowFromAnotherThread(w);
    }
}

void LoadInfoText(const char* file) { RequestLoad(file, nullptr, false); }

void ShowPlayingText(const char* file, std::shared_ptr<FileText> text) { RequestLoad(file, std::move(text), true); }

int __cdecl InfoBox(char* file, HWND) {
    if (!Window) return 0;
    if (file && !IsLoadedName(file)) LoadInfoText(file);
    TextInfoWindow& w = *Window;
    if (!OnWindowThread(w)) {
        LeaveRequest(w, [](Requests& requests) { requests.show = true; });
        return 0;
    }
    ApplyRequests(w);
    ShowWindowNow(w);
    return 0;
}

void FollowSpeech() { RequestFollowing(Requests::Follow::Start); }

void StopFollowingSpeech() { RequestFollowing(Requests::Follow::Stop); }

void SetReadingActions(const ReadingActions& actions) { Actions = actions; }
