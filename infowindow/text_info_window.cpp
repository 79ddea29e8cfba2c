#include "infowindow/text_info_window.h"

#include <richedit.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/error_report.h"
#include "base/module_objects.h"
#include "infowindow/text_control.h"
#include "resources/resource.h"

namespace {

constexpr int MARGIN = 3;

// A file larger than this is read on a thread of its own, so Play never waits for it.
constexpr uint64_t READ_HERE_BYTES = 256u << 10;
// The text goes into the control in pieces: the first at once, the others from the window's message
// loop, as many as fit a tick's budget, so the player's thread is never held for long.
constexpr size_t FIRST_PIECE_UNITS = 2048;
constexpr size_t PIECE_UNITS = 4096;
constexpr double FILL_BUDGET_MS = 15;
// Emptying a control costs far more than destroying it once it holds more than this: it is replaced.
constexpr long EMPTY_IN_PLACE_CHARACTERS = 4096;
// How often the window compares what the output has played with the voice's boundaries.
constexpr UINT FOLLOW_TICK_MS = 40;

constexpr UINT WM_INFO_TEXT_READ = WM_APP + 1;  // from a reading thread: wParam its ticket, lParam the InfoText
constexpr UINT WM_INFO_FILL = WM_APP + 2;       // the next fill tick, when nothing else waits
enum InfoTimer : UINT_PTR { FILL_TIMER = 1, FOLLOW_TIMER = 2, RETIRE_TIMER = 3 };

ModuleLibrary RichEditLibrary;
HWND InfoWindow = nullptr;
HWND CloseButton = nullptr;
HWND RichEdit = nullptr;
SIZE CloseButtonSize = {0, 0};
char LoadedFileName[MAX_PATH] = "";

// The text in the control, how much of it has been given to it, and how.
InfoText Shown;
size_t FilledUnits = 0;
bool PiecesAsUtf16 = true;
bool NoteAdded = false;
// The load the window waits for; what a reading thread brings for an earlier one is dropped. While only
// the start of a long file is in (ShowingStart), nothing more of it goes into the control.
WPARAM LoadTicket = 0;
bool TextPending = false;
bool ShowingStart = false;
// Filling takes the next tick at once, unless something waits for the player's thread; it leaves
// the player's timers and painting their turn at least this often.
constexpr double FILL_YIELD_MS = 200;
double LastFillYield = 0;
// Replaced controls, destroyed from the message loop rather than inside Play.
std::vector<HWND> Retired;

// Reading along: the file's boundaries as the speech event thread hands them over, and what the window
// makes of them on its own thread.
std::mutex BoundaryLock;
std::vector<SpokenBoundary> Boundaries;
std::atomic<bool> BoundariesWanted{false};
SpeechFollower Follower;
bool Following = false;
bool SpanPending = false;
TextSpan PendingSpan = {0, 0};  // in the text's positions

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::vector<SpokenBoundary> TakeBoundaries() {
    std::vector<SpokenBoundary> taken;
    std::lock_guard<std::mutex> guard(BoundaryLock);
    taken.swap(Boundaries);
    return taken;
}

void EndFollowing() {
    Following = false;
    SpanPending = false;
    BoundariesWanted = false;
    TakeBoundaries();
    if (InfoWindow) KillTimer(InfoWindow, FOLLOW_TIMER);
}

// The reader clicked, selected or scrolled: the window is theirs until the next file plays.
void OnReaderMoved() {
    if (Following) EndFollowing();
}

// The heard span, once the control holds it and no other text is on its way.
void ShowPendingSpan() {
    if (!SpanPending || !Following || TextPending || !RichEdit) return;
    const TextSpan span = ControlSpan(Shown.crLfPairs, PendingSpan);
    if (span.position + span.length > ControlPosition(Shown.crLfPairs, static_cast<uint32_t>(FilledUnits))) return;
    SelectAndShow(RichEdit, span.position, span.length);
    SpanPending = false;
}

void OnFollowTick() {
    for (const SpokenBoundary& boundary : TakeBoundaries()) Follower.Add(boundary);
    TextSpan heard;
    if (Follower.HeardAt(PluginModule.outMod->GetOutputTime(), &heard)) {
        PendingSpan = heard;
        SpanPending = true;
    }
    ShowPendingSpan();
}

std::wstring HiddenTextNote(uint64_t hiddenUnits) {
    return L"\r\n\r\n[" + std::to_wstring(hiddenUnits) + L" more characters are not shown here.]";
}

// Destroying a control that held a long text takes a while (about 60 ms a million characters): it is
// done once the new text is in, not while it fills.
void RetireReplacedControls() {
    if (!Retired.empty()) SetTimer(InfoWindow, RETIRE_TIMER, 0, nullptr);
}

void OnRetireTick() {
    KillTimer(InfoWindow, RETIRE_TIMER);
    for (HWND control : Retired) DestroyWindow(control);
    Retired.clear();
}

// The next tick comes at once while no input or message waits for the player's thread, else on the
// timer, which comes after them; and on the timer at least every FILL_YIELD_MS, after the player's own
// timers and painting.
void ScheduleFillTick() {
    const bool waiting = HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_HOTKEY)) != 0;
    if (!waiting && NowMs() - LastFillYield < FILL_YIELD_MS) {
        PostMessageA(InfoWindow, WM_INFO_FILL, 0, 0);
        return;
    }
    LastFillYield = NowMs();
    SetTimer(InfoWindow, FILL_TIMER, 0, nullptr);
}

