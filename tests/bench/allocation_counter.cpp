#include "tests/bench/allocation_counter.h"

#include <objbase.h>

#include <atomic>
#include <cstring>

namespace bench {
namespace {

std::atomic<DWORD> CountingThread{0};
std::atomic<long> Allocations{0};
std::atomic<unsigned long long> BytesReadFromFiles{0};

void Note() {
    if (GetCurrentThreadId() == CountingThread.load(std::memory_order_relaxed)) ++Allocations;
}

// The real function behind each wrapper, filled in when the entry is patched.
void*(__cdecl* RealMalloc)(size_t);
void*(__cdecl* RealCalloc)(size_t, size_t);
void*(__cdecl* RealRealloc)(void*, size_t);
char*(__cdecl* RealStrdup)(const char*);
LPVOID(WINAPI* RealHeapAlloc)(HANDLE, DWORD, SIZE_T);
LPVOID(WINAPI* RealHeapReAlloc)(HANDLE, DWORD, LPVOID, SIZE_T);
HLOCAL(WINAPI* RealLocalAlloc)(UINT, SIZE_T);
HLOCAL(WINAPI* RealLocalReAlloc)(HLOCAL, SIZE_T, UINT);
HGLOBAL(WINAPI* RealGlobalAlloc)(UINT, SIZE_T);
HGLOBAL(WINAPI* RealGlobalReAlloc)(HGLOBAL, SIZE_T, UINT);
LPVOID(WINAPI* RealVirtualAlloc)(LPVOID, SIZE_T, DWORD, DWORD);
LPVOID(WINAPI* RealCoTaskMemAlloc)(SIZE_T);
LPVOID(WINAPI* RealCoTaskMemRealloc)(LPVOID, SIZE_T);
BSTR(WINAPI* RealSysAllocString)(const OLECHAR*);
BSTR(WINAPI* RealSysAllocStringLen)(const OLECHAR*, UINT);
BOOL(WINAPI* RealReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

void* __cdecl CountedMalloc(size_t n) { Note(); return RealMalloc(n); }
void* __cdecl CountedCalloc(size_t n, size_t size) { Note(); return RealCalloc(n, size); }
void* __cdecl CountedRealloc(void* p, size_t n) { Note(); return RealRealloc(p, n); }
char* __cdecl CountedStrdup(const char* s) { Note(); return RealStrdup(s); }
LPVOID WINAPI CountedHeapAlloc(HANDLE h, DWORD f, SIZE_T n) { Note(); return RealHeapAlloc(h, f, n); }
LPVOID WINAPI CountedHeapReAlloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) { Note(); return RealHeapReAlloc(h, f, p, n); }
HLOCAL WINAPI CountedLocalAlloc(UINT f, SIZE_T n) { Note(); return RealLocalAlloc(f, n); }
HLOCAL WINAPI CountedLocalReAlloc(HLOCAL p, SIZE_T n, UINT f) { Note(); return RealLocalReAlloc(p, n, f); }
HGLOBAL WINAPI CountedGlobalAlloc(UINT f, SIZE_T n) { Note(); return RealGlobalAlloc(f, n); }
HGLOBAL WINAPI CountedGlobalReAlloc(HGLOBAL p, SIZE_T n, UINT f) { Note(); return RealGlobalReAlloc(p, n, f); }
LPVOID WINAPI CountedVirtualAlloc(LPVOID a, SIZE_T n, DWORD t, DWORD p) { Note(); return RealVirtualAlloc(a, n, t, p); }
LPVOID WINAPI CountedCoTaskMemAlloc(SIZE_T n) { Note(); return RealCoTaskMemAlloc(n); }
LPVOID WINAPI CountedCoTaskMemRealloc(LPVOID p, SIZE_T n) { Note(); return RealCoTaskMemRealloc(p, n); }
BSTR WINAPI CountedSysAllocString(const OLECHAR* s) { Note(); return RealSysAllocString(s); }
BSTR WINAPI CountedSysAllocStringLen(const OLECHAR* s, UINT n) { Note(); return RealSysAllocStringLen(s, n); }
// Reads on any thread count: the DLL reads files on threads of its own.
BOOL WINAPI CountedReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    const BOOL result = RealReadFile(file, buffer, count, read, overlapped);
    if (result && read) BytesReadFromFiles += *read;
    return result;
}

struct Wrapper {
    const char* name;
    void* counted;
    void** real;
};

template <typename F>
Wrapper Wrap(const char* name, F counted, F* real) {
    return {name, reinterpret_cast<void*>(counted), reinterpret_cast<void**>(real)};
}

const Wrapper Wrappers[] = {
    Wrap("malloc", &CountedMalloc, &RealMalloc),
    Wrap("calloc", &CountedCalloc, &RealCalloc),
    Wrap("realloc", &CountedRealloc, &RealRealloc),
    Wrap("_strdup", &CountedStrdup, &RealStrdup),
    Wrap("HeapAlloc", &CountedHeapAlloc, &RealHeapAlloc),
    Wrap("HeapReAlloc", &CountedHeapReAlloc, &RealHeapReAlloc),
    Wrap("LocalAlloc", &CountedLocalAlloc, &RealLocalAlloc),
    Wrap("LocalReAlloc", &CountedLocalReAlloc, &RealLocalReAlloc),
    Wrap("GlobalAlloc", &CountedGlobalAlloc, &RealGlobalAlloc),
    Wrap("GlobalReAlloc", &CountedGlobalReAlloc, &RealGlobalReAlloc),
    Wrap("VirtualAlloc", &CountedVirtualAlloc, &RealVirtualAlloc),
    Wrap("CoTaskMemAlloc", &CountedCoTaskMemAlloc, &RealCoTaskMemAlloc),
    Wrap("CoTaskMemRealloc", &CountedCoTaskMemRealloc, &RealCoTaskMemRealloc),
    Wrap("SysAllocString", &CountedSysAllocString, &RealSysAllocString),
    Wrap("SysAllocStringLen", &CountedSysAllocStringLen, &RealSysAllocStringLen),
    Wrap("ReadFile", &CountedReadFile, &RealReadFile),
};

// One patched slot of the import address table and what it held.
struct PatchedSlot {
    void** slot;
    void* original;
};
std::vector<PatchedSlot> Patched;

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtection, &oldProtection);
}

const Wrapper* WrapperNamed(const char* name) {
    for (const Wrapper& wrapper : Wrappers)
        if (std::strcmp(wrapper.name, name) == 0) return &wrapper;
    return nullptr;
}

}  // namespace

std::vector<std::string> InstallAllocationCounter(HMODULE module) {
    RemoveAllocationCounter();
    std::vector<std::string> found;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return found;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        DWORD lookup = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const Wrapper* wrapper = WrapperNamed(reinterpret_cast<const char*>(byName->Name));
            if (!wrapper) continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            *wrapper->real = *slot;
            Patched.push_back({slot, *slot});
            WriteSlot(slot, wrapper->counted);
            found.push_back(wrapper->name);
        }
    }
    return found;
}

void RemoveAllocationCounter() {
    for (const PatchedSlot& patched : Patched) WriteSlot(patched.slot, patched.original);
    Patched.clear();
}

void StartCounting() {
    Allocations = 0;
    CountingThread = GetCurrentThreadId();
}

long StopCounting() {
    CountingThread = 0;
    return Allocations.load();
}

unsigned long long BytesRead() { return BytesReadFromFiles.load(); }

}  // namespace bench
