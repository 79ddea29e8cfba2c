// How the bytes of a text file are read: the one rule the Text info window and the voice share. No
// platform calls here, so native tests and fuzzers use the same code as the plug-in.
//
// FF FE: UTF-16 little-endian. FE FF: UTF-16 big-endian. EF BB BF: UTF-8 (the mark is not text). No
// mark: UTF-8 when all the bytes are valid UTF-8 and hold at least one multi-byte sequence, otherwise
// the ANSI code page (pure ASCII reads the same either way).
#pragma once

#include <cstddef>
#include <cstdint>

enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

// The byte-order mark a file starts with, if any: the encoding it names and its length in bytes.
struct ByteOrderMark {
    bool found = false;
    TextEncoding encoding = TextEncoding::Ansi;
    unsigned length = 0;
};
ByteOrderMark FindByteOrderMark(const uint8_t* bytes, size_t size);

// Tells UTF-8 from ANSI for bytes without a mark, given in pieces of any size (a sequence may span
// two pieces). Valid UTF-8 as the standard defines it: no overlong forms, no surrogates, nothing
// above U+10FFFF, and no sequence cut off at the end.
class Utf8Scan {
public:
    void Add(const uint8_t* bytes, size_t size);
    // Some byte so far cannot be UTF-8: the verdict is ANSI whatever follows.
    bool Invalid() const { return invalid_; }
    // After the last piece.
    TextEncoding Verdict() const;

private:
    bool invalid_ = false;
    bool multiByte_ = false;
    int pending_ = 0;       // continuation bytes still expected
    uint8_t low_ = 0x80;    // the range the next continuation byte must fall in
    uint8_t high_ = 0xBF;
};

// Converts UTF-8 to UTF-16 into at most capacity units, and returns the units written. Stops before
// a sequence that the next piece completes, and tells how many bytes it took (*consumed), so the
// rest can be given again with the next piece. Each invalid byte becomes U+FFFD and decoding goes
// on: nothing after a bad byte is lost.
size_t Utf8ToUtf16(const uint8_t* bytes, size_t size, bool lastPiece, char16_t* out, size_t capacity,
                   size_t* consumed);

// UTF-16 big-endian bytes to code units: count units from 2 * count bytes.
void SwapUtf16Bytes(const uint8_t* bytes, size_t count, char16_t* out);
