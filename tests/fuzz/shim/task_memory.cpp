#include "objbase.h"

#include <cstdlib>

namespace {

long LiveBlocks = 0;
long AllocationsBeforeFailure = -1;

}  // namespace

void* CoTaskMemAlloc(size_t size) {
    if (AllocationsBeforeFailure == 0) {
        AllocationsBeforeFailure = -1;
        return nullptr;
    }
    if (AllocationsBeforeFailure > 0) --AllocationsBeforeFailure;
    void* block = std::malloc(size);
    if (block) ++LiveBlocks;
    return block;
}

void CoTaskMemFree(void* block) {
    if (!block) return;
    --LiveBlocks;
    std::free(block);
}

long TaskMemoryBlocksLive() { return LiveBlocks; }

void FailTaskMemoryAllocationAfter(long allocations) { AllocationsBeforeFailure = allocations; }
