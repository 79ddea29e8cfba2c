// The zip reader on any bytes: it never reads outside them, every entry it lists has a name that stays
// inside the archive, what an entry reads as is exactly as long as its directory claims, the bytes
// read stay under the archive's limit, and a refusal always says why.
#include <cstdint>
#include <string>

#include "documents/zip_archive.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t LIMIT = 1 << 20;
    ZipArchive zip;
    zip.SetLimit(LIMIT);
    std::string error;
    if (!zip.Open(data, size, &error)) {
        FUZZ_CHECK(error.compare(0, 20, "The file is damaged:") == 0, "refusal without its reason: %s", error.c_str());
        return 0;
    }
    uint64_t taken = 0;
    for (const ZipEntry& entry : zip.Entries()) {
        FUZZ_CHECK(IsSafeEntryName(entry.name), "listed an entry that leaves the archive: %s", entry.name.c_str());
        std::string bytes, firstError;
        const bool read = zip.Read(entry, &bytes, &firstError);
        FUZZ_CHECK(read || !firstError.empty(), "a refusal without a reason");
        if (!read) continue;
        FUZZ_CHECK(bytes.size() == entry.size, "read %zu bytes of an entry claiming %u", bytes.size(), entry.size);
        taken += bytes.size();
        FUZZ_CHECK(taken <= LIMIT, "took %llu bytes past the limit", static_cast<unsigned long long>(taken));
        FUZZ_CHECK(zip.Find(entry.name) != nullptr, "an entry listed cannot be found");
    }
    return 0;
}
