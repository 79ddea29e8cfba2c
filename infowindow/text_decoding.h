// Turning the bytes of a text file into NUL-terminated UTF-16 for the Text info window. No platform
// calls here: the file, the memory and the code page conversion come in as callbacks, so the same
// code runs in the plug-in (Win32 file and heap) and in native tests (memory and malloc).
#pragma once

#include <cstddef>
#include <cstdint>

// Large enough for any text file worth reading, small enough that (size + 1) * 2 cannot overflow.
constexpr uint64_t MAX_TEXT_FILE_SIZE = 0x3FFFFFFF;

// The file being read, positioned at its first byte.
struct TextSource {
    uint64_t size;  // as the file system reports it; a device file may report more than it reads
    void* context;  // handed back to read and rewind
    // Reads up to count bytes at the current position; the count read, fewer at the end, 0 on failure.
    uint32_t (*read)(void* context, void* buffer, uint32_t count);
    // Goes back to the first byte.
    void (*rewind)(void* context);
};

// Where the text's memory comes from. The text handed back is released by the caller, with release.
struct TextMemory {
    void* (*allocate)(size_t bytes);  // null when out of memory
    void (*release)(void* block);     // null allowed
    // Converts NUL-terminated ANSI bytes to UTF-16, terminator included, into at most capacity units;
    // false when the conversion failed.
    bool (*ansiToUtf16)(const char* bytes, char16_t* out, size_t capacity);
};

struct DecodedText {
    char16_t* text = nullptr;  // NUL-terminated inside its block; null when nothing could be read
    size_t capacity = 0;       // code units in the block
    bool utf16 = false;        // the file began with the UTF-16LE mark FF FE
};

// Reads the whole file as text: after a mark FF FE (and a size of at least 2) the UTF-16LE code units
// that follow, an odd last byte dropped; otherwise the ANSI bytes from the first one up to the first 0
// byte, converted. A short read ends the text where the read ended; a failed conversion gives an empty
// text. False, and no text, for a size over MAX_TEXT_FILE_SIZE or when memory runs out.
bool DecodeTextFile(const TextSource& source, const TextMemory& memory, DecodedText* result);

// The most code units the Text info window shows of a text: a whole book (the longest novels are
// about 3.5 million characters), well below the tens of megabytes that exhaust the control.
constexpr size_t MAX_SHOWN_TEXT_UNITS = size_t{1} << 23;

// Ends a NUL-terminated text after at most limit code units, never between the two halves of a
// surrogate pair. Returns the units kept. Reads no further than the unit at limit.
size_t LimitShownText(char16_t* text, size_t limit);
