#include "base/text_decoder.h"

#include <algorithm>
#include <cstring>

TextDecoder::TextDecoder(AnsiCodePage ansi) : ansi_(ansi), bytes_(CHUNK_BYTES + 8) {}

void TextDecoder::Carry(size_t from, size_t count) {
    carried_ = count - from;
    std::memmove(bytes_.data(), bytes_.data() + from, carried_);
}

// The text ends at its first 0 unit.
size_t TextDecoder::EndAtZero(char16_t* out, size_t units) {
    const char16_t* zero = std::find(out, out + units, u'\0');
    if (zero == out + units) return units;
    ended_ = true;
    return static_cast<size_t>(zero - out);
}

size_t TextDecoder::DecodeUtf16(size_t at, size_t count, bool bigEndian, char16_t* out) {
    const size_t units = (count - at) / 2;
    if (bigEndian)
        SwapUtf16Bytes(bytes_.data() + at, units, out);
    else
        std::memcpy(out, bytes_.data() + at, units * 2);
    Carry(at + units * 2, count);  // an odd last byte is no character
    return units;
}

size_t TextDecoder::DecodeUtf8(size_t at, size_t count, bool last, char16_t* out) {
    size_t consumed = 0;
    const size_t units = Utf8ToUtf16(bytes_.data() + at, count - at, last, out, OutRoom(), &consumed);
    Carry(at + consumed, count);
    return units;
}

// Whole characters only: a lead byte at the chunk's end waits for its trail byte. The text ends at
// the first 0 byte; a failed conversion ends it too.
size_t TextDecoder::DecodeAnsi(size_t at, size_t count, bool last, char16_t* out) {
    const uint8_t* bytes = bytes_.data() + at;
    const size_t available = count - at;
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(bytes, 0, available));
    size_t end = zero ? static_cast<size_t>(zero - bytes) : available;
    size_t whole = 0;
    while (whole < end) whole += ansi_.isLeadByte(bytes[whole]) ? 2 : 1;
    if (whole > end && !zero && !last) end = whole - 2;
    size_t units = end ? ansi_.convert(bytes, end, out, OutRoom()) : 0;
    if (zero || (end > 0 && units == 0)) ended_ = true;
    Carry(zero ? count : at + end, count);
    return units;
}

// After a text's first 0, bytes without a mark that were taken for UTF-8 are still scanned: whether
// they were depends on every one of them.
size_t TextDecoder::ScanAfterEnd(size_t read, bool last) {
    scan_.Add(bytes_.data(), read);
    if (scan_.Invalid() || (last && scan_.Verdict() == TextEncoding::Ansi)) {
        misread_ = true;
        encoding_ = TextEncoding::Ansi;
    }
    known_ = misread_ || last;
    return 0;
}

size_t TextDecoder::Decode(size_t read, bool last, char16_t* out) {
    if (misread_) return 0;
    if (ended_) return NeedsVerdict() ? ScanAfterEnd(read, last) : 0;
    const size_t count = carried_ + read;
    size_t at = 0;
    if (first_) {
        first_ = false;
        const ByteOrderMark mark = FindByteOrderMark(bytes_.data(), count);
        if (mark.found) {
            markFound_ = known_ = true;
            encoding_ = mark.encoding;
            at = mark.length;
        } else if (assumeAnsi_) {
            known_ = asAnsi_ = true;
        }
    }
    size_t units = 0;
    if (markFound_) {
        switch (encoding_) {
        case TextEncoding::Utf16LE: units = DecodeUtf16(at, count, false, out); break;
        case TextEncoding::Utf16BE: units = DecodeUtf16(at, count, true, out); break;
        case TextEncoding::Utf8: units = DecodeUtf8(at, count, last, out); break;
        default: units = DecodeAnsi(at, count, last, out); break;
        }
    } else if (asAnsi_) {
        units = DecodeAnsi(at, count, last, out);
    } else {
        // The scan sees each byte once: only the fresh ones.
        scan_.Add(bytes_.data() + carried_, read);
        if (scan_.Invalid()) {
            known_ = asAnsi_ = true;
            encoding_ = TextEncoding::Ansi;
            if (nonAsciiDecoded_) {
                misread_ = true;
                return 0;
            }
            units = DecodeAnsi(at, count, last, out);
        } else {
            for (size_t i = at; i < count && !nonAsciiDecoded_; ++i) nonAsciiDecoded_ = bytes_[i] >= 0x80;
            if (last && scan_.Verdict() == TextEncoding::Ansi && nonAsciiDecoded_) {
                // A sequence cut off at the end: the bytes are not UTF-8 after all.
                known_ = misread_ = true;
                return 0;
            }
            if (nonAsciiDecoded_) encoding_ = TextEncoding::Utf8;  // so far
            units = DecodeUtf8(at, count, last, out);
            if (last) {
                known_ = true;
                encoding_ = scan_.Verdict();
            }
        }
    }
    units = EndAtZero(out, units);
    if (ended_) carried_ = 0;
    return units;
}
