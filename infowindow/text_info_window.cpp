#include "infowindow/text_info_window.h"

#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/error_report.h"
#include "base/plugin_settings.h"
#include "infowindow/reading_start.h"
#include "infowindow/text_control.h"
#include "resources/resource.h"

namespace {

// Which thread runs what:
//  - the window's thread (the one that called Init): the dialog procedure, and with it every change of
//    the controls, the fill, the follow timer and the reading of short files;
//  - any thread that calls in (Play, Stop and InfoBox come from the player's thread, or from any thread
//    of another host): on the window's thread a call works at once; from another it leaves its request
//    in the window's request slot (a newer one of a kind replaces the older) and wakes the window with
//    one post, and never sends to the window or waits for it;
//  - the speech event thread: QueueSpokenBoundary, into a bounded queue the follow timer empties;
//  - a reader thread for each long file: reads and decodes it in chunks and hands its texts over in
//    its InfoTextReader, which the window takes when woken.

constexpr int MARGIN = 3;

// A file larger than this is read on a thread of its own, so Play never waits for it.
constexpr uint64_t READ_HERE_BYTES = 256u << 10;
// The text goes into the control in pieces: the first at once, the others from the window's message
// loop, as many as fit a step's budget, so the player's thread is never held for long.
constexpr size_t FIRST_PIECE_UNITS = 2048;
constexpr size_t PIECE_UNITS = 4096;
constexpr double FILL_BUDGET_MS = 15;
// Filling takes the next step at once, unless something waits for the player's thread; it leaves the
// player's timers and painting their turn at least this often.
constexpr double FILL_YIELD_MS = 200;
// Emptying a control costs far more than destroying it once it holds more than this: it is replaced.
constexpr long EMPTY_IN_PLACE_CHARACTERS = 4096;
// How often the window compares what the output has played with the voice's boundaries.
constexpr UINT FOLLOW_TICK_MS = 40;
// Boundaries kept for a window whose thread does not take them: the oldest go first.
constexpr size_t MAX_QUEUED_BOUNDARIES = 4096;
// How long Quit waits, in all, for reader threads to stop.
constexpr DWORD READERS_STOP_MS = 100;

constexpr UINT WM_INFO_TEXT_READ = WM_APP + 1;  // a reader brought a text: wParam its ticket
constexpr UINT WM_INFO_FILL = WM_APP + 2;       // the next fill step, when nothing else waits
constexpr UINT WM_INFO_REQUESTS = WM_APP + 3;   // another thread left requests
constexpr UINT WM_INFO_RETIRE = WM_APP + 4;     // a replaced control to destroy
constexpr UINT WM_INFO_END = WM_APP + 5;        // Quit, on another thread, asks the window to end
// How long Quit on another thread waits for the window's thread to end the window.
constexpr DWORD WINDOW_END_WAIT_MS = 500;
enum InfoTimer : UINT_PTR { FILL_TIMER = 1, FOLLOW_TIMER = 2 };
// The items of the text's context menu.
enum ReadingCommand : UINT { READ_FROM_HERE = 1, READ_FROM_BEGINNING = 2, CONTINUE_WHERE_STOPPED = 3 };

// Where the window's text stands. NoText -> Filling (a short file, or a long one's whole text that came
// before its start was shown) or StartShown (a long file's start); StartShown -> Filling (the whole
// text follows) or ReadFailed (the rest could not be read: a closing line says so); Filling ->
// WholeIn. A new load starts again from wherever the state is; a failed load before anything showed
// leaves the state and the text as they were.
enum class LoadState { NoText, StartShown, Filling, WholeIn, ReadFailed };

// What other threads ask of the window, kept until its thread takes it.
struct Requests {
    enum class Follow { Keep, Start, Stop };
    bool load = false;
    std::string file;
    Follow follow = Follow::Keep;
    ULONG stream = 0;
    DWORD bytesPerSecond = 0;
    OutputClock clock = nullptr;
    int64_t textShift = 0;
    bool show = false;
    bool wakePosted = false;
};

// The window's whole state, attached to the dialog; only the window's thread touches it, but for
// what `lock` guards and `boundariesWanted`.
struct TextInfoWindow {
    HWND dialog = nullptr;
    HWND closeButton = nullptr;
    HWND richEdit = nullptr;
    SIZE closeButtonSize = {0, 0};
    bool hasOwner = false;  // a player's window to follow the speech for
    DWORD thread = 0;

