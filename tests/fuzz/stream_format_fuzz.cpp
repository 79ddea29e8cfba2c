// The stream format table for any 32-bit index, with and without a failing allocation: playback's
// indexes give PCM whose fields agree, every record lies inside its block (a copy reads all of it),
// indexes without a row give none, and no block is left behind.
#include <cstdint>

#include "tests/fuzz/format_checks.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    // Small indexes are where the rows are: the low flag bit keeps the index within 0..127.
    uint32_t raw = input.Dword();
    const int index = (flags & 1) ? static_cast<int>(raw & 127) : static_cast<int32_t>(raw);
    format_checks::CheckIndex(index, (flags & 2) != 0);
    if (flags & 4) format_checks::CheckNullOutPointers(index);
    return 0;
}