// Gives the control the next pieces of the text, within the tick's budget; then, once the text is in,
// the note of what was not shown.
void OnFillTick() {
    KillTimer(InfoWindow, FILL_TIMER);
    if (ShowingStart) return;  // the whole text comes next
    const double start = NowMs();
    {
        PieceAppender appender(RichEdit, PiecesAsUtf16);
        while (FilledUnits < Shown.units && NowMs() - start < FILL_BUDGET_MS) {
            const size_t end = NextSliceEnd(reinterpret_cast<const char16_t*>(Shown.Text()), FilledUnits, Shown.units,
                                            PIECE_UNITS);
            appender.Append(Shown.Text() + FilledUnits, end - FilledUnits);
            FilledUnits = end;
        }
        if (FilledUnits == Shown.units && Shown.hiddenUnits > 0 && !NoteAdded) {
            const std::wstring note = HiddenTextNote(Shown.hiddenUnits);
            appender.Append(note.c_str(), note.size());
            NoteAdded = true;
        }
    }
    ShowPendingSpan();
    if (FilledUnits < Shown.units || (Shown.hiddenUnits > 0 && !NoteAdded))
        ScheduleFillTick();
    else
        RetireReplacedControls();
}


// A control that holds a long text is replaced by an empty one; a short one is simply overwritten.
void MakeRoomForNewText() {
    if (ControlLength(RichEdit) <= EMPTY_IN_PLACE_CHARACTERS) return;
    HWND fresh = ReplaceTextControl(RichEdit, OnReaderMoved);
    if (!fresh) return;
    Retired.push_back(RichEdit);
    RichEdit = fresh;
}

// The text of the file just read takes the control's place, from its top.
void ShowNewText(InfoText text) {
    KillTimer(InfoWindow, FILL_TIMER);
    MakeRoomForNewText();
    Shown = std::move(text);
    NoteAdded = false;
    FilledUnits = NextSliceEnd(reinterpret_cast<const char16_t*>(Shown.Text()), 0, Shown.units, FIRST_PIECE_UNITS);
    PiecesAsUtf16 = SetFirstPiece(RichEdit, Shown.Text(), FilledUnits, Shown.utf16);
    if (FilledUnits < Shown.units || Shown.hiddenUnits > 0)
        SetTimer(InfoWindow, FILL_TIMER, 0, nullptr);
    else
        RetireReplacedControls();
}

// The start of a long file shows first; the whole text that follows goes on from what is shown, which
// is its start too.
INT_PTR OnTextRead(WPARAM ticket, LPARAM text) {
    std::unique_ptr<InfoText> read(reinterpret_cast<InfoText*>(text));
    if (ticket != LoadTicket) return TRUE;  // an earlier load's
    if (read && !read->whole) {
        ShowNewText(std::move(*read));
        ShowingStart = true;
        return TRUE;
    }
    TextPending = false;
    const bool started = ShowingStart;
    ShowingStart = false;
    if (read && started) {
        Shown = std::move(*read);
        OnFillTick();
    } else if (read) {
        ShowNewText(std::move(*read));
    }
    // A file that could not be read leaves the text shown.
    ShowPendingSpan();
    return TRUE;
}

