// Registering a DLL as the in-process server of the voice, notify translator and token category
// classes for the whole machine (HKLM\Software\Classes\CLSID\{...}\InprocServer32, which every
// apartment's CoCreateInstance reads; Wine ignores the same key under HKCU), and undoing it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine {

// Whether this process runs under Wine: Wine's ntdll exports wine_get_version, Windows' does not.
bool RunningUnderWine();

// Whether the classes may be registered: only under Wine, which has no speech engine of its own.
// On Windows registering would replace the system's speech for every program. S_OK, or
// HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) with RegistrationRefusal() saying why.
HRESULT RegistrationAllowed(bool underWine);
extern const char RegistrationRefusal[];

// Points the three classes' InprocServer32 default value at `dllPath`, ThreadingModel "Both".
// What was there before is kept beside it so that UnregisterInprocServer can put it back;
// registering again keeps the first saved values.
HRESULT RegisterInprocServer(const std::wstring& dllPath);

// Puts back what RegisterInprocServer found: the previous values, or no key where there was
// none. Classes it did not register are left alone.
HRESULT UnregisterInprocServer();

// Writes one token per voice under the voices category's key (its values, and its attributes in
// an Attributes key), so that a voice's id opens with SAPI's own token class in any program; each
// is marked as the engine's. Tokens of the same name that are not the engine's are left alone.
HRESULT RegisterVoiceTokens(const std::vector<VoiceInfo>& voices);

// Removes the tokens RegisterVoiceTokens wrote, and no other.
HRESULT UnregisterVoiceTokens();

// The registry path below HKEY_LOCAL_MACHINE of a token id in that hive; empty for any other id.
std::wstring MachineKeyOfTokenId(const std::wstring& id);

}  // namespace engine
