#include "infowindow/text_decoding.h"

namespace {

constexpr uint8_t MARK_FIRST = 0xFF, MARK_SECOND = 0xFE;

// A reader that claims more than it was asked for is held to what fits the buffer.
uint32_t ReadUpTo(const TextSource& source, void* buffer, uint32_t count) {
    uint32_t read = source.read(source.context, buffer, count);
    return read < count ? read : count;
}

// A first read that stops short never shows a mark: the missing byte stays 0.
bool StartsWithUtf16Mark(const TextSource& source) {
    uint8_t first[2] = {0, 0};
    ReadUpTo(source, first, sizeof first);
    return first[0] == MARK_FIRST && first[1] == MARK_SECOND;
}

// The code units after the mark, read from where the mark ended. An odd last byte has no room in
// the block, and the terminator goes where the read ended, so unfilled memory never shows.
bool DecodeUtf16(const TextSource& source, uint32_t size, const TextMemory& memory, DecodedText* result) {
    const uint32_t blockBytes = size & ~1u;
    char16_t* text = static_cast<char16_t*>(memory.allocate(blockBytes));
    if (!text) return false;
    const uint32_t read = ReadUpTo(source, text, size - 2);
    text[read / 2] = u'\0';
    result->text = text;
    result->capacity = blockBytes / 2;
    return true;
}

// The bytes from the first one, NUL-terminated, then converted: n bytes never need more than
// n + 1 code units.
bool DecodeAnsi(const TextSource& source, uint32_t size, const TextMemory& memory, DecodedText* result) {
    const size_t units = static_cast<size_t>(size) + 1;
    char* bytes = static_cast<char*>(memory.allocate(units));
    char16_t* text = static_cast<char16_t*>(memory.allocate(units * sizeof(char16_t)));
    if (!bytes || !text) {
        memory.release(bytes);
        memory.release(text);
        return false;
    }
    source.rewind(source.context);
    const uint32_t read = ReadUpTo(source, bytes, size);
    bytes[read] = '\0';
    if (!memory.ansiToUtf16(bytes, text, units)) text[0] = u'\0';
    memory.release(bytes);
    result->text = text;
    result->capacity = units;
    return true;
}

}  // namespace

bool DecodeTextFile(const TextSource& source, const TextMemory& memory, DecodedText* result) {
    *result = DecodedText();
    if (source.size > MAX_TEXT_FILE_SIZE) return false;
    const uint32_t size = static_cast<uint32_t>(source.size);

    // A size below 2 with a mark read anyway (a device file that reports 0) is not taken as UTF-16.
    result->utf16 = StartsWithUtf16Mark(source) && size >= 2;
    return result->utf16 ? DecodeUtf16(source, size, memory, result) : DecodeAnsi(source, size, memory, result);
}

size_t LimitShownText(char16_t* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != u'\0') ++length;
    if (length < limit || text[length] == u'\0') return length;
    const bool splitsPair = length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF;
    if (splitsPair) --length;
    text[length] = u'\0';
    return length;
}
