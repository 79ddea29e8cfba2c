// What the espeak-ng voice hands to espeak-ng: the text one sentence at a time (SplitIntoSentences:
// so the first sound comes soon, a rate change applies from the next chunk on and a purge stops
// between chunks), cut at every silence, the speaking speed for a rate, and each chunk's input —
// plain text as it is, markup rewritten as the SSML that espeak-ng understands. Silences are not
// espeak-ng's: the voice plays them itself, as zero samples, so that one of any length plays whole.
#pragma once

#include "engine/speech_text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// Whether a chunk gives espeak-ng anything to do: a character other than a blank.
bool ChunkHasSpeech(const SpeechText& speech, TextSpan chunk);

// The chunk that starts at `start`: its sentence (SentenceAt), cut where `end` is and at the first
// silence after `start`.
TextSpan EspeakChunkAt(const SpeechText& speech, ULONG start, ULONG end);

// Whether the voice that speaks `range` plays a silence at `position`: one inside the range, or one
// at its end when that is the very end of the text.
bool SilenceInRange(const SpeechText& speech, TextSpan range, ULONG position);

// Frames of a silence at the output's rate, rounded to the nearest.
ULONGLONG SilenceFrames(ULONGLONG milliseconds, DWORD samplesPerSec);

// espeak-ng's speed in words per minute for a rate of -10..10: 175 at 0, growing by about 3^(rate/10)
// up to 525 at 10 and falling to espeak-ng's slowest, 80, at -10.
long EspeakWordsPerMinute(long rate);

// espeak-ng's input for one chunk, spoken at `voiceRate`. Plain text: the chunk's text. Markup:
// an SSML document in which rate and volume become <prosody>, emphasis <emphasis> and spelling
// <say-as interpret-as="characters">; the text is escaped, so nothing else in it can be taken for
// a tag.
std::wstring EspeakInput(const SpeechText& speech, TextSpan chunk, long voiceRate);

// UTF-16 to UTF-8.
std::string Utf8(const std::wstring& text);

}  // namespace engine
