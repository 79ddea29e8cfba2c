// The text a voice speaks: decoding a file's bytes, dropping markup, finding words.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

struct Bookmark {
    ULONG position;  // index in the spoken text before which the mark stands
    std::wstring name;
};

struct SpeechText {
    std::wstring text;
    std::vector<Bookmark> bookmarks;
};

struct WordSpan {
    ULONG position;
    ULONG length;
};

// UTF-16LE after FF FE, UTF-8 after EF BB BF, otherwise the ANSI code page.
std::wstring DecodeTextBytes(const std::vector<unsigned char>& bytes);

// Drops tags, decodes entities and collects <bookmark mark="..."/> positions.
SpeechText ParseMarkup(const std::wstring& markup);

// What a plain-text or markup input speaks.
SpeechText ParseSpeech(const std::wstring& input, bool isXml);

// Runs of characters other than blanks and control characters.
std::vector<WordSpan> FindWords(const std::wstring& text);

// Without an explicit flag, input whose first non-blank character is '<' is markup.
bool LooksLikeMarkup(const std::wstring& input);

}  // namespace engine
