// Small file and folder helpers shared by the host and its tests.
#pragma once

#include <string>

namespace host {

// The folder of the running program, with a trailing backslash.
std::string ProgramFolder();
// A folder that did not exist before, "<temp>\<prefix><process>_<n>"; "" when none can be made.
std::string CreateUniqueTempFolder(const std::string& prefix);
// Removes a folder and everything in it.
void RemoveFolderTree(const std::string& folder);
// The whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& contents);
bool FileExists(const std::string& path);

}  // namespace host
