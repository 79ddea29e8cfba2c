// The voices token category, its enumerator and its tokens.
#pragma once

#include "engine/engine.h"

#include <windows.h>
#include <sapi.h>

namespace engine {

HRESULT CreateCategory(REFIID iid, void** object);

// A new token for an installed voice; one reference for the caller.
ISpObjectToken* NewToken(const VoiceInfo& voice);

// A new token for the voice with this id: the installed one, or a token without values.
ISpObjectToken* NewTokenForId(const std::wstring& id);

// The id of one of the engine's own tokens, read without going through GetId (so that
// neither the log nor injected failures see it); false for any other token.
bool OwnTokenId(ISpObjectToken* token, std::wstring& id);

}  // namespace engine
