#include "voices/task_wide_string.h"

#include <objbase.h>

wchar_t** TaskWideString::Receive() {
    Release();
    return &str_;
}

wchar_t* TaskWideString::AssignAnsi(const char* text) {
    Release();
    if (!text) return nullptr;
    int length = lstrlenA(text);
    str_ = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!str_) return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, str_, length + 1) == 0) str_[0] = L'\0';
    return str_;
}

void TaskWideString::Release() {
    wchar_t* old = str_;
    str_ = nullptr;
    CoTaskMemFree(old);
}

int CompareWide(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        unsigned ua = static_cast<unsigned short>(*a);
        unsigned ub = static_cast<unsigned short>(*b);
        if (ua != ub) return ua < ub ? -1 : 1;
        if (ua == 0) return 0;
    }
}
