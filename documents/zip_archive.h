// Reading the entries of a zip archive held in memory (the container of EPUB, DOCX and .fb2.zip).
// Pure code on zlib: no platform calls, so the native fuzzer runs the same code as the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;  // 0: stored, 8: deflated
    uint32_t crc = 0;
    uint32_t packedSize = 0;
    uint32_t size = 0;  // as the archive claims it; checked while inflating
    uint32_t localOffset = 0;
};

// Everything taken out of one archive stays under this many bytes in all, whatever the entries
// claim: a small archive may inflate to gigabytes.
constexpr uint64_t ZIP_INFLATED_LIMIT = 256ull << 20;

class ZipArchive {
public:
    // Reads the central directory. The bytes must outlive the archive. False with a reason when the
    // archive is not one or is damaged. Entries whose names would leave the archive's root (absolute,
    // with a drive or "..") are left out: nothing can name them.
    bool Open(const uint8_t* bytes, size_t size, std::string* error);
    // The entry of that exact name, else one that differs only in letter case; null when none.
    const ZipEntry* Find(const std::string& name) const;
    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // Inflates an entry, checking its size and checksum against the directory's, and the archive's
    // limit. False with a reason.
    bool Read(const ZipEntry& entry, std::string* out, std::string* error);
    void SetLimit(uint64_t bytes) { limit_ = bytes; }

private:
    bool DataStart(const ZipEntry& entry, size_t* start, std::string* error) const;

    const uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    std::vector<ZipEntry> entries_;
    uint64_t taken_ = 0;
    uint64_t limit_ = ZIP_INFLATED_LIMIT;
};

// A name inside an archive that stays inside it: relative, without a drive, no ".." segment.
bool IsSafeEntryName(const std::string& name);
