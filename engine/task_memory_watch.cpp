// A malloc spy that sees every CoTaskMemFree of the process, so that tests can tell whether
// the event payloads the voice handed out in task memory were freed.
#include "engine/com_object.h"
#include "engine/engine_state.h"

#include <objbase.h>

namespace engine {
namespace {

class PayloadSpy : public StaticObject<IMallocSpy> {
public:
    PayloadSpy() : StaticObject(IID_IMallocSpy) {}

    // Every block passes through unchanged; only frees are looked at.
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T bytes) override { return bytes; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override { return block; }
    void* STDMETHODCALLTYPE PreFree(void* block, WINBOOL) override {
        if (block) NoteTaskMemoryFreed(block);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(WINBOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T bytes, void** newBlock, WINBOOL) override {
        *newBlock = block;
        return bytes;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, WINBOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, WINBOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T bytes, WINBOOL) override { return bytes; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, WINBOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, WINBOOL, int allocated) override { return allocated; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

PayloadSpy Spy;

}  // namespace

void StartWatchingTaskMemory() {
    if (TaskMemoryWatched()) return;
    if (SUCCEEDED(CoRegisterMallocSpy(&Spy))) NoteTaskMemoryWatched();
}

}  // namespace engine
