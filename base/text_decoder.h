// Turns a text file's bytes, given in chunks of any size, into UTF-16 by the one encoding rule
// (base/text_encoding.h). No platform calls here: the ANSI code page comes in as callbacks, so the
// plug-in and native fuzzers run the same code.
//
// Bytes without a mark are decoded as UTF-8 while every byte so far is valid UTF-8, so a long file's
// start can be used before its last byte is read. When a later byte turns out not to be UTF-8, the
// file is ANSI: text that had only ASCII so far reads the same either way and decoding goes on in the
// code page; text that already held a decoded multi-byte sequence was misread (Misread()), and the
// caller decodes the file again knowing it is ANSI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/text_encoding.h"

struct AnsiCodePage {
    // Converts `count` bytes of whole characters into at most `capacity` units; the units written, 0
    // when the conversion failed.
    size_t (*convert)(const uint8_t* bytes, size_t count, char16_t* out, size_t capacity);
    // Whether the byte starts a double-byte character.
    bool (*isLeadByte)(uint8_t byte);
};

class TextDecoder {
public:
    static constexpr size_t CHUNK_BYTES = 64 * 1024;

    explicit TextDecoder(AnsiCodePage ansi);
    // Bytes without a mark are known to be ANSI (a second reading after a misread one).
    void AssumeAnsi() { assumeAnsi_ = true; }

    // Room for the next chunk, CHUNK_BYTES long, after the bytes the last chunk left.
    uint8_t* Room() { return bytes_.data() + carried_; }
    // Decodes `read` bytes put into Room(), with those carried; `last` after the file's last chunk.
    // Appends the units to `out`, which has room for at least OutRoom() units, and returns how many.
    // Nothing follows the text's first 0 unit (Ended()), nor a misreading; after the first 0, bytes
    // without a mark taken for UTF-8 are still given, until Finished(), to learn whether they are.
    size_t Decode(size_t read, bool last, char16_t* out);
    static constexpr size_t OutRoom() { return CHUNK_BYTES + 8; }

    bool Ended() const { return ended_; }
    // The text has ended and nothing left to read can change it or its encoding.
    bool Finished() const { return misread_ || (ended_ && !NeedsVerdict()); }
    bool Misread() const { return misread_; }
    // Known once a mark was found, or the last chunk was decoded, or a byte ruled out UTF-8.
    bool EncodingKnown() const { return known_; }
    TextEncoding Encoding() const { return encoding_; }
    // Whether the text may hold characters outside the ANSI code page: it is not ANSI text.
    bool Utf16() const { return encoding_ != TextEncoding::Ansi; }

private:
    size_t DecodeUtf16(size_t at, size_t count, bool bigEndian, char16_t* out);
    size_t DecodeUtf8(size_t at, size_t count, bool last, char16_t* out);
    size_t DecodeAnsi(size_t at, size_t count, bool last, char16_t* out);
    void Carry(size_t from, size_t count);
    size_t ScanAfterEnd(size_t read, bool last);
    bool NeedsVerdict() const { return !markFound_ && !asAnsi_ && nonAsciiDecoded_ && !known_; }
    size_t EndAtZero(char16_t* out, size_t units);

    AnsiCodePage ansi_;
    std::vector<uint8_t> bytes_;
    size_t carried_ = 0;
    bool first_ = true;
    bool markFound_ = false;
    bool assumeAnsi_ = false;
    bool known_ = false;
    bool ended_ = false;
    bool misread_ = false;
    bool nonAsciiDecoded_ = false;  // a byte over 0x7F was decoded as UTF-8
    bool asAnsi_ = false;           // bytes without a mark are decoded in the code page from now on
    TextEncoding encoding_ = TextEncoding::Ansi;
    Utf8Scan scan_;
};