    // The text, and how much of it the control holds.
    LoadState state = LoadState::NoText;
    InfoText shown;
    size_t filledUnits = 0;
    bool piecesAsUtf16 = true;
    bool closingAdded = false;  // the note of what is not shown, or of what could not be read
    bool fillScheduled = false;
    double lastFillYield = 0;
    // The load under way (its ticket travels with the reader's posts), and every reader not yet ended.
    WPARAM ticket = 0;
    ReaderRef reader;
    std::vector<ReaderRef> readers;
    std::vector<HWND> retired;  // replaced controls, destroyed one a message

    // Reading along.
    SpeechFollower follower;
    OutputClock clock = nullptr;
    bool following = false;
    bool selecting = false;  // until the reader's own move: the heard span is still tracked after it
    int64_t textShift = 0;   // voice positions + textShift = the text's positions
    bool spanPending = false;
    TextSpan pendingSpan = {0, 0};  // in the text's positions

    // Shared with other threads.
    std::mutex lock;
    Requests requests;
    std::deque<SpokenBoundary> boundaries;
    std::atomic<bool> boundariesWanted{false};
};

ModuleLibrary RichEditLibrary;
TextInfoWindow* Window = nullptr;  // from Init to Quit
// The name the last load was for, kept with or without a window; any thread.
std::mutex NameLock;
char LoadedFileName[MAX_PATH] = "";
// The start of the sentence heard last, in the text's positions; -1 when none. Any thread.
std::atomic<int64_t> HeardPosition{-1};
ReadingActions Actions = {nullptr, nullptr};  // set once at start-up
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

// ---- Requests from other threads ----

// One wake-up post for any number of requests; a post that fails leaves the next request to try again.
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

std::deque<SpokenBoundary> TakeBoundaries(TextInfoWindow& w) {
    std::deque<SpokenBoundary> taken;
    std::lock_guard<std::mutex> guard(w.lock);
    taken.swap(w.boundaries);
    return taken;
}

void EndFollowing(TextInfoWindow& w) {
    w.following = false;
    w.spanPending = false;
    KillTimer(w.dialog, FOLLOW_TIMER);
}

void StartFollowing(TextInfoWindow& w, ULONG stream, DWORD bytesPerSecond, OutputClock clock, int64_t textShift) {
    w.follower.Start(stream, bytesPerSecond);
    w.clock = clock;
    w.textShift = textShift;
    w.following = true;
    w.selecting = true;
    w.spanPending = false;
    SetTimer(w.dialog, FOLLOW_TIMER, FOLLOW_TICK_MS, nullptr);
}

// The reader clicked, selected or scrolled: the window is theirs until the next file plays. What is
// heard is still tracked, for the place to continue from.
void OnReaderMoved() {
    if (Window) Window->selecting = false;
}

// The heard span, once the control holds it and no other text is on its way.
void ShowPendingSpan(TextInfoWindow& w) {
    if (!w.spanPending || !w.following || !w.selecting || w.reader) return;
    const TextSpan span = ControlSpan(w.shown.folded, w.pendingSpan);
    if (span.position + span.length > ControlPosition(w.shown.folded, static_cast<uint32_t>(w.filledUnits))) return;
    SelectAndShow(w.richEdit, span.position, span.length);
    w.spanPending = false;
}

void OnFollowTick(TextInfoWindow& w) {
    for (const SpokenBoundary& boundary : TakeBoundaries(w)) w.follower.Add(boundary);
    TextSpan heard;
    if (w.clock && w.follower.HeardAt(w.clock(), &heard)) {
        const int64_t position = heard.position + w.textShift;
        heard.position = position > 0 ? static_cast<uint32_t>(position) : 0;
        HeardPosition = heard.position;
        w.pendingSpan = heard;
        w.spanPending = true;
    }
    ShowPendingSpan(w);
}

// ---- Filling ----

std::wstring HiddenTextNote(uint64_t hiddenUnits) {
    return L"\r\n\r\n[" + std::to_wstring(hiddenUnits) + L" more characters are not shown here.]";
}

// The line that closes a text: what is not shown of a long one, or that the rest could not be read.
std::wstring ClosingLine(const TextInfoWindow& w) {
    if (w.state == LoadState::ReadFailed) return L"\r\n\r\n[The rest of the text could not be read.]";
    if (w.state == LoadState::Filling && w.shown.hiddenUnits > 0) return HiddenTextNote(w.shown.hiddenUnits);
    return L"";
}

void SetLoadState(TextInfoWindow& w, LoadState state) { w.state = state; }

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

bool TextToFill(const TextInfoWindow& w) {
    return w.state == LoadState::StartShown || w.state == LoadState::Filling || w.state == LoadState::ReadFailed;
}

// Pieces of the text, as many as fit the step's budget. A paragraph longer than a piece goes in whole
// and alone in its step (NextPieceEnd): the control lays it out again on every change, at about 2 ms
// a KB of the paragraph under Wine, so nothing else should add to that step. Returns whether the step
// gave such a paragraph.
bool AppendPieces(TextInfoWindow& w, PieceAppender& appender) {
    const double start = NowMs();
    const char16_t* text = reinterpret_cast<const char16_t*>(w.shown.Text());
    bool appended = false;
    while (w.filledUnits < w.shown.units && NowMs() - start < FILL_BUDGET_MS) {
        const size_t end = NextPieceEnd(text, w.filledUnits, w.shown.units, PIECE_UNITS);
        const bool longParagraph = end - w.filledUnits > PIECE_UNITS;
        if (longParagraph && appended) return false;
        appender.Append(w.shown.Text() + w.filledUnits, end - w.filledUnits);
        w.filledUnits = end;
        appended = true;
        if (longParagraph) return true;
    }
    return false;
}

// The closing line is due once the whole text is in; the start of a long file waits for the rest.
bool ClosingLineDue(const TextInfoWindow& w) {
    return w.filledUnits == w.shown.units && w.state != LoadState::StartShown && !w.closingAdded;
}

// The closing line changes the text's last paragraph: after a long one it waits for the next step.
void AddClosingLine(TextInfoWindow& w, PieceAppender& appender, bool afterLongParagraph) {
    const std::wstring closing = ClosingLine(w);
    if (!closing.empty() && afterLongParagraph) return;
    if (!closing.empty()) appender.Append(closing.c_str(), closing.size());
    w.closingAdded = true;
}

// The one fill step: the next pieces of the text, within the step's budget; then, once the text is
// in, its closing line. The start of a long file waits for the rest of it once in.
void RunFillStep(TextInfoWindow& w) {
    w.fillScheduled = false;
    KillTimer(w.dialog, FILL_TIMER);
    if (!TextToFill(w)) return;
    {
        PieceAppender appender(w.richEdit, w.piecesAsUtf16);
        const bool longParagraph = AppendPieces(w, appender);
        if (ClosingLineDue(w)) AddClosingLine(w, appender, longParagraph);
    }
    ShowPendingSpan(w);
    if (w.filledUnits < w.shown.units || ClosingLineDue(w))
        ScheduleFill(w);
    else if (w.state == LoadState::Filling)
        SetLoadState(w, LoadState::WholeIn);
}

// A control that holds a long text is replaced by an empty one; a short one is simply overwritten.
void MakeRoomForNewText(TextInfoWindow& w) {
    if (ControlLength(w.richEdit) <= EMPTY_IN_PLACE_CHARACTERS) return;
    HWND fresh = ReplaceTextControl(w.richEdit, OnReaderMoved);
    if (!fresh) return;
    RetireControl(w, w.richEdit);
    w.richEdit = fresh;
}

// A text takes the control's place, from its top.
void ShowNewText(TextInfoWindow& w, InfoText text, LoadState state) {
    MakeRoomForNewText(w);
    w.shown = std::move(text);
    w.closingAdded = false;
    SetLoadState(w, state);
    w.filledUnits = NextSliceEnd(reinterpret_cast<const char16_t*>(w.shown.Text()), 0, w.shown.units, FIRST_PIECE_UNITS);
    w.piecesAsUtf16 = SetFirstPiece(w.richEdit, w.shown.Text(), w.filledUnits, w.shown.utf16);
    ScheduleFill(w);
}

// ---- Loading ----

// Readers whose threads have ended are let go; the others stay until they end or Quit.
void ForgetEndedReaders(TextInfoWindow& w) {
    for (auto reader = w.readers.begin(); reader != w.readers.end();) {
        if (WaitForSingleObject((*reader)->Thread(), 0) == WAIT_OBJECT_0)
            reader = w.readers.erase(reader);
        else
            ++reader;
    }
}

void CancelLoad(TextInfoWindow& w) {
    ++w.ticket;
    if (w.reader) w.reader->Cancel();
    w.reader.Reset();
}

// The whole text of a long file goes on from its start when that is shown.
void OnWholeText(TextInfoWindow& w, InfoText text) {
    w.reader.Reset();
    if (w.state != LoadState::StartShown) return ShowNewText(w, std::move(text), LoadState::Filling);
    w.shown = std::move(text);
    SetLoadState(w, LoadState::Filling);
    ScheduleFill(w);
}

// A file that could not be read leaves the text shown; one whose start is shown gets a closing line.
void OnReadFailed(TextInfoWindow& w) {
    w.reader.Reset();
    if (w.state != LoadState::StartShown) return;
    SetLoadState(w, LoadState::ReadFailed);
    ScheduleFill(w);
}

void OnTextRead(TextInfoWindow& w, WPARAM ticket) {
    if (ticket != w.ticket || !w.reader) return;  // an earlier load's
    InfoText text;
    for (;;) {
        switch (w.reader->Take(&text)) {
        case InfoTextReader::Brought::Nothing: return ShowPendingSpan(w);
        case InfoTextReader::Brought::Start: ShowNewText(w, std::move(text), LoadState::StartShown); break;
        case InfoTextReader::Brought::Whole: OnWholeText(w, std::move(text)); return ShowPendingSpan(w);
        case InfoTextReader::Brought::Failed: OnReadFailed(w); return ShowPendingSpan(w);
        }
    }
}

// A long file, or one whose reads may wait (a pipe, a device), is read on a thread of its own.
void StartLoad(TextInfoWindow& w, const std::string& file) {
    EndFollowing(w);  // the text changes; Play follows the speech again once it speaks
    CancelLoad(w);
    ForgetEndedReaders(w);
    uint64_t size = 0;
    if (!TextFileSize(file.c_str(), &size)) return;  // the text shown stays
    if (size > READ_HERE_BYTES) {
        InfoTextReader* reader = InfoTextReader::Start(file.c_str(), w.dialog, WM_INFO_TEXT_READ, w.ticket);
        if (!reader) return;
        w.reader = ReaderRef(reader);
        reader->AddRef();
        w.readers.emplace_back(reader);
        return;
    }
    InfoText text;
    if (ReadShownText(file.c_str(), &text) == ReadEnd::Whole) ShowNewText(w, std::move(text), LoadState::Filling);
}

void ShowWindowNow(TextInfoWindow& w) {
    ShowWindow(w.dialog, SW_SHOW);
    SetForegroundWindow(w.dialog);
}

// Requests left by other threads, in the order that keeps their meaning: a load ends the following of
// the text before it, so a follow request that came after the load applies after it.
void ApplyRequests(TextInfoWindow& w) {
    Requests taken = TakeRequests(w);
    if (taken.load) StartLoad(w, taken.file);
    if (taken.follow == Requests::Follow::Start)
        StartFollowing(w, taken.stream, taken.bytesPerSecond, taken.clock, taken.textShift);
    if (taken.follow == Requests::Follow::Stop) EndFollowing(w);
    if (taken.show) ShowWindowNow(w);
}

// Stops every reader and waits for their threads READERS_STOP_MS in all; one blocked in a read ends on
// its own later, holding what it touches.
void StopReaders(TextInfoWindow& w) {
    CancelLoad(w);
    std::vector<HANDLE> threads;
    for (ReaderRef& reader : w.readers) {
        reader->Cancel();
        threads.push_back(reader->Thread());
    }
    const double deadline = NowMs() + READERS_STOP_MS;
    for (size_t at = 0; at < threads.size(); at += MAXIMUM_WAIT_OBJECTS) {
        const double left = deadline - NowMs();
        if (left <= 0) break;
        const DWORD count = static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, threads.size() - at));
        WaitForMultipleObjects(count, threads.data() + at, TRUE, static_cast<DWORD>(left));
    }
    w.readers.clear();
}

