// The voice's events for automation clients: IConnectionPointContainer with one connection point, for
// SAPI's _ISpeechVoiceEvents, as scripting hosts and late-bound programs connect to a voice
// (VB6's WithEvents, WScript.CreateObject with a prefix, PowerShell's Register-ObjectEvent). The events
// the voice's automation interest names (EventInterests; by default all but the audio level) are sent
// to every connected client on the thread that connected first, from that thread's message loop, in
// the order the voice queued them.
#pragma once

#include "engine/voice_core.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <vector>

namespace engine {

// Like the automation face, it has no reference count of its own: QueryInterface, AddRef and Release
// go to `owner`, which keeps it while it lives.
IConnectionPointContainer* NewVoiceConnections(ISpVoice* owner, std::shared_ptr<VoiceCore> core);
void DeleteVoiceConnections(IConnectionPointContainer* connections);

// The voice's IConnectionPointContainer, IProvideClassInfo or IProvideClassInfo2 face, with a
// reference; E_NOINTERFACE for any other.
HRESULT QueryVoiceConnections(IConnectionPointContainer* connections, REFIID iid, void** object);

struct VoiceConnectionsTraits {
    using Value = IConnectionPointContainer*;
    static IConnectionPointContainer* None() { return nullptr; }
    static bool IsValid(IConnectionPointContainer* p) { return p != nullptr; }
    static void Free(IConnectionPointContainer* p) { DeleteVoiceConnections(p); }
};
using ScopedVoiceConnections = Scoped<VoiceConnectionsTraits>;

// The event's arguments for _ISpeechVoiceEvents, last first as DISPPARAMS takes them, and its member;
// false for an event that has no automation form. `token` is the dispatch face of a voice change's token.
bool AutomationArguments(const AutomationEvent& event, IDispatch* token, DISPID& member, std::vector<VARIANT>& arguments);

}  // namespace engine
