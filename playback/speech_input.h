// What the voice is given for a file. A SAPI voice given a file's name reads it as UTF-16 after the
// little-endian mark and otherwise in the ANSI code page; a file in any other encoding is decoded here
// and given to the voice as text, so every voice speaks what the Text info window shows.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "base/text_encoding.h"

struct SpeechInput {
    TextEncoding encoding = TextEncoding::Ansi;
    std::wstring text;  // the whole decoded text, when the voice is not given the file's name
    bool decoded = false;  // the text was asked for whatever the encoding (a file read from a place)
    int64_t textShift = 0;  // positions in text lie this much further in the file's text
    std::string failure;    // why a document has no text (ReadSpeechInput returned false)

    bool ByName() const {
        return !decoded && (encoding == TextEncoding::Ansi || encoding == TextEncoding::Utf16LE);
    }
};

// Reads the file as far as its encoding requires: the mark alone for UTF-16 little-endian, the whole
// of it otherwise (whether bytes without a mark are UTF-8 depends on all of them), and decodes it when
// the voice cannot be given its name. Stops early, returning false, when *cancel becomes true. A file
// that cannot be opened or read is given by name (the voice then reports it as it would); false also
// when its text does not fit in memory.
// With wholeText, the text is decoded whatever the encoding, as the Text info window decodes it (ANSI
// text up to its first 0 byte), for speaking it from a place.
// A document (documents/played_document.h) is given as its extracted text; when it has none, false
// with input->failure saying why.
bool ReadSpeechInput(const char* path, SpeechInput* input, const std::atomic<bool>* cancel = nullptr,
                     bool wholeText = false);

// Files up to this size are read on the thread of Play; longer ones off it.
constexpr uint64_t SPEECH_INPUT_READ_HERE_BYTES = 256u << 10;
