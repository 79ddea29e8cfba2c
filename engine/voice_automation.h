// The automation face of the voice (ISpeechVoice, a dual interface, and IDispatch), so that
// scripts and late-bound programs can use it: CreateObject("SAPI.SpVoice") in VBScript, JScript,
// PowerShell, VB6. IDispatch is served from the SAPI type library the prefix has (Wine's sapi.dll
// carries one), dispatching over the interfaces' own vtables.
#pragma once

#include "base/scoped.h"
#include "engine/voice_core.h"

#include <windows.h>
#include <sapi.h>

namespace engine {

// The automation face a voice hands out for ISpeechVoice and IDispatch. It has no reference count
// of its own: QueryInterface, AddRef and Release go to `owner`, which keeps it as long as it lives
// (made with NewVoiceAutomation, given back with DeleteVoiceAutomation when the owner goes).
// EventInterests reads and sets the automation interest of the owner's core (voice_events.h).
ISpeechVoice* NewVoiceAutomation(ISpVoice* owner, std::shared_ptr<VoiceCore> core);
void DeleteVoiceAutomation(ISpeechVoice* automation);

struct VoiceAutomationTraits {
    using Value = ISpeechVoice*;
    static ISpeechVoice* None() { return nullptr; }
    static bool IsValid(ISpeechVoice* p) { return p != nullptr; }
    static void Free(ISpeechVoice* p) { DeleteVoiceAutomation(p); }
};
using ScopedVoiceAutomation = Scoped<VoiceAutomationTraits>;

// A token's automation face (ISpeechObjectToken), with a reference for the caller.
ISpeechObjectToken* NewTokenAutomation(ISpObjectToken* token);

// The type information of one of SAPI's automation interfaces: its vtable interface (for
// dispatching) when `forDispatching`, otherwise its dispatch interface (what GetTypeInfo hands
// out). TYPE_E_LIBNOTREGISTERED or the loader's error when the prefix has no SAPI type library.
HRESULT SpeechTypeInfo(REFIID iid, bool forDispatching, ITypeInfo** info);

}  // namespace engine
