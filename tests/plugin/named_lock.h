// A lock shared by every test program of the run, for what the whole desktop shares: the clipboard,
// the keyboard focus and the foreground window. Test programs run side by side.
#pragma once

#include <windows.h>

class NamedTestLock {
public:
    explicit NamedTestLock(const char* name) : mutex_(CreateMutexA(nullptr, FALSE, name)) {
        // An abandoned mutex (a test program that died holding it) is owned all the same.
        if (mutex_) WaitForSingleObject(mutex_, 100000);
    }
    ~NamedTestLock() {
        if (!mutex_) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    NamedTestLock(const NamedTestLock&) = delete;
    NamedTestLock& operator=(const NamedTestLock&) = delete;

private:
    HANDLE mutex_;
};
