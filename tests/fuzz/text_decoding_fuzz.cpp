// The decoder that reads every file for the window and the voice, for any bytes cut into chunks of any
// sizes: the text is what a plain reference decoder gives for the whole file (up to its first 0 unit),
// or, for bytes without a mark taken for UTF-8 that are not, a misreading after which a second decoder
// told they are ANSI gives the reference; it never writes past its room, and its verdict on the
// encoding is the rule's.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/text_decoder.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// A made-up double-byte code page: 0x81-0x9F lead a two-byte character; every other byte is its own
// code unit. A lead byte without its trail becomes '?', as the system's conversion gives its default.
bool IsLead(uint8_t byte) { return byte >= 0x81 && byte <= 0x9F; }

size_t Convert(const uint8_t* bytes, size_t count, char16_t* out, size_t capacity) {
    size_t units = 0;
    for (size_t at = 0; at < count && units < capacity;) {
        if (IsLead(bytes[at])) {
            out[units++] = at + 1 < count ? static_cast<char16_t>(0x4E00 + ((bytes[at] - 0x81) << 8 | bytes[at + 1])) : u'?';
            at += 2;
        } else {
            out[units++] = bytes[at++];
        }
    }
    return units;
}

const AnsiCodePage CODE_PAGE = {Convert, IsLead};

bool ValidUtf8WithMultiByte(const uint8_t* bytes, size_t size) {
    Utf8Scan scan;
    scan.Add(bytes, size);
    return scan.Verdict() == TextEncoding::Utf8;
}

std::u16string UpToZero(const std::u16string& text) { return text.substr(0, text.find(u'\0')); }

// The whole file decoded at once by the rule.
std::u16string Reference(const uint8_t* bytes, size_t size, TextEncoding* encoding) {
    const ByteOrderMark mark = FindByteOrderMark(bytes, size);
    const uint8_t* body = bytes + mark.length;
    const size_t length = size - mark.length;
    *encoding = mark.found ? mark.encoding : ValidUtf8WithMultiByte(bytes, size) ? TextEncoding::Utf8 : TextEncoding::Ansi;
    std::u16string text(length + 1, u'\0');
    size_t units = 0, consumed = 0;
    switch (*encoding) {
    case TextEncoding::Utf16LE:
        for (size_t i = 0; i + 1 < length; i += 2) text[units++] = static_cast<char16_t>(body[i] | body[i + 1] << 8);
        break;
    case TextEncoding::Utf16BE:
        for (size_t i = 0; i + 1 < length; i += 2) text[units++] = static_cast<char16_t>(body[i] << 8 | body[i + 1]);
        break;
    case TextEncoding::Utf8: units = Utf8ToUtf16(body, length, true, &text[0], text.size(), &consumed); break;
    case TextEncoding::Ansi: {
        const size_t end = std::find(body, body + length, uint8_t{0}) - body;
        units = Convert(body, end, &text[0], text.size());
        break;
    }
    }
    text.resize(units);
    return UpToZero(text);
}

// Decodes in chunks whose sizes come from `sizes`; false when the decoder misread the bytes.
bool DecodeInChunks(const uint8_t* bytes, size_t size, FuzzInput& sizes, bool assumeAnsi, std::u16string* text,
                    TextDecoder* decoder) {
    if (assumeAnsi) decoder->AssumeAnsi();
    std::u16string out(TextDecoder::OutRoom() + 1, u'\x55');
    size_t at = 0;
    for (;;) {
        const size_t wanted = 1 + sizes.Byte() % 97;
        const size_t take = size - at < wanted ? size - at : wanted;
        std::memcpy(decoder->Room(), bytes + at, take);
        at += take;
        const bool last = take == 0;
        const size_t units = decoder->Decode(take, last, &out[0]);
        FUZZ_CHECK(units <= TextDecoder::OutRoom() && out[TextDecoder::OutRoom()] == u'\x55', "wrote past its room");
        text->append(out, 0, units);
        if (decoder->Misread()) return false;
        if (last || decoder->Finished()) return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput sizes(data, size > 32 ? 32 : size);  // chunk sizes from the input's first bytes
    const uint8_t* bytes = data;
    TextEncoding expected = TextEncoding::Ansi;
    const std::u16string reference = Reference(bytes, size, &expected);

    std::u16string text;
    TextDecoder decoder(CODE_PAGE);
    if (DecodeInChunks(bytes, size, sizes, false, &text, &decoder)) {
        FUZZ_CHECK(text == reference, "the text differs from the reference (%zu units, %zu expected)", text.size(),
                   reference.size());
        if (!decoder.Ended()) FUZZ_CHECK(decoder.Encoding() == expected, "the verdict is not the rule's");
        return 0;
    }
    FUZZ_CHECK(expected == TextEncoding::Ansi && !FindByteOrderMark(bytes, size).found,
               "misread bytes that are not ANSI without a mark");
    std::u16string again;
    TextDecoder second(CODE_PAGE);
    FUZZ_CHECK(DecodeInChunks(bytes, size, sizes, true, &again, &second), "misread bytes known to be ANSI");
    FUZZ_CHECK(again == reference, "the second reading differs from the reference");
    return 0;
}
