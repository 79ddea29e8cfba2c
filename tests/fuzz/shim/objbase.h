// COM task memory, on malloc and free. task_memory.cpp counts the blocks and can refuse one.
#pragma once

#include <cstddef>

#include "windows.h"

void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);

// Blocks handed out and not yet freed.
long TaskMemoryBlocksLive();
// The allocation after this many more succeeds returns null, once; -1 turns that off.
void FailTaskMemoryAllocationAfter(long allocations);
