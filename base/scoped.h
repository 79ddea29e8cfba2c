// Small scope-bound holders: each owns one kind of resource and gives it back when it goes out of scope.
#pragma once

#include <windows.h>
#include <objbase.h>

// One reference to a COM interface.
template <typename T>
class ScopedComPtr {
public:
    ScopedComPtr() = default;
    explicit ScopedComPtr(T* p) : ptr_(p) {}
    ~ScopedComPtr() { Release(); }
    ScopedComPtr(const ScopedComPtr&) = delete;
    ScopedComPtr& operator=(const ScopedComPtr&) = delete;

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // Out parameter for a call that hands over a reference; drops the one held first.
    T** Receive() {
        Release();
        return &ptr_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    // Keeps its own reference to p, then drops the one held before.
    void Assign(T* p) {
        if (p) p->AddRef();
        T* old = ptr_;
        ptr_ = p;
        if (old) old->Release();
    }
    void Release() {
        T* p = ptr_;
        ptr_ = nullptr;
        if (p) p->Release();
    }
    T* Detach() {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }

private:
    T* ptr_ = nullptr;
};

// A block of COM task memory.
template <typename T>
class ScopedTaskMem {
public:
    ScopedTaskMem() = default;
    explicit ScopedTaskMem(T* p) : ptr_(p) {}
    ~ScopedTaskMem() { Release(); }
    ScopedTaskMem(const ScopedTaskMem&) = delete;
    ScopedTaskMem& operator=(const ScopedTaskMem&) = delete;

    T* Get() const { return ptr_; }
    bool IsSet() const { return ptr_ != nullptr; }
    // Out parameter for a call that writes a new block into it; frees the one held first.
    T** Receive() {
        Release();
        return &ptr_;
    }
    // Frees the block held; the holder then holds none.
    void Release() {
        T* old = ptr_;
        ptr_ = nullptr;
        CoTaskMemFree(old);
    }

private:
    T* ptr_ = nullptr;
};

// A UTF-16 string in COM task memory, the form in which the speech engine hands out token ids.
using TaskWideString = ScopedTaskMem<wchar_t>;

// A kernel handle closed with CloseHandle (files, threads, events).
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE h) : h_(h) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return h_; }
    bool IsValid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (IsValid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    // Closes the handle held, then takes ownership of h.
    void Reset(HANDLE h) {
        Close();
        h_ = h;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A block from the process heap (HeapAlloc / HeapFree).
class ScopedHeapBlock {
public:
    ScopedHeapBlock() = default;
    explicit ScopedHeapBlock(void* p) : p_(p) {}
    ~ScopedHeapBlock() { Free(); }
    ScopedHeapBlock(const ScopedHeapBlock&) = delete;
    ScopedHeapBlock& operator=(const ScopedHeapBlock&) = delete;
    ScopedHeapBlock(ScopedHeapBlock&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ScopedHeapBlock& operator=(ScopedHeapBlock&& other) noexcept {
        if (this != &other) Reset(other.p_);
        other.p_ = nullptr;
        return *this;
    }

    void* Get() const { return p_; }
    template <typename T>
    T* As() const { return static_cast<T*>(p_); }
    void Free() {
        if (p_) HeapFree(GetProcessHeap(), 0, p_);
        p_ = nullptr;
    }
    // Frees the block held and takes ownership of p.
    void Reset(void* p) {
        Free();
        p_ = p;
    }
    // Gives up the block without freeing it (HeapReAlloc moved it).
    void* Detach() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    void* p_ = nullptr;
};

// An open registry key closed with RegCloseKey.
class ScopedRegKey {
public:
    ScopedRegKey() = default;
    ~ScopedRegKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    HKEY Get() const { return key_; }
    HKEY* Receive() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

// A library loaded with LoadLibrary and freed with FreeLibrary.
class ScopedLibrary {
public:
    ScopedLibrary() = default;
    explicit ScopedLibrary(HMODULE module) : module_(module) {}
    ~ScopedLibrary() {
        if (module_) FreeLibrary(module_);
    }
    ScopedLibrary(const ScopedLibrary&) = delete;
    ScopedLibrary& operator=(const ScopedLibrary&) = delete;

    HMODULE Get() const { return module_; }

private:
    HMODULE module_ = nullptr;
};

// A library the plug-in keeps loaded from Init to Quit, which frees it. Unlike ScopedLibrary it never
// frees in its destructor: that runs while the plug-in itself is being unloaded, where freeing another
// library is unsafe (one still loaded then goes with the process).
class ModuleLibrary {
public:
    ModuleLibrary() = default;
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // False when the library cannot be loaded.
    bool Load(const char* name) {
        Free();
        module_ = LoadLibraryA(name);
        return module_ != nullptr;
    }
    void Free() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    HMODULE Get() const { return module_; }

private:
    HMODULE module_ = nullptr;
};