// ---- The text's context menu ----

// The text can be read from a place while it is whole (a long file's start alone is not) and its file
// is the one playing.
bool CanReadFromPlace(const TextInfoWindow& w, bool* markup) {
    if (!Actions.isPlaying || !w.shown.Text() || w.reader || w.state == LoadState::StartShown) return false;
    std::lock_guard<std::mutex> guard(NameLock);
    return Actions.isPlaying(LoadedFileName, markup);
}

// The voice goes on from the start of the sentence that holds the control's position; the window
// follows it from there.
void ReadFromPlace(TextInfoWindow& w, long controlPosition) {
    bool markup = false;
    if (!CanReadFromPlace(w, &markup) || controlPosition < 0) return;
    const uint32_t position = TextPositionOf(w.shown.folded, static_cast<uint32_t>(controlPosition));
    const ReadingStart start = ReadingStartAt(w.shown.Text(), w.shown.units, position, markup);
    Actions.speakFrom(SpeechFrom(w.shown.Text(), w.shown.units, start), start.Shift());
}

HMENU MakeReadingMenu(bool canRead) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    const UINT readable = canRead ? MF_ENABLED : MF_GRAYED;
    AppendMenuA(menu, MF_STRING | readable, READ_FROM_HERE, "Read from here");
    AppendMenuA(menu, MF_STRING | readable, READ_FROM_BEGINNING, "Read from the beginning");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (PluginSettings.ResumeFiles ? MF_CHECKED : MF_UNCHECKED), CONTINUE_WHERE_STOPPED,
                "Continue where I stopped");
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

