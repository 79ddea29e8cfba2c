// What of an EPUB is pure logic: where its package document's references lead, the
// reading order of its spine, whether it is protected, and the checks made before the Rich Edit
// control is given an RTF file. No platform calls: the native fuzzer runs it as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One item of the package document's manifest.
struct ManifestItem {
    std::string id, href, mediaType, properties;
};

// One entry of the spine: the manifest item it names, and whether it is in the main reading order.
struct SpineItem {
    std::string idref;
    bool linear = true;
};

struct PackageDocument {
    std::vector<ManifestItem> manifest;
    std::vector<SpineItem> spine;
    std::u16string title, author;
};

// The archive path a reference leads to from the folder of the document that holds it: percent
// escapes decoded, the fragment dropped, "." and ".." resolved. False when it leaves the archive's
// root or is not relative.
bool ResolveReference(const std::string& baseFolder, const std::string& href, std::string* path);

// The folder part of an archive path, with its trailing '/', or empty.
std::string FolderOf(const std::string& path);

// The archive paths of the documents to read, in reading order: the linear spine items that name an
// XHTML or HTML manifest item, each once; the navigation document, references that leave the
// archive and ids that name nothing are left out.
std::vector<std::string> ReadingOrder(const PackageDocument& package, const std::string& packagePath);

// Whether a book is protected: a rights record is present, or its encryption record names an
// algorithm other than the two that only obfuscate embedded fonts.
bool IsProtectedBook(bool hasRightsRecord, const std::vector<std::string>& encryptionAlgorithms);

// RTF groups nest at most this deep; deeper files are refused before the Rich Edit control reads them.
constexpr int RTF_MOST_DEPTH = 200;
bool RtfNestsWithin(const uint8_t* bytes, size_t size, int depth);

// "Author - Title", "Title", or empty when there is no title.
std::u16string BookTitle(const std::u16string& author, const std::u16string& title);
