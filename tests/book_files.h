// Small e-books made in a test from strings: a zip writer (entries stored or deflated, with a wrong
// checksum or a false size when a test wants a damaged archive) and an EPUB of given chapters.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace books {

struct ZipItem {
    std::string name, data;
    bool deflate = false;
    bool wrongChecksum = false;
    int64_t claimedSize = -1;  // the size the directory claims, when not the true one
};

inline void PutWord(std::string* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::string Deflated(const std::string& data) {
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::string Zip(const std::vector<ZipItem>& items) {
    std::string archive, directory;
    for (const ZipItem& item : items) {
        const std::string packed = item.deflate ? Deflated(item.data) : item.data;
        uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(item.data.data()), static_cast<uInt>(item.data.size()));
        if (item.wrongChecksum) crc ^= 1;
        const uint32_t size = item.claimedSize >= 0 ? static_cast<uint32_t>(item.claimedSize) : static_cast<uint32_t>(item.data.size());
        const uint32_t offset = static_cast<uint32_t>(archive.size());
        const auto common = [&](std::string* out) {
            PutWord(out, 20, 2);                    // version needed
            PutWord(out, 0, 2);                     // flags
            PutWord(out, item.deflate ? 8 : 0, 2);  // method
            PutWord(out, 0, 4);                     // time and date
            PutWord(out, crc, 4);
            PutWord(out, static_cast<uint32_t>(packed.size()), 4);
            PutWord(out, size, 4);
            PutWord(out, static_cast<uint32_t>(item.name.size()), 2);
            PutWord(out, 0, 2);  // extra
        };
        PutWord(&archive, 0x04034b50, 4);
        common(&archive);
        archive += item.name + packed;
        PutWord(&directory, 0x02014b50, 4);
        PutWord(&directory, 20, 2);  // made by
        common(&directory);
        PutWord(&directory, 0, 2 + 2 + 2 + 4);  // comment, disk, attributes
        PutWord(&directory, offset, 4);
        directory += item.name;
    }
    const uint32_t directoryStart = static_cast<uint32_t>(archive.size());
    archive += directory;
    PutWord(&archive, 0x06054b50, 4);
    PutWord(&archive, 0, 4);
    PutWord(&archive, static_cast<uint32_t>(items.size()), 2);
    PutWord(&archive, static_cast<uint32_t>(items.size()), 2);
    PutWord(&archive, static_cast<uint32_t>(directory.size()), 4);
    PutWord(&archive, directoryStart, 4);
    PutWord(&archive, 0, 2);
    return archive;
}

inline const char* CONTAINER_XML =
    "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
    "<rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
    "</rootfiles></container>";

// The package document of chapters c1.xhtml, c2.xhtml, ... read in their order, and a navigation
// document that is in the spine but not read.
inline std::string PackageOf(const std::string& title, const std::string& author, size_t chapters) {
    std::string manifest = "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>",
                spine = "<itemref idref=\"nav\"/>";
    for (size_t i = chapters; i >= 1; --i)  // the manifest's order is not the reading order
        manifest += "<item id=\"c" + std::to_string(i) + "\" href=\"text/c" + std::to_string(i) +
                    ".xhtml\" media-type=\"application/xhtml+xml\"/>";
    for (size_t i = 1; i <= chapters; ++i) spine += "<itemref idref=\"c" + std::to_string(i) + "\"/>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
           "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>" + title + "</dc:title><dc:creator>" +
           author + "</dc:creator></metadata><manifest>" + manifest + "</manifest><spine>" + spine +
           "</spine></package>";
}

// An EPUB of the chapters' XHTML, with more entries (a rights record, an encryption record) if given.
inline std::vector<ZipItem> EpubItems(const std::string& title, const std::string& author,
                                      const std::vector<std::string>& chapters, bool deflate = true) {
    std::vector<ZipItem> items = {
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml", CONTAINER_XML, deflate},
        {"OEBPS/content.opf", PackageOf(title, author, chapters.size()), deflate},
        {"OEBPS/nav.xhtml", "<html><body><nav><ol><li>Contents</li></ol></nav><p>Not read</p></body></html>", deflate},
    };
    for (size_t i = 0; i < chapters.size(); ++i)
        items.push_back({"OEBPS/text/c" + std::to_string(i + 1) + ".xhtml", chapters[i], deflate});
    return items;
}

inline std::string Epub(const std::string& title, const std::string& author, const std::vector<std::string>& chapters) {
    return Zip(EpubItems(title, author, chapters));
}

}  // namespace books