INT_PTR OnContextMenu(TextInfoWindow& w, HWND target, LPARAM lParam) {
    if (target != w.richEdit) return FALSE;
    POINT at;
    const long position = MenuPosition(w.richEdit, lParam, &at);
    bool markup = false;
    HMENU menu = MakeReadingMenu(CanReadFromPlace(w, &markup));
    if (!menu) return TRUE;
    const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, w.dialog, nullptr);
    DestroyMenu(menu);
    if (chosen == READ_FROM_HERE) ReadFromPlace(w, position);
    if (chosen == READ_FROM_BEGINNING) ReadFromPlace(w, 0);
    if (chosen == CONTINUE_WHERE_STOPPED) PluginSettings.ResumeFiles = !PluginSettings.ResumeFiles;
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

TextInfoWindow* WindowOf(HWND dialog) { return reinterpret_cast<TextInfoWindow*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

// FALSE: no control gets the focus now. Focusing one would activate the hidden window, which would
// then take the foreground from the player (or from a game that plays through the plug-in); the
// dialog focuses its first control when it is shown and activated.
INT_PTR OnInitDialog(HWND dialog, LPARAM parameter) {
    TextInfoWindow& w = *reinterpret_cast<TextInfoWindow*>(parameter);
    SetWindowLongPtrA(dialog, DWLP_USER, parameter);
    w.dialog = dialog;
    w.closeButton = GetDlgItem(dialog, IDCANCEL);
    w.richEdit = GetDlgItem(dialog, IDC_INFO_TEXT);
    PrepareTextControl(w.richEdit, OnReaderMoved);
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

INT_PTR CALLBACK TextInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(window, lParam);
    TextInfoWindow* w = WindowOf(window);
    if (!w) return FALSE;
    switch (message) {
    case WM_SIZE: return OnSize(*w, lParam);
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_CONTEXTMENU: return OnContextMenu(*w, reinterpret_cast<HWND>(wParam), lParam);
    case WM_SYSCOMMAND: return OnSysCommand(window, wParam);
    case WM_TIMER: return OnTimer(*w, wParam);
    case WM_INFO_TEXT_READ:
    case WM_INFO_FILL:
    case WM_INFO_REQUESTS:
    case WM_INFO_RETIRE:
    case WM_INFO_END: return OnInfoMessage(*w, message, wParam);
    default: return FALSE;
    }
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

void StopWantingBoundaries(TextInfoWindow& w) {
    w.boundariesWanted = false;
    TakeBoundaries(w);
}

// ---- Ending the window ----

// On the window's thread: readers stopped, controls and window destroyed, state freed.
void EndWindow(TextInfoWindow* w) {
    StopWantingBoundaries(*w);
    StopReaders(*w);
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
    StopWantingBoundaries(*w);
    StopReaders(*w);
    RichEditStillUsed = true;
    if (!IsWindow(w->dialog)) delete w;
}

// From another thread: the window's thread is asked to end the window, and given a short while.
void EndWindowFromAnotherThread(TextInfoWindow* w) {
    ScopedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EndDone = done.Get();
    EndState = END_POSTED;
    StopWantingBoundaries(*w);
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

bool LoadTextFile(HWND richEdit, const char* fileName, InfoText* text) {
    if (!ReadInfoText(fileName, text)) return false;
    if (!richEdit) return true;
    const bool asUtf16 = SetFirstPiece(richEdit, text->Text(), text->units, text->utf16);
    if (text->hiddenUnits > 0) {
        const std::wstring note = HiddenTextNote(text->hiddenUnits);
        PieceAppender(richEdit, asUtf16).Append(note.c_str(), note.size());
    }
    return true;
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

void UnloadRichEdit() {
    if (!RichEditStillUsed) RichEditLibrary.Reset();
}

void DestroyTextInfoWindow() {
    if (!Window) return;
    TextInfoWindow* w = Window;
    Window = nullptr;
    if (OnWindowThread(*w))
        EndWindow(w);
    else
        EndWindowFromAnotherThread(w);
}

HWND TextInfoWindowHandle() { return Window ? Window->dialog : nullptr; }

void FreeTextBuffer() {
    if (!Window || !OnWindowThread(*Window)) return;
    Window->shown = InfoText();
    Window->filledUnits = 0;
}

// Without the window nothing is read: nothing would show it.
void LoadInfoText(const char* file) {
    if (!file) file = "";
    RememberName(file);
    if (!Window) return;
    TextInfoWindow& w = *Window;
    StopWantingBoundaries(w);  // Play asks for them again once it speaks
    if (!OnWindowThread(w)) {
        return LeaveRequest(w, [&](Requests& requests) {
            requests.load = true;
            requests.file = file;
            requests.follow = Requests::Follow::Stop;
        });
    }
    ApplyRequests(w);
    StartLoad(w, file);
}

const char* LoadedInfoFileName() { return LoadedFileName; }

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

// Without the player's window nothing follows the speech: no boundaries are kept.
void ExpectSpeechBoundaries() {
    HeardPosition = -1;
    if (!Window) return;
    TakeBoundaries(*Window);
    Window->boundariesWanted = Window->hasOwner;
}

void FollowSpeech(ULONG stream, DWORD bytesPerSecond, OutputClock clock, int64_t textShift) {
    if (!Window || !Window->hasOwner || !clock) return;
    TextInfoWindow& w = *Window;
    if (!OnWindowThread(w)) {
        return LeaveRequest(w, [&](Requests& requests) {
            requests.follow = Requests::Follow::Start;
            requests.stream = stream;
            requests.bytesPerSecond = bytesPerSecond;
            requests.clock = clock;
            requests.textShift = textShift;
        });
    }
    ApplyRequests(w);
    StartFollowing(w, stream, bytesPerSecond, clock, textShift);
}

void StopFollowingSpeech() {
    if (!Window) return;
    TextInfoWindow& w = *Window;
    StopWantingBoundaries(w);
    if (!OnWindowThread(w))
        return LeaveRequest(w, [](Requests& requests) { requests.follow = Requests::Follow::Stop; });
    ApplyRequests(w);
    EndFollowing(w);
}

bool HeardTextPosition(uint32_t* position) {
    const int64_t heard = HeardPosition;
    if (heard < 0) return false;
    *position = static_cast<uint32_t>(heard);
    return true;
}

void SetReadingActions(const ReadingActions& actions) { Actions = actions; }

void QueueSpokenBoundary(const SpokenBoundary& boundary) {
    TextInfoWindow* w = Window;
    if (!w || !w->boundariesWanted) return;
    std::lock_guard<std::mutex> guard(w->lock);
    if (w->boundaries.size() >= MAX_QUEUED_BOUNDARIES) w->boundaries.pop_front();
    w->boundaries.push_back(boundary);
}
