#include "documents/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "documents/damaged_file.h"

namespace {

constexpr uint32_t END_SIGNATURE = 0x06054b50;
constexpr uint32_t DIRECTORY_SIGNATURE = 0x02014b50;
constexpr uint32_t LOCAL_SIGNATURE = 0x04034b50;
constexpr size_t END_RECORD_BYTES = 22;
constexpr size_t DIRECTORY_RECORD_BYTES = 46;
constexpr size_t LOCAL_RECORD_BYTES = 30;
constexpr size_t LONGEST_COMMENT = 0xFFFF;
// More entries than this is no book: the directory alone would be megabytes.
constexpr size_t MOST_ENTRIES = 65535;
// Packed bytes are read and inflated in pieces of this size.
constexpr uint32_t INFLATE_PIECE_BYTES = 256u << 10;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Dword(const uint8_t* p) { return Word(p) | static_cast<uint32_t>(Word(p + 2)) << 16; }

// The end record is the last one whose comment reaches exactly to the end of the bytes.
bool FindEndRecord(const uint8_t* bytes, size_t size, size_t* at) {
    if (size < END_RECORD_BYTES) return false;
    const size_t lowest = size - END_RECORD_BYTES > LONGEST_COMMENT ? size - END_RECORD_BYTES - LONGEST_COMMENT : 0;
    for (size_t i = size - END_RECORD_BYTES + 1; i-- > lowest;) {
        if (Dword(bytes + i) != END_SIGNATURE) continue;
        if (i + END_RECORD_BYTES + Word(bytes + i + 20) <= size) {
            *at = i;
            return true;
        }
    }
    return false;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos) return false;
    if (name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

bool MemoryZipBytes::ReadAt(uint64_t offset, size_t count, uint8_t* out) {
    if (offset > size_ || size_ - offset < count) return false;
    if (count > 0) std::memcpy(out, bytes_ + offset, count);
    return true;
}

bool ZipArchive::Open(const uint8_t* bytes, size_t size, std::string* error) {
    memory_.reset(new MemoryZipBytes(bytes, size));
    return Open(memory_.get(), error);
}

bool ZipArchive::Open(ZipBytes* bytes, std::string* error) {
    bytes_ = bytes;
    entries_.clear();
    taken_ = 0;
    // The end record lies in the last bytes, its comment after it.
    const uint64_t size = bytes->Size();
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, END_RECORD_BYTES + LONGEST_COMMENT));
    std::vector<uint8_t> tail(tailSize);
    if (!bytes->ReadAt(size - tailSize, tailSize, tail.data())) return Damaged(error, "it cannot be read");
    size_t endInTail = 0;
    if (!FindEndRecord(tail.data(), tailSize, &endInTail)) return Damaged(error, "it is not a zip archive, or its end is missing");
    const uint8_t* endRecord = tail.data() + endInTail;
    const uint64_t end = size - tailSize + endInTail;
    const uint16_t count = Word(endRecord + 10);
    const uint32_t directorySize = Dword(endRecord + 12), directoryStart = Dword(endRecord + 16);
    if (directoryStart == 0xFFFFFFFF || count == 0xFFFF) return Damaged(error, "it is a ZIP64 archive, which is not read");
    if (directoryStart > end || directorySize > end - directoryStart) return Damaged(error, "its directory lies outside it");
    // The records are read up to the end record, as they may run past the size the directory claims.
    if (end - directoryStart > ZIP_MOST_DIRECTORY_BYTES) return Damaged(error, "its directory is too large");
    std::vector<uint8_t> directory(static_cast<size_t>(end - directoryStart));
    if (!bytes->ReadAt(directoryStart, directory.size(), directory.data())) return Damaged(error, "it cannot be read");
    const size_t directoryEnd = directory.size();
    size_t at = 0;
    for (size_t i = 0; i < count && i < MOST_ENTRIES; ++i) {
        if (at + DIRECTORY_RECORD_BYTES > directoryEnd || Dword(directory.data() + at) != DIRECTORY_SIGNATURE)
            return Damaged(error, "its directory is cut short");
        const uint8_t* r = directory.data() + at;
        const size_t nameLength = Word(r + 28), recordLength = DIRECTORY_RECORD_BYTES + nameLength + Word(r + 30) + Word(r + 32);
        if (at + recordLength > directoryEnd) return Damaged(error, "its directory is cut short");
        ZipEntry entry;
        entry.flags = Word(r + 8);
        entry.method = Word(r + 10);
        entry.crc = Dword(r + 16);
        entry.packedSize = Dword(r + 20);
        entry.size = Dword(r + 24);
        entry.localOffset = Dword(r + 42);
        entry.name.assign(reinterpret_cast<const char*>(r + DIRECTORY_RECORD_BYTES), nameLength);
        if (IsSafeEntryName(entry.name)) entries_.push_back(std::move(entry));
        at += recordLength;
    }
    return true;
}

