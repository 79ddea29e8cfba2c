// Finds message boxes of this process from a thread of its own, records their caption and text, and
// dismisses them with OK, so scripted runs and tests never wait on a box nobody will press.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {

struct SeenBox {
    std::string caption;
    std::string text;
};

class MessageBoxWatcher {
public:
    // Watches for boxes with one of the captions; with none given, for every message box of the process.
    explicit MessageBoxWatcher(std::vector<std::string> captions = {});
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Called on the watcher's thread for each box, before it is dismissed.
    void OnBox(std::function<void(const SeenBox&)> callback);
    // Boxes seen but left open, for a test that wants to look at one first.
    void SetDismiss(bool dismiss);

    std::vector<SeenBox> Seen() const;
    size_t Count() const;
    // Waits (without pumping messages) until count boxes have been seen.
    bool WaitForCount(size_t count, DWORD timeoutMs) const;

private:
    void Watch();
    void Handle(HWND box);
    bool Wanted(HWND box, std::string& caption) const;

    std::vector<std::string> captions_;
    std::function<void(const SeenBox&)> callback_;
    std::atomic<bool> dismiss_{true};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> handled_;
    std::thread thread_;
};

// The text of a message box: its static control, id 0xFFFF.
std::string MessageBoxText(HWND box);

}  // namespace host
