// Small scope-bound holders: each owns one kind of resource and gives it back when it goes out of scope.
#pragma once

#include <windows.h>
#include <objbase.h>


// One resource of a kind, given back by Traits::Free when the holder lets go of it. Every kind has the
// same operations, and a holder moves (handing its resource over) but never copies.
template <typename Traits>
class Scoped {
public:
    using Value = typename Traits::Value;

    Scoped() = default;
    explicit Scoped(Value value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped&& other) noexcept : value_(other.Detach()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    Value Get() const { return value_; }
    bool IsValid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return IsValid(); }
    // Gives back the resource held, then holds `value` (by default none).
    void Reset(Value value = Traits::None()) {
        const Value old = value_;
        value_ = value;
        if (Traits::IsValid(old)) Traits::Free(old);
    }
    // Out parameter for a call that writes a new resource: the one held is given back first.
    Value* Receive() {
        Reset();
        return &value_;
    }
    // Lets go of the resource without giving it back.
    Value Detach() {
        const Value value = value_;
        value_ = Traits::None();
        return value;
    }

private:
    Value value_ = Traits::None();
};

// A kernel handle (files, threads, events), closed with CloseHandle. Both null and INVALID_HANDLE_VALUE
// mean none, as the platform's calls return one or the other.
struct KernelHandleTraits {
    using Value = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
using ScopedHandle = Scoped<KernelHandleTraits>;

// A block from the process heap (HeapAlloc / HeapFree).
struct HeapBlockTraits {
    using Value = void*;
    static void* None() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Free(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
class ScopedHeapBlock : public Scoped<HeapBlockTraits> {
public:
    using Scoped::Scoped;
    template <typename T>
    T* As() const { return static_cast<T*>(Get()); }
};

// A movable global memory block (GlobalAlloc), as the clipboard takes; detached once the clipboard has it.
struct GlobalBlockTraits {
    using Value = HGLOBAL;
    static HGLOBAL None() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Free(HGLOBAL h) { GlobalFree(h); }
};
using ScopedGlobalBlock = Scoped<GlobalBlockTraits>;

// A window of the holder's own thread, destroyed with DestroyWindow.
struct WindowTraits {
    using Value = HWND;
    static HWND None() { return nullptr; }
    static bool IsValid(HWND window) { return window != nullptr; }
    static void Free(HWND window) { DestroyWindow(window); }
};
using ScopedWindow = Scoped<WindowTraits>;

// An open registry key, closed with RegCloseKey.
struct RegKeyTraits {
    using Value = HKEY;
    static HKEY None() { return nullptr; }
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Free(HKEY key) { RegCloseKey(key); }
};
using ScopedRegKey = Scoped<RegKeyTraits>;

// A library loaded with LoadLibrary (or held with GetModuleHandleEx), freed with FreeLibrary.
struct LibraryTraits {
    using Value = HMODULE;
    static HMODULE None() { return nullptr; }
    static bool IsValid(HMODULE module) { return module != nullptr; }
    static void Free(HMODULE module) { FreeLibrary(module); }
};
using ScopedLibrary = Scoped<LibraryTraits>;

// A hook installed with SetWindowsHookEx, removed with UnhookWindowsHookEx.
struct HookTraits {
    using Value = HHOOK;
    static HHOOK None() { return nullptr; }
    static bool IsValid(HHOOK hook) { return hook != nullptr; }
    static void Free(HHOOK hook) { UnhookWindowsHookEx(hook); }
};
using ScopedHook = Scoped<HookTraits>;

// One reference to a COM interface, given back with Release.
template <typename T>
struct ComTraits {
    using Value = T*;
    static T* None() { return nullptr; }
    static bool IsValid(T* p) { return p != nullptr; }
    static void Free(T* p) { p->Release(); }
};
template <typename T>
class ScopedComPtr : public Scoped<ComTraits<T>> {
public:
    using Scoped<ComTraits<T>>::Scoped;
    T* operator->() const { return this->Get(); }
    void** ReceiveVoid() { return reinterpret_cast<void**>(this->Receive()); }
    // Takes a reference of its own to p (which the caller keeps), then gives back the one held before.
    void Assign(T* p) {
        if (p) p->AddRef();
        this->Reset(p);
    }
};

// The module's own reference to a COM object, given back by Quit. Unlike ScopedComPtr it never
// releases in its destructor: that runs while the plug-in is being unloaded under the loader lock
// (a host that unloads without Quit), where a release may wait for the object's own threads for ever.
// The object then goes with the process.
template <typename T>
class ModuleComPtr : public ScopedComPtr<T> {
public:
    ModuleComPtr() = default;
    ~ModuleComPtr() { this->Detach(); }
    ModuleComPtr(const ModuleComPtr&) = delete;
    ModuleComPtr& operator=(const ModuleComPtr&) = delete;
};

// A block of COM task memory, freed with CoTaskMemFree.
template <typename T>
struct TaskMemTraits {
    using Value = T*;
    static T* None() { return nullptr; }
    static bool IsValid(T* p) { return p != nullptr; }
    static void Free(T* p) { CoTaskMemFree(p); }
};
template <typename T>
using ScopedTaskMem = Scoped<TaskMemTraits<T>>;

// A UTF-16 string in COM task memory, the form in which the speech engine hands out token ids.
using TaskWideString = ScopedTaskMem<wchar_t>;

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
        Reset();
        module_ = LoadLibraryA(name);
        return module_ != nullptr;
    }
    void Reset() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    HMODULE Get() const { return module_; }

private:
    HMODULE module_ = nullptr;
};
