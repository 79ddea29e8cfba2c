#include "voices/task_wide_string.h"

#include <objbase.h>

wchar_t* AssignAnsi(TaskWideString& holder, const char* text) {
    holder.Reset();
    if (!text) return nullptr;
    const int length = lstrlenA(text);
    wchar_t** field = holder.Receive();
    *field = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!*field) return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, *field, length + 1) == 0) (*field)[0] = L'\0';
    return *field;
}

int CompareWide(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        unsigned ua = static_cast<unsigned short>(*a);
        unsigned ub = static_cast<unsigned short>(*b);
        if (ua != ub) return ua < ub ? -1 : 1;
        if (ua == 0) return 0;
    }
}
