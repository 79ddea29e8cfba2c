// The speech engine's event records: what an event's lParam owns, by its type, goes back to whoever
// made it, once, whatever receives the event.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <cstring>

// Gives back the payload (a token or an object: Release; a pointer or a string: CoTaskMemFree), then
// zeroes the record, so clearing it again does nothing.
inline void ClearSpeechEvent(SPEVENT& event) {
    switch (event.elParamType) {
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
        if (event.lParam) reinterpret_cast<IUnknown*>(event.lParam)->Release();
        break;
    case SPET_LPARAM_IS_POINTER:
    case SPET_LPARAM_IS_STRING:
        CoTaskMemFree(reinterpret_cast<void*>(event.lParam));
        break;
    default:
        break;
    }
    std::memset(&event, 0, sizeof event);
}
