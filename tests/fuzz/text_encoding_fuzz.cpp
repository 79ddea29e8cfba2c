// The rule for a text file's bytes, for any bytes cut into pieces anywhere: the verdict and the decoded
// text do not depend on where the pieces end, the decoder never writes past its room, a text judged
// UTF-8 decodes without a replacement it did not hold, and re-encoding what a valid text decoded to
// gives its bytes back.
#include <cstdint>
#include <string>

#include "base/text_encoding.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

std::u16string DecodeInPieces(const uint8_t* bytes, size_t size, size_t piece) {
    std::u16string text;
    std::string pending;
    size_t at = 0;
    for (;;) {
        const size_t take = size - at < piece ? size - at : piece;
        pending.append(reinterpret_cast<const char*>(bytes + at), take);
        at += take;
        const bool last = at == size;
        std::u16string out(pending.size() + 1, u'\x55');
        size_t consumed = 0;
        const size_t units = Utf8ToUtf16(reinterpret_cast<const uint8_t*>(pending.data()), pending.size(), last,
                                         &out[0], pending.size(), &consumed);
        FUZZ_CHECK(units <= pending.size() && out[pending.size()] == u'\x55', "wrote past its room");
        FUZZ_CHECK(consumed <= pending.size(), "took more bytes than it had");
        FUZZ_CHECK(!last || consumed == pending.size(), "left bytes at the end");
        text.append(out, 0, units);
        pending.erase(0, consumed);
        if (last) return text;
    }
}

std::string Utf8Of(const std::u16string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size())
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t piece = input.Byte() % 7 + 1;
    const uint8_t* bytes = input.Rest();
    const size_t count = input.RestSize();

    Utf8Scan whole, pieces;
    whole.Add(bytes, count);
    for (size_t at = 0; at < count; at += piece) pieces.Add(bytes + at, count - at < piece ? count - at : piece);
    FUZZ_CHECK(whole.Verdict() == pieces.Verdict(), "the verdict depends on the pieces");

    const std::u16string decoded = DecodeInPieces(bytes, count, count ? count : 1);
    FUZZ_CHECK(decoded == DecodeInPieces(bytes, count, piece), "the text depends on the pieces");
    if (whole.Verdict() == TextEncoding::Utf8)
        FUZZ_CHECK(Utf8Of(decoded) == std::string(reinterpret_cast<const char*>(bytes), count),
                   "valid UTF-8 did not decode to its own bytes");
    return 0;
}
