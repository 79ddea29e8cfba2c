// A call that other threads have run on one thread, from that thread's message loop, through a hidden
// message-only window of it: how SAPI calls notify callbacks and sends automation events on the thread
// that asked for them, so a program may touch its own windows there.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>

namespace engine {

class ThreadCaller {
public:
    // Made on the thread the call is to run on; null when that thread cannot have a window.
    static std::shared_ptr<ThreadCaller> Create(std::function<void()> call);

    ~ThreadCaller();
    ThreadCaller(const ThreadCaller&) = delete;
    ThreadCaller& operator=(const ThreadCaller&) = delete;

    // From any thread: the call runs once the owner thread next dispatches messages. Posts made while
    // one is waiting are one call.
    void Post();

    // From any thread: the call does not run again; the window goes on its own thread.
    void Close();

    DWORD OwnerThread() const { return owner_; }

private:
    explicit ThreadCaller(std::function<void()> call);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run();

    std::mutex lock_;
    std::function<void()> call_;  // empty once closed
    HWND window_ = nullptr;
    DWORD owner_ = GetCurrentThreadId();
    LONG waiting_ = 0;  // a posted call not yet run
};

}  // namespace engine
