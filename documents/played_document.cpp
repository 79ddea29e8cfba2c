#include "documents/played_document.h"

#include <windows.h>

#include "base/module_objects.h"
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

// The player sends the files its extension list, read at Init, names: while that list holds the
// document types, a document is played as one, even after the setting was turned off (the list
// changes from the next start). Its pairs are an extension list and a description each.
bool DocumentTypesOffered() {
    const char* pair = PluginModule.FileExtensions;
    while (pair && *pair) {
        if (lstrcmpiA(pair, "EPUB") == 0) return true;
        pair += lstrlenA(pair) + 1;
        if (!*pair) break;
        pair += lstrlenA(pair) + 1;
    }
    return false;
}

}  // namespace

bool PlaysAsDocument(const char* path) {
    return path && IsDocumentFileName(path) && (PluginSettings.Documents || DocumentTypesOffered());
}

std::shared_ptr<FileText> OpenPlayedText(const char* path) {
    if (PlaysAsDocument(path)) return FileText::OpenExtracted(path, ExtractPlayedDocument);
    return FileText::Open(path);
}

std::string DocumentFailureMessage(const char* path, const std::string& problem) {
    return std::string(path) + "\n\n" + problem;
}
