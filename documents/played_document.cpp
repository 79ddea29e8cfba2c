#include "documents/played_document.h"

#include "base/plugin_settings.h"
#include "documents/document_text.h"

namespace {

bool ExtractPlayedDocument(const char* path, const std::atomic<bool>& cancelled, std::wstring* text,
                           std::string* problem) {
    DocumentText document;
    if (!ExtractDocument(path, document, &cancelled)) {
        *problem = document.error;
        return false;
    }
    *text = std::move(document.text);
    return true;
}

}  // namespace

bool PlaysAsDocument(const char* path) { return PluginSettings.Documents && path && IsDocumentFileName(path); }

std::shared_ptr<FileText> OpenPlayedText(const char* path) {
    if (PlaysAsDocument(path)) return FileText::OpenExtracted(path, ExtractPlayedDocument);
    return FileText::Open(path);
}

std::string DocumentFailureMessage(const char* path, const std::string& problem) {
    return std::string(path) + "\n\n" + problem;
}
