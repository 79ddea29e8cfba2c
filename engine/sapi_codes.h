// SAPI result codes that MinGW's sperror.h leaves out.
#pragma once

#include <windows.h>
#include <sperror.h>

namespace engine {

const HRESULT SPERR_UNINITIALIZED = static_cast<HRESULT>(0x80045001);
const HRESULT SPERR_ALREADY_INITIALIZED = static_cast<HRESULT>(0x80045002);
const HRESULT SPERR_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x80045003);
const HRESULT SPERR_DEVICE_BUSY = static_cast<HRESULT>(0x80045006);
const HRESULT SPERR_DEVICE_NOT_ENABLED = static_cast<HRESULT>(0x80045008);
const HRESULT SPERR_NO_DRIVER = static_cast<HRESULT>(0x80045009);
const HRESULT SPERR_NO_MORE_ITEMS = static_cast<HRESULT>(0x80045039);

// The format id of wave data, and a purge that gave up waiting for the engine thread.
extern const GUID WaveFormatExId;
const HRESULT PurgeTimeoutResult = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

}  // namespace engine
