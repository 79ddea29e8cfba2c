// The notify translator: turns the voice's notifications into a set Win32 event.
#pragma once

#include <windows.h>

namespace engine {

HRESULT CreateNotifyTranslator(REFIID iid, void** object);

}  // namespace engine
