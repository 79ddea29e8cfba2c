// An EPUB's reading order from any manifest and spine: every path it gives stays inside the archive,
// none is given twice, and each comes from a linear spine entry naming an XHTML item that is not the
// navigation document; a reference that resolves, resolves to a path with no "." or ".." part.
#include <cstdint>
#include <string>

#include "documents/book_package.h"
#include "documents/zip_archive.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// A short string off the input: a length byte, then that many bytes from a small alphabet that forms
// paths, escapes and ids often.
std::string Field(FuzzInput& input) {
    static const char ALPHABET[] = "ab./%2E%2F#:\\c1";
    std::string field;
    for (int length = input.Byte() % 12; length > 0; --length) {
        const uint8_t byte = input.Byte();
        field += byte < 0xC0 ? ALPHABET[byte % (sizeof ALPHABET - 1)] : static_cast<char>(byte);
    }
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    PackageDocument package;
    const std::string packagePath = Field(input);
    for (int items = input.Byte() % 8; items > 0; --items) {
        const uint8_t kind = input.Byte();
        package.manifest.push_back({Field(input), Field(input), kind & 1 ? "application/xhtml+xml" : "image/png",
                                    kind & 2 ? "nav" : ""});
    }
    for (int entries = input.Byte() % 10; entries > 0; --entries) {
        const uint8_t kind = input.Byte();
        package.spine.push_back({kind & 8 ? Field(input) : package.manifest.empty() ? "" : package.manifest[kind % package.manifest.size()].id,
                                 (kind & 16) == 0});
    }
    const std::vector<std::string> order = ReadingOrder(package, packagePath);
    for (size_t i = 0; i < order.size(); ++i) {
        FUZZ_CHECK(IsSafeEntryName(order[i]), "a path that leaves the archive: %s", order[i].c_str());
        for (size_t j = 0; j < i; ++j) FUZZ_CHECK(order[i] != order[j], "given twice: %s", order[i].c_str());
    }
    FUZZ_CHECK(order.size() <= package.spine.size(), "more documents than spine entries");

    std::string resolved;
    const std::string base = Field(input), href = Field(input);
    if (ResolveReference(base, href, &resolved)) {
        FUZZ_CHECK(IsSafeEntryName(resolved), "resolved outside the archive: %s", resolved.c_str());
        FUZZ_CHECK(("/" + resolved + "/").find("/./") == std::string::npos, "a '.' part left: %s", resolved.c_str());
    }
    RtfNestsWithin(input.Rest(), input.RestSize(), input.Byte());
    return 0;
}
