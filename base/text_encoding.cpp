#include "base/text_encoding.h"

#include <cstring>

namespace {

constexpr char16_t REPLACEMENT_CHARACTER = 0xFFFD;

// What a byte starts: the length of its sequence (1 for ASCII, 0 for a byte that starts none) and the
// range its second byte must fall in, which rules out overlong forms, surrogates and code points
// above U+10FFFF. Every later byte is 80..BF.
struct Lead {
    int length;
    uint8_t low, high;
};

Lead LeadOf(uint8_t byte) {
    if (byte < 0x80) return {1, 0, 0};
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
    if (byte == 0xE0) return {3, 0xA0, 0xBF};
    if (byte == 0xED) return {3, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
    if (byte == 0xF0) return {4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
    if (byte == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

bool FitsContinuation(const Lead& lead, int index, uint8_t byte) {
    const uint8_t low = index == 1 ? lead.low : 0x80;
    const uint8_t high = index == 1 ? lead.high : 0xBF;
    return byte >= low && byte <= high;
}

// The sequence that starts at bytes[0]: its code point and length, or a length of 0 when it is not
// valid; -1 when it is valid so far but runs past the end of the bytes.
int ReadSequence(const uint8_t* bytes, size_t size, uint32_t* codePoint) {
    const Lead lead = LeadOf(bytes[0]);
    if (lead.length == 0) return 0;
    uint32_t code = bytes[0] & (0x7F >> (lead.length - 1 + (lead.length > 1)));
    for (int index = 1; index < lead.length; ++index) {
        if (static_cast<size_t>(index) >= size) return -1;
        if (!FitsContinuation(lead, index, bytes[index])) return 0;
        code = (code << 6) | (bytes[index] & 0x3F);
    }
    *codePoint = code;
    return lead.length;
}

// Eight ASCII bytes at once: most text is mostly ASCII.
bool EightAscii(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return (word & 0x8080808080808080ull) == 0;
}

}  // namespace

ByteOrderMark FindByteOrderMark(const uint8_t* bytes, size_t size) {
    ByteOrderMark mark;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        mark = {true, TextEncoding::Utf8, 3};
    else if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        mark = {true, TextEncoding::Utf16LE, 2};
    else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        mark = {true, TextEncoding::Utf16BE, 2};
    return mark;
}

void Utf8Scan::Add(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size && !invalid_; ++i) {
        while (pending_ == 0 && i + 8 <= size && EightAscii(bytes + i)) i += 8;
        if (i == size) break;
        const uint8_t byte = bytes[i];
        if (pending_ > 0) {
            invalid_ = byte < low_ || byte > high_;
            low_ = 0x80;
            high_ = 0xBF;
            --pending_;
        } else if (byte >= 0x80) {
            const Lead lead = LeadOf(byte);
            invalid_ = lead.length == 0;
            multiByte_ = true;
            pending_ = lead.length - 1;
            low_ = lead.low;
            high_ = lead.high;
        }
    }
}

TextEncoding Utf8Scan::Verdict() const {
    return !invalid_ && pending_ == 0 && multiByte_ ? TextEncoding::Utf8 : TextEncoding::Ansi;
}

// The two- and three-byte sequences of most text, checked without the general path.
bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

size_t Utf8ToUtf16(const uint8_t* bytes, size_t size, bool lastPiece, char16_t* out, size_t capacity,
                   size_t* consumed) {
    size_t read = 0, written = 0;
    while (read < size && written < capacity) {
        const uint8_t byte = bytes[read];
        if (byte < 0x80) {
            out[written++] = byte;
            ++read;
            continue;
        }
        const size_t left = size - read;
        if (byte >= 0xC2 && byte <= 0xDF && left >= 2 && IsContinuation(bytes[read + 1])) {
            out[written++] = static_cast<char16_t>(((byte & 0x1F) << 6) | (bytes[read + 1] & 0x3F));
            read += 2;
            continue;
        }
        if (byte >= 0xE1 && byte <= 0xEF && byte != 0xED && left >= 3 && IsContinuation(bytes[read + 1]) &&
            IsContinuation(bytes[read + 2])) {
            out[written++] =
                static_cast<char16_t>(((byte & 0x0F) << 12) | ((bytes[read + 1] & 0x3F) << 6) | (bytes[read + 2] & 0x3F));
            read += 3;
            continue;
        }
        uint32_t code = 0;
        int length = ReadSequence(bytes + read, left, &code);
        if (length < 0 && !lastPiece) break;  // the next piece completes it
        if (length <= 0) {
            code = REPLACEMENT_CHARACTER;
            length = 1;
        }
        const size_t units = code >= 0x10000 ? 2 : 1;
        if (written + units > capacity) break;
        if (units == 2) {
            out[written++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out[written++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[written++] = static_cast<char16_t>(code);
        }
        read += length;
    }
    *consumed = read;
    return written;
}

void SwapUtf16Bytes(const uint8_t* bytes, size_t count, char16_t* out) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
}
