#include "base/library_thread.h"

#include <memory>

namespace {

struct ThreadStart {
    void (*body)(void*);
    void* context;
    HMODULE module;
};

DWORD WINAPI LibraryThreadMain(LPVOID parameter) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    const HMODULE module = start->module;
    try {
        start->body(start->context);
    } catch (...) {  // memory ran out: what the thread was doing is given up, and nothing else
    }
    start.reset();
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

bool StartLibraryThread(void (*body)(void* context), void* context, ScopedHandle* thread) {
    std::unique_ptr<ThreadStart> start(new ThreadStart{body, context, nullptr});
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LibraryThreadMain),
                            &start->module))
        return false;
    HANDLE started = CreateThread(nullptr, 0, LibraryThreadMain, start.get(), 0, nullptr);
    if (!started) {
        FreeLibrary(start->module);
        return false;
    }
    start.release();
    if (thread)
        thread->Reset(started);
    else
        CloseHandle(started);
    return true;
}
