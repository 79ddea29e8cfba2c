// Threads that run this library's code on their own: each holds a reference to the library while it
// runs, so one that outlives Quit (blocked in a read) never wakes in code that was unloaded.
#pragma once

#include <windows.h>

#include "base/scoped.h"

// Runs body(context) on a new thread; anything body throws ends it quietly. False, with body not run,
// when the thread cannot start; the caller then still owns what context points to.
bool StartLibraryThread(void (*body)(void* context), void* context, ScopedHandle* thread);
