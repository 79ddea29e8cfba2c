// What the espeak-ng voice hands to espeak-ng: the text one sentence at a time (SplitIntoSentences:
// so the first sound comes soon, a rate change applies from the next chunk on and a purge stops
// between chunks), the speaking speed for a rate, and each chunk's input — plain text as it is, markup
// rewritten as the SSML that espeak-ng understands.
#pragma once

#include "engine/speech_text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// Whether a chunk gives espeak-ng anything to do: a character other than a blank, or a silence.
bool ChunkHasSpeech(const SpeechText& speech, TextSpan chunk);

// espeak-ng's speed in words per minute for a rate of -10..10: 175 at 0, growing by about 3^(rate/10)
// up to 525 at 10 and falling to espeak-ng's slowest, 80, at -10.
long EspeakWordsPerMinute(long rate);

// espeak-ng's input for one chunk, spoken at `voiceRate`. Plain text: the chunk's text. Markup:
// an SSML document in which silences become <break>, rate and volume <prosody>, emphasis
// <emphasis> and spelling <say-as interpret-as="characters">; the text is escaped, so nothing
// else in it can be taken for a tag.
std::wstring EspeakInput(const SpeechText& speech, TextSpan chunk, long voiceRate);

// UTF-16 to UTF-8.
std::string Utf8(const std::wstring& text);

}  // namespace engine
