// Reading the entries of a zip archive (the container of EPUB, DOCX and .fb2.zip), from memory or from
// wherever its bytes are read, only the parts that are needed: a book's pictures are never read.
// Pure code on zlib: no platform calls, so the native fuzzer runs the same code as the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where an archive's bytes come from.
class ZipBytes {
public:
    virtual ~ZipBytes() = default;
    virtual uint64_t Size() const = 0;
    // `count` bytes from `offset` on; false when they cannot all be read.
    virtual bool ReadAt(uint64_t offset, size_t count, uint8_t* out) = 0;
};

// An archive held in memory; the bytes must outlive it.
class MemoryZipBytes : public ZipBytes {
public:
    MemoryZipBytes(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, size_t count, uint8_t* out) override;

private:
    const uint8_t* bytes_;
    size_t size_;
};

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
    bool Open(ZipBytes* bytes, std::string* error);
    bool Open(const uint8_t* bytes, size_t size, std::string* error);
    // The entry of that exact name, else one that differs only in letter case; null when none.
    const ZipEntry* Find(const std::string& name) const;
    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // Inflates an entry, checking its size and checksum against the directory's, and the archive's
    // limit. False with a reason.
    bool Read(const ZipEntry& entry, std::string* out, std::string* error);
    void SetLimit(uint64_t bytes) { limit_ = bytes; }

private:
    bool DataStart(const ZipEntry& entry, uint64_t* start, std::string* error) const;
    bool Inflate(const ZipEntry& entry, uint64_t start, std::string* out, std::string* error);

    std::unique_ptr<MemoryZipBytes> memory_;  // the bytes given to the memory Open
    ZipBytes* bytes_ = nullptr;
    std::vector<ZipEntry> entries_;
    uint64_t taken_ = 0;
    uint64_t limit_ = ZIP_INFLATED_LIMIT;
};

// The central directory is read whole: one larger than this is no book's.
constexpr uint64_t ZIP_MOST_DIRECTORY_BYTES = 16u << 20;

// A name inside an archive that stays inside it: relative, without a drive, no ".." segment.
bool IsSafeEntryName(const std::string& name);
