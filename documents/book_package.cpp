#include "documents/book_package.h"

#include <algorithm>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool HasWord(const std::string& list, const char* word) {
    size_t start = 0;
    const std::string wanted = word;
    while (start < list.size()) {
        size_t end = list.find(' ', start);
        if (end == std::string::npos) end = list.size();
        if (list.compare(start, end - start, wanted) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ResolveReference(const std::string& baseFolder, const std::string& href, std::string* path) {
    std::string reference = href.substr(0, href.find('#'));
    if (reference.empty() || reference.find(':') != std::string::npos || reference[0] == '/') return false;
    const std::string joined = baseFolder + PercentDecoded(reference);
    if (joined[0] == '/' || joined.find_first_of(std::string(":\\\0", 3)) != std::string::npos) return false;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (parts.empty()) return false;  // above the archive's root
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (parts.empty()) return false;
    path->clear();
    for (const std::string& part : parts) *path += (path->empty() ? "" : "/") + part;
    return true;
}

std::vector<std::string> ReadingOrder(const PackageDocument& package, const std::string& packagePath) {
    const std::string folder = FolderOf(packagePath);
    std::vector<std::string> order;
    for (const SpineItem& entry : package.spine) {
        if (!entry.linear) continue;
        const auto item = std::find_if(package.manifest.begin(), package.manifest.end(),
                                       [&](const ManifestItem& one) { return one.id == entry.idref; });
        if (item == package.manifest.end() || HasWord(item->properties, "nav")) continue;
        if (item->mediaType != "application/xhtml+xml" && item->mediaType != "text/html") continue;
        std::string path;
        if (!ResolveReference(folder, item->href, &path)) continue;
        if (std::find(order.begin(), order.end(), path) == order.end()) order.push_back(path);
    }
    return order;
}

bool IsProtectedBook(bool hasRightsRecord, const std::vector<std::string>& encryptionAlgorithms) {
    if (hasRightsRecord) return true;
    for (const std::string& algorithm : encryptionAlgorithms) {
        if (algorithm != "http://www.idpf.org/2008/embedding" && algorithm != "http://ns.adobe.com/pdf/enc#RC")
            return true;
    }
    return false;
}

// Braces escaped with a backslash are text, not groups.
bool RtfNestsWithin(const uint8_t* bytes, size_t size, int most) {
    int depth = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == '\\') {
            ++i;
        } else if (bytes[i] == '{') {
            if (++depth > most) return false;
        } else if (bytes[i] == '}') {
            depth = std::max(depth - 1, 0);
        }
    }
    return true;
}

std::u16string BookTitle(const std::u16string& author, const std::u16string& title) {
    if (title.empty()) return std::u16string();
    return author.empty() ? title : author + u" - " + title;
}
