// DecodeTextFile against a plain reference decoder, for any bytes, any size the file system might
// report for them, any schedule of short reads, failing allocations and a failing code page
// conversion. The file's text must be exactly what the reference gives, end with a terminator inside
// its block, and every block must be given back.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "infowindow/text_decoding.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr uint16_t UNLIMITED = 0xFFFF;
// Larger blocks are refused, as a heap that has run out would.
constexpr size_t LARGEST_BLOCK = 64 << 10;

// The file: its bytes and, per read call, the most that call returns.
struct FakeFile {
    const uint8_t* bytes;
    size_t length;
    size_t position;
    uint16_t readLimits[2];
    int reads;
};

uint32_t ReadFake(void* context, void* buffer, uint32_t count) {
    FakeFile& file = *static_cast<FakeFile*>(context);
    size_t n = count;
    if (n > file.length - file.position) n = file.length - file.position;
    uint16_t limit = file.reads < 2 ? file.readLimits[file.reads] : UNLIMITED;
    if (limit != UNLIMITED && n > limit) n = limit;
    ++file.reads;
    std::memcpy(buffer, file.bytes + file.position, n);
    file.position += n;
    return static_cast<uint32_t>(n);
}

void RewindFake(void* context) { static_cast<FakeFile*>(context)->position = 0; }

// Every block handed out, with its size; allocation number FailingAllocation (from 1) fails.
std::map<void*, size_t> LiveBlocks;
int Allocations = 0;
int FailingAllocation = 0;
bool ConversionFails = false;

void* Allocate(size_t bytes) {
    ++Allocations;
    if (Allocations == FailingAllocation || bytes > LARGEST_BLOCK) return nullptr;
    void* block = std::malloc(bytes ? bytes : 1);
    LiveBlocks[block] = bytes;
    return block;
}

void Release(void* block) {
    if (!block) return;
    FUZZ_CHECK(LiveBlocks.erase(block) == 1, "released a block that was not handed out: %p", block);
    std::free(block);
}

// Each byte becomes the code unit of the same value. A failing conversion leaves litter behind.
bool WidenBytes(const char* bytes, char16_t* out, size_t capacity) {
    if (ConversionFails) {
        for (size_t i = 0; i < capacity; ++i) out[i] = u'X';
        return false;
    }
    size_t length = std::strlen(bytes);
    FUZZ_CHECK(length < capacity, "%zu bytes do not fit %zu code units", length, capacity);
    for (size_t i = 0; i <= length; ++i) out[i] = static_cast<unsigned char>(bytes[i]);
    return true;
}

struct Expected {
    bool decoded = false;
    bool utf16 = false;
    std::u16string text;  // without the terminator
};

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }
size_t Limited(size_t n, uint16_t limit) { return limit == UNLIMITED ? n : Smaller(n, limit); }

// The rules written out the plain way, with the reads the fake file will answer.
Expected Reference(const FakeFile& file, uint64_t size) {
    Expected expected;
    if (size > MAX_TEXT_FILE_SIZE) return expected;
    const size_t firstRead = Limited(Smaller(2, file.length), file.readLimits[0]);
    expected.utf16 = firstRead == 2 && file.bytes[0] == 0xFF && file.bytes[1] == 0xFE && size >= 2;
    if (expected.utf16) {
        const size_t blockBytes = size & ~1ull;
        if (FailingAllocation == 1 || blockBytes > LARGEST_BLOCK) return expected;
        size_t bodyRead = Limited(Smaller(size - 2, file.length - 2), file.readLimits[1]);
        for (size_t i = 0; i + 1 < bodyRead; i += 2)
            expected.text += static_cast<char16_t>(file.bytes[2 + i] | (file.bytes[3 + i] << 8));
    } else {
        if (FailingAllocation == 1 || FailingAllocation == 2 || (size + 1) * 2 > LARGEST_BLOCK) return expected;
        size_t read = Limited(Smaller(size, file.length), file.readLimits[1]);
        if (!ConversionFails)
            for (size_t i = 0; i < read && file.bytes[i] != 0; ++i) expected.text += file.bytes[i];
    }
    expected.decoded = true;
    return expected;
}

