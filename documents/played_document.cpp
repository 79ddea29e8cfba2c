#include "documents/played_document.h"

#include <windows.h>

#include <mutex>

#include "base/plugin_settings.h"

namespace {

struct FileStamp {
    std::string path;
    FILETIME written = {};
    ULONGLONG size = 0;

    bool operator==(const FileStamp& other) const {
        return lstrcmpiA(path.c_str(), other.path.c_str()) == 0 && CompareFileTime(&written, &other.written) == 0 &&
               size == other.size;
    }
};

FileStamp StampOf(const char* path) {
    FileStamp stamp;
    stamp.path = path;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &attributes)) {
        stamp.written = attributes.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    }
    return stamp;
}

// Held while extracting, so a second caller for the same file waits and takes the first one's text.
std::mutex ExtractionLock;
FileStamp LastStamp;
std::shared_ptr<const DocumentText> LastText;

}  // namespace

bool PlaysAsDocument(const char* path) { return PluginSettings.Documents && path && IsDocumentFileName(path); }

std::shared_ptr<const DocumentText> PlayedDocumentText(const char* path) {
    std::lock_guard<std::mutex> guard(ExtractionLock);
    const FileStamp stamp = StampOf(path);
    if (LastText && LastStamp == stamp) return LastText;
    LastText.reset();  // the last book's text goes before the next one is read
    auto text = std::make_shared<DocumentText>();
    ExtractDocument(path, *text);
    LastStamp = stamp;
    LastText = text;
    return text;
}

std::string DocumentFailureMessage(const char* path, const std::string& error) {
    return std::string(path) + "\n\n" + error;
}
