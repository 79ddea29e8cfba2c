// ==== The adapter between documents and playback ====
// The one place where the voice's input (playback/speech_input.cpp) and the Text info window's text
// (infowindow/text_loading.cpp) meet e-books and documents. With the Documents setting on, a document
// is extracted into text once, and that text is then treated exactly as a decoded UTF-8 text file.
// When the file reader that serves both comes, this is what it calls instead of decoding.
#pragma once

#include <memory>
#include <string>

#include "documents/document_text.h"

// The Documents setting is on and the name is one of a document type.
bool PlaysAsDocument(const char* path);

// The document's text, extracted once while the file stays the same: the voice and the window that
// ask for the same file, one after the other or at once, share one extraction. On failure the
// result's error says why.
std::shared_ptr<const DocumentText> PlayedDocumentText(const char* path);

// The message box text for a document that cannot be read: the file, then what is wrong.
std::string DocumentFailureMessage(const char* path, const std::string& error);
