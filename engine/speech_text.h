// The text a voice speaks: decoding a file's bytes, dropping markup (keeping what its tags ask
// for: bookmarks, silences and prosody, by position in the text), finding words.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

struct Bookmark {
    ULONG position;  // index in the spoken text before which the mark stands
    std::wstring name;
};

// How the text from a position on is to be spoken, as the markup's open tags say. Rates are in
// the voice's steps (-10..10): added to the voice's rate, or replacing it when `absoluteRate`.
struct Prosody {
    long rate = 0;
    bool absoluteRate = false;
    unsigned volume = 100;  // percent of the voice's volume
    bool emphasis = false;
    bool spell = false;  // letter by letter
};

struct ProsodyChange {
    ULONG position;  // index in the spoken text from which `prosody` holds
    Prosody prosody;
};

struct Silence {
    ULONG position;
    ULONG milliseconds;
};

struct SpeechText {
    std::wstring text;
    std::vector<Bookmark> bookmarks;
    bool markup = false;
    std::vector<ProsodyChange> prosody;  // in order of position; none for plain text
    std::vector<Silence> silences;
};

struct WordSpan {
    ULONG position;
    ULONG length;
};

// UTF-16LE after FF FE, UTF-8 after EF BB BF, otherwise the ANSI code page.
std::wstring DecodeTextBytes(const std::vector<unsigned char>& bytes);

// Drops tags, decodes entities and collects <bookmark mark="..."/> and <silence msec="..."/>
// positions and the prosody that <rate>, <volume>, <emph> and <spell> ask for; other tags are
// dropped without effect, their text kept. Comments and processing instructions are skipped.
SpeechText ParseMarkup(const std::wstring& markup);

// What a plain-text or markup input speaks.
SpeechText ParseSpeech(const std::wstring& input, bool isXml);

// Decodes &lt; &gt; &amp; &quot; &apos; and numeric character references.
std::wstring DecodeEntities(const std::wstring& text);

// Runs of characters other than blanks and control characters.
std::vector<WordSpan> FindWords(const std::wstring& text);

// Without an explicit flag, input whose first non-blank character is '<' is markup.
bool LooksLikeMarkup(const std::wstring& input);

}  // namespace engine
