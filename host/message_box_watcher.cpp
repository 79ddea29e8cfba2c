#include "host/message_box_watcher.h"

#include <algorithm>

namespace host {

namespace {

constexpr int MESSAGE_TEXT_ID = 0xFFFF;
constexpr DWORD POLL_MS = 10;

std::string WindowText(HWND window) {
    char buffer[512] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

bool IsDialogOfThisProcess(HWND window) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() && lstrcmpA(className, "#32770") == 0;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (IsDialogOfThisProcess(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

}  // namespace

std::string MessageBoxText(HWND box) {
    char buffer[4096] = {};
    GetDlgItemTextA(box, MESSAGE_TEXT_ID, buffer, sizeof buffer);
    return buffer;
}

MessageBoxWatcher::MessageBoxWatcher(std::vector<std::string> captions)
    : captions_(std::move(captions)), thread_([this] { Watch(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
}

void MessageBoxWatcher::OnBox(std::function<void(const SeenBox&)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

void MessageBoxWatcher::SetDismiss(bool dismiss) { dismiss_ = dismiss; }

std::vector<SeenBox> MessageBoxWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

size_t MessageBoxWatcher::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
}

bool MessageBoxWatcher::WaitForCount(size_t count, DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    while (Count() < count) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(POLL_MS);
    }
    return true;
}

void MessageBoxWatcher::Watch() {
    while (!stop_) {
        std::vector<HWND> dialogs;
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
        for (HWND box : dialogs) Handle(box);
        Sleep(POLL_MS);
    }
}

// A message box has the static text control; a property sheet or another dialog does not. Only
// a visible box counts: while it is being made or taken down its caption and text are not there.
bool MessageBoxWatcher::Wanted(HWND box, std::string& caption) const {
    if (!IsWindowVisible(box) || !GetDlgItem(box, MESSAGE_TEXT_ID)) return false;
    caption = WindowText(box);
    return captions_.empty() || std::find(captions_.begin(), captions_.end(), caption) != captions_.end();
}

void MessageBoxWatcher::Handle(HWND box) {
    std::string caption;
    if (!Wanted(box, caption)) return;
    const SeenBox seen{caption, MessageBoxText(box)};
    std::function<void(const SeenBox&)> callback;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A box stays "handled" until it is gone, so it is recorded once however long it closes.
        handled_.erase(std::remove_if(handled_.begin(), handled_.end(), [](HWND h) { return !IsWindow(h); }),
                       handled_.end());
        if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) return;
        if (!IsWindow(box)) return;  // went away while it was read: what was read may be empty
        handled_.push_back(box);
        seen_.push_back(seen);
        callback = callback_;
    }
    if (callback) callback(seen);
    if (dismiss_) PostMessageA(box, WM_COMMAND, IDOK, 0);
}

}  // namespace host
