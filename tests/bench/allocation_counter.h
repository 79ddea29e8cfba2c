// Counts the heap allocations a loaded DLL makes on one thread, and the bytes it reads from files, by pointing the allocation entries
// of its import address table (malloc, HeapAlloc, CoTaskMemAlloc, ...) at counting wrappers that
// call the real functions. Only calls through the DLL's own imports are seen: allocations made by
// the functions it calls in other modules are not the DLL's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

// Patches the DLL's imports; returns the names of the entries it found and redirected (an entry
// the DLL does not import cannot be called by it). One module at a time.
std::vector<std::string> InstallAllocationCounter(HMODULE module);
// Puts the real functions back.
void RemoveAllocationCounter();

// Allocations counted on the calling thread from StartCounting until StopCounting.
void StartCounting();
long StopCounting();

// Bytes the DLL has read with ReadFile, on any thread, since the counter was installed first.
unsigned long long BytesRead();

}  // namespace bench