// Reading threads may still have posted texts the window did not take.
void DropPostedTexts() {
    MSG message;
    while (PeekMessageA(&message, InfoWindow, WM_INFO_TEXT_READ, WM_INFO_TEXT_READ, PM_REMOVE))
        delete reinterpret_cast<InfoText*>(message.lParam);
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
    PrepareTextControl(RichEdit, OnReaderMoved);
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

INT_PTR OnTimer(WPARAM timer) {
    switch (timer) {
    case FILL_TIMER: OnFillTick(); break;
    case FOLLOW_TIMER: OnFollowTick(); break;
    case RETIRE_TIMER: OnRetireTick(); break;
    }
    return TRUE;
}

INT_PTR CALLBACK TextInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(window);
    case WM_SIZE: return OnSize(lParam);
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_SYSCOMMAND: return OnSysCommand(window, wParam);
    case WM_TIMER: return OnTimer(wParam);
    case WM_INFO_TEXT_READ: return OnTextRead(wParam, lParam);
    case WM_INFO_FILL: return OnTimer(FILL_TIMER);
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
    InfoWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_TEXT_INFO), owner, TextInfoDialogProc, 0);
    return InfoWindow;
}

void UnloadRichEdit() { RichEditLibrary.Free(); }

void DestroyTextInfoWindow() {
    EndFollowing();
    WaitForInfoTextReaders();
    if (!InfoWindow) return;
    DropPostedTexts();
    for (InfoTimer timer : {FILL_TIMER, FOLLOW_TIMER, RETIRE_TIMER}) KillTimer(InfoWindow, timer);
    OnRetireTick();
    DestroyWindow(InfoWindow);
    InfoWindow = nullptr;
    CloseButton = nullptr;
    RichEdit = nullptr;
}

HWND TextInfoWindowHandle() { return InfoWindow; }

void FreeTextBuffer() {
    Shown = InfoText();
    FilledUnits = 0;
}

// A name too long to keep is not kept at all: cut, it could equal another file's name, and InfoBox
// would then show this text for that file. Without the window nothing is read: nothing would show it.
void LoadInfoText(const char* file) {
    if (!file) file = "";
    if (lstrlenA(file) < MAX_PATH)
        lstrcpyA(LoadedFileName, file);
    else
        LoadedFileName[0] = '\0';
    EndFollowing();  // the text changes; Play follows the speech again once it speaks
    ++LoadTicket;
    TextPending = false;
    ShowingStart = false;
    if (!InfoWindow) return;
    uint64_t size = 0;
    if (!TextFileSize(file, &size)) return;  // the text shown stays
    if (size > READ_HERE_BYTES) {
        TextPending = true;
        StartReadingInfoText(file, InfoWindow, WM_INFO_TEXT_READ, LoadTicket);
        return;
    }
    InfoText text;
    if (ReadInfoText(file, &text)) ShowNewText(std::move(text));
}

const char* LoadedInfoFileName() { return LoadedFileName; }

int __cdecl InfoBox(char* file, HWND) {
    if (!InfoWindow) return 0;
    if (file && lstrcmpiA(file, LoadedFileName) != 0) LoadInfoText(file);
    ShowWindow(InfoWindow, SW_SHOW);
    SetForegroundWindow(InfoWindow);
    return 0;
}

void ExpectSpeechBoundaries() {
    TakeBoundaries();
    BoundariesWanted = InfoWindow != nullptr;
}

void FollowSpeech(ULONG stream, DWORD bytesPerSecond) {
    if (!InfoWindow) return;
    Follower.Start(stream, bytesPerSecond);
    Following = true;
    SpanPending = false;
    SetTimer(InfoWindow, FOLLOW_TIMER, FOLLOW_TICK_MS, nullptr);
}

void StopFollowingSpeech() { EndFollowing(); }

void QueueSpokenBoundary(const SpokenBoundary& boundary) {
    if (!BoundariesWanted) return;
    std::lock_guard<std::mutex> guard(BoundaryLock);
    Boundaries.push_back(boundary);
}
