#include "engine/thread_caller.h"

namespace engine {
namespace {

const wchar_t WindowClass[] = L"TxtEngineThreadCaller";
const UINT CallMessage = WM_APP + 1;
const UINT CloseMessage = WM_APP + 2;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

ThreadCaller::ThreadCaller(std::function<void()> call) : call_(std::move(call)) {}

ThreadCaller::~ThreadCaller() = default;

std::shared_ptr<ThreadCaller> ThreadCaller::Create(std::function<void()> call) {
    static const ATOM registered = [] {
        WNDCLASSEXW windowClass = {sizeof windowClass};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = WindowClass;
        return RegisterClassExW(&windowClass);
    }();
    (void)registered;  // a class left by an earlier load of this module serves as well
    std::shared_ptr<ThreadCaller> caller(new ThreadCaller(std::move(call)));
    // The window keeps its own reference, given back when it is destroyed.
    auto* windowReference = new std::shared_ptr<ThreadCaller>(caller);
    caller->window_ = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(),
                                      windowReference);
    if (!caller->window_) {
        delete windowReference;
        return nullptr;
    }
    return caller;
}

void ThreadCaller::Post() {
    if (InterlockedExchange(&waiting_, 1) != 0) return;
    if (!PostMessageW(window_, CallMessage, 0, 0)) InterlockedExchange(&waiting_, 0);
}

void ThreadCaller::Close() {
    std::function<void()> call;  // what it holds is given back outside the lock
    {
        std::lock_guard<std::mutex> guard(lock_);
        call.swap(call_);
    }
    // A window can only be destroyed by its own thread; one whose thread has ended is gone already.
    if (GetCurrentThreadId() == owner_) DestroyWindow(window_);
    else PostMessageW(window_, CloseMessage, 0, 0);
}

void ThreadCaller::Run() {
    InterlockedExchange(&waiting_, 0);
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> guard(lock_);
        call = call_;
    }
    if (call) call();
}

LRESULT CALLBACK ThreadCaller::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* reference = reinterpret_cast<std::shared_ptr<ThreadCaller>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (reference && message == CallMessage) {
        std::shared_ptr<ThreadCaller> caller = *reference;  // alive through the call, which may close it
        caller->Run();
        return 0;
    }
    if (message == CloseMessage) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_NCDESTROY && reference) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete reference;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace engine