// Sizes around the limits, for files far larger than the input.
uint64_t LargeSize(uint8_t choice, size_t length) {
    const uint64_t sizes[] = {MAX_TEXT_FILE_SIZE, MAX_TEXT_FILE_SIZE - 1, MAX_TEXT_FILE_SIZE + 1, 0xFFFFFFFFull,
                              0x100000000ull + length, UINT64_MAX, LARGEST_BLOCK / 2, LARGEST_BLOCK / 2 - 1};
    return sizes[choice % (sizeof sizes / sizeof sizes[0])];
}

// What the file system reports: the exact length, more (a device file), less, or a large size.
uint64_t ReportedSize(uint8_t mode, uint8_t amount, size_t length) {
    switch (mode & 3) {
    case 0: return length;
    case 1: return length + amount;
    case 2: return length - Smaller(amount, length);
    default: return LargeSize(amount, length);
    }
}

}  // namespace

// What the window is given of the text (up to its first 0 unit, as the control reads it): the first
// limit units, one fewer when the last of them would be the first half of a surrogate pair.
void CheckShownText(char16_t* text, size_t decodedUnits, size_t limit) {
    size_t length = 0;
    while (length < decodedUnits && text[length] != 0) ++length;
    const std::u16string before(text, length);
    const size_t kept = LimitShownText(text, limit);
    size_t expected = length <= limit ? length : limit;
    if (expected < length && expected > 0 && before[expected - 1] >= 0xD800 && before[expected - 1] <= 0xDBFF)
        --expected;
    FUZZ_CHECK(kept == expected, "kept %zu of %zu units at a limit of %zu, expected %zu", kept, length, limit, expected);
    FUZZ_CHECK(text[kept] == 0, "no terminator after the %zu units kept", kept);
    FUZZ_CHECK(before.compare(0, kept, text, kept) == 0, "the units kept changed");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const uint8_t amount = input.Byte();
    FakeFile file = {nullptr, 0, 0, {input.Word(), input.Word()}, 0};
    file.bytes = input.Rest();
    file.length = input.RestSize();
    const uint64_t reportedSize = ReportedSize(flags, amount, file.length);
    ConversionFails = (flags & 4) != 0;
    FailingAllocation = (flags >> 3) & 3;
    Allocations = 0;
    LiveBlocks.clear();

    const Expected expected = Reference(file, reportedSize);
    const TextSource source = {reportedSize, &file, ReadFake, RewindFake};
    const TextMemory memory = {Allocate, Release, WidenBytes};
    DecodedText decoded;
    const bool ok = DecodeTextFile(source, memory, &decoded);

    FUZZ_CHECK(ok == expected.decoded, "decoded %d, expected %d (size %llu)", ok, expected.decoded,
               static_cast<unsigned long long>(reportedSize));
    if (!ok) {
        FUZZ_CHECK(decoded.text == nullptr, "a failed decoding hands out a text");
        FUZZ_CHECK(LiveBlocks.empty(), "%zu blocks left after a failed decoding", LiveBlocks.size());
        return 0;
    }
    FUZZ_CHECK(decoded.utf16 == expected.utf16, "utf16 %d, expected %d", decoded.utf16, expected.utf16);
    FUZZ_CHECK(LiveBlocks.size() == 1 && LiveBlocks.count(decoded.text) == 1, "%zu blocks live, the text's among them: %d",
               LiveBlocks.size(), static_cast<int>(LiveBlocks.count(decoded.text)));
    const size_t blockUnits = LiveBlocks[decoded.text] / sizeof(char16_t);
    FUZZ_CHECK(decoded.capacity == blockUnits, "capacity %zu, block of %zu units", decoded.capacity, blockUnits);
    FUZZ_CHECK(expected.text.size() < decoded.capacity, "the terminator at %zu lies outside %zu units",
               expected.text.size(), decoded.capacity);
    for (size_t i = 0; i < expected.text.size(); ++i)
        FUZZ_CHECK(decoded.text[i] == expected.text[i], "unit %zu is %04X, expected %04X", i, decoded.text[i],
                   expected.text[i]);
    // In UTF-16 a 0 unit inside the text is kept: the terminator is where the read ended.
    FUZZ_CHECK(decoded.text[expected.text.size()] == 0, "no terminator after %zu units", expected.text.size());
    CheckShownText(decoded.text, expected.text.size(), amount);
    Release(decoded.text);
    return 0;
}
