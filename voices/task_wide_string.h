// An owned UTF-16 string in COM task memory (the form in which the speech engine hands out token ids).
#pragma once

#include <windows.h>

class TaskWideString {
public:
    TaskWideString() = default;
    ~TaskWideString() { Release(); }
    TaskWideString(const TaskWideString&) = delete;
    TaskWideString& operator=(const TaskWideString&) = delete;

    const wchar_t* Get() const { return str_; }
    bool IsSet() const { return str_ != nullptr; }

    // Frees the held string and returns the field for a call that writes a new task-memory string into it.
    wchar_t** Receive();

    // Frees the held string and holds a UTF-16 copy of the ANSI text; null text leaves none.
    // Returns the new pointer, null also when memory ran out.
    wchar_t* AssignAnsi(const char* text);

    // Frees the held string; the holder then holds none.
    void Release();

private:
    wchar_t* str_ = nullptr;
};

// Exact comparison code unit by code unit (unsigned): -1, 0 or 1.
int CompareWide(const wchar_t* a, const wchar_t* b);
