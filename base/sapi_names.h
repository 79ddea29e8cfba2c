// The speech engine's names for the values the plug-in hands it, and the numbers they must come to:
// the engine's contract is written in those numbers.
#pragma once

#include <windows.h>
#include <sapi.h>

// Class context of every engine object the plug-in creates: in-process server or handler, or a
// local server.
constexpr DWORD SAPI_CLASS_CONTEXT = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER;
static_assert(SAPI_CLASS_CONTEXT == 7, "engine objects are created with class context 7");

// Speak flags of a file: asynchronous, the text is a file name, and speech markup or plain text.
constexpr DWORD SPEAK_MARKUP_FILE = SPF_ASYNC | SPF_IS_FILENAME | SPF_IS_XML;
constexpr DWORD SPEAK_PLAIN_FILE = SPF_ASYNC | SPF_IS_FILENAME | SPF_IS_NOT_XML;
static_assert(SPEAK_MARKUP_FILE == 13 && SPEAK_PLAIN_FILE == 21, "the engine's flags for a file");

// Every text-to-speech event (ids 1 to 15) and the two flag-check bits the engine expects in a mask.
constexpr ULONGLONG SPEECH_EVENT_INTEREST = SPFEI_ALL_TTS_EVENTS;
static_assert(SPEECH_EVENT_INTEREST == 0x24000FFFEull, "interest in every text-to-speech event");
