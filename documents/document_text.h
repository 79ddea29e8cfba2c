// E-books and documents as plain text: EPUB, FictionBook (.fb2, .fb2.zip), HTML and XHTML, RTF and
// DOCX, each turned into UTF-16 text with CR LF where a block ends, and their title from metadata.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct DocumentText {
    std::wstring text;
    std::wstring title;  // "Author - Title", "Title", or empty when the document names none
    std::string error;   // why there is no text: "This book is protected by DRM ...", "The file is damaged: ..."
};

// Whether the name ends in one of the document types (letter case aside).
bool IsDocumentFileName(const char* name);

// The whole text and title of a document; false with out.error set when it cannot be read, or when
// *cancelled was set meanwhile.
bool ExtractDocument(const char* path, DocumentText& out, const std::atomic<bool>* cancelled = nullptr);

// The title alone, read with as little of the file as its format allows; empty when there is none.
std::wstring ExtractDocumentTitle(const char* path);

// The units of text a document of `bytes` bytes holds, judged from its size and type alone: packed
// books give more text than their size, marked-up ones less.
uint64_t EstimatedDocumentUnits(const char* name, uint64_t bytes);

// Files larger than this are not read as documents, but for EPUB and DOCX, of which only the parts
// that hold text are read.
constexpr unsigned long long DOCUMENT_MOST_FILE_BYTES = 256ull << 20;

extern const char TEXT_DRM_PROTECTED[];