const ZipEntry* ZipArchive::Find(const std::string& name) const {
    for (const ZipEntry& entry : entries_)
        if (entry.name == name) return &entry;
    for (const ZipEntry& entry : entries_)
        if (SameIgnoringCase(entry.name, name)) return &entry;
    return nullptr;
}

bool ZipArchive::DataStart(const ZipEntry& entry, uint64_t* start, std::string* error) const {
    const uint64_t size = bytes_->Size(), at = entry.localOffset;
    uint8_t header[LOCAL_RECORD_BYTES];
    if (at > size || size - at < LOCAL_RECORD_BYTES || !bytes_->ReadAt(at, LOCAL_RECORD_BYTES, header) ||
        Dword(header) != LOCAL_SIGNATURE)
        return Damaged(error, "an entry's header is missing");
    const uint64_t data = at + LOCAL_RECORD_BYTES + Word(header + 26) + Word(header + 28);
    if (data > size || size - data < entry.packedSize) return Damaged(error, "an entry is cut short");
    *start = data;
    return true;
}

// The packed bytes are read and inflated a piece at a time, into room for one byte more than the
// entry claims: an entry that inflates past its claim is caught.
bool ZipArchive::Inflate(const ZipEntry& entry, uint64_t start, std::string* out, std::string* error) {
    out->resize(static_cast<size_t>(entry.size) + 1);
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return Damaged(error, "an entry cannot be inflated");
    stream.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
    stream.avail_out = entry.size + 1;
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint32_t>(entry.packedSize, INFLATE_PIECE_BYTES)));
    int result = Z_OK;
    bool readFailed = false;
    for (uint32_t given = 0; result == Z_OK;) {
        const uint32_t count = std::min<uint32_t>(entry.packedSize - given, INFLATE_PIECE_BYTES);
        if (count == 0) break;
        if (!bytes_->ReadAt(start + given, count, piece.data())) {
            readFailed = true;
            break;
        }
        given += count;
        stream.next_in = piece.data();
        stream.avail_in = count;
        result = inflate(&stream, given == entry.packedSize ? Z_FINISH : Z_NO_FLUSH);
        // Input left over means the room is full: the entry inflates past its claim.
        if (result == Z_OK && stream.avail_in != 0) break;
    }
    const uLong produced = stream.total_out;
    inflateEnd(&stream);
    if (readFailed) return Damaged(error, "it cannot be read");
    if (result != Z_STREAM_END) {
        if (produced > entry.size) return Damaged(error, "an entry inflates to more than it claims");
        return Damaged(error, "an entry's compressed data is broken");
    }
    if (produced != entry.size) return Damaged(error, "an entry inflates to a size other than it claims");
    out->resize(entry.size);
    return true;
}

bool ZipArchive::Read(const ZipEntry& entry, std::string* out, std::string* error) {
    out->clear();
    if (entry.flags & 1) return Damaged(error, "an entry is encrypted");
    if (entry.size > limit_ - std::min(taken_, limit_)) {
        *error = "The file is too large: its entries claim more than " + std::to_string(limit_ >> 20) + " MB";
        return false;
    }
    uint64_t start = 0;
    if (!DataStart(entry, &start, error)) return false;
    if (entry.method == 0) {
        if (entry.packedSize != entry.size) return Damaged(error, "a stored entry's sizes differ");
        out->resize(entry.size);
        if (entry.size > 0 && !bytes_->ReadAt(start, entry.size, reinterpret_cast<uint8_t*>(&(*out)[0])))
            return Damaged(error, "it cannot be read");
    } else if (entry.method == 8) {
        if (!Inflate(entry, start, out, error)) return false;
    } else {
        return Damaged(error, "an entry is compressed in a way that is not read");
    }
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(out->data()), static_cast<uInt>(out->size()));
    if (crc != entry.crc) return Damaged(error, "an entry fails its checksum");
    taken_ += out->size();
    return true;
}
