// Speech event records and their payloads.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <string>

namespace engine {

SPEVENT PlainEvent(SPEVENTENUM id, ULONG streamNumber, ULONGLONG audioOffset, WPARAM wParam = 0, LPARAM lParam = 0);

// Events carrying each kind of payload, which the receiver of the event must give back.
SPEVENT VoiceChangeEvent(ULONG streamNumber, ULONGLONG audioOffset, const std::wstring& voiceId);  // a token
SPEVENT BookmarkEvent(ULONG streamNumber, ULONGLONG audioOffset, const std::wstring& mark);        // a string
SPEVENT PrivatePointerEvent(ULONG streamNumber, ULONGLONG audioOffset);                           // task memory
SPEVENT PrivateObjectEvent(ULONG streamNumber, ULONGLONG audioOffset);                            // an object

// Gives back what the event's lParam owns and empties the record.
void ReleaseEventPayload(SPEVENT& event);

// Bit of an event id in an interest mask.
inline ULONGLONG InterestBit(SPEVENTENUM id) { return 1ull << id; }

}  // namespace engine
