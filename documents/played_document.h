// Where playback and the Text info window meet e-books and documents: with the Documents setting on, a
// document's text is extracted by the document reader and is then a text like any decoded file's.
#pragma once

#include <memory>
#include <string>

#include "base/file_text.h"

// The name is one of a document type, and documents are played: the setting is on, or the player
// was offered the document types at Init.
bool PlaysAsDocument(const char* path);

// The text of a file that is played or shown: a document's extracted text, or else the file's own.
// Null when the file cannot be opened. Not read yet.
std::shared_ptr<FileText> OpenPlayedText(const char* path);

// The message box text for a document that cannot be read: the file, then what is wrong.
std::string DocumentFailureMessage(const char* path, const std::string& problem);
