// Whole files in and out, for the voice's input files and espeak-ng's temporary files.
#pragma once

#include <windows.h>

#include <vector>

namespace engine {

// Reads a whole file (at most 64 MB); the Win32 error as an HRESULT on failure.
HRESULT ReadFileBytes(LPCWSTR path, std::vector<unsigned char>& bytes);

// Creates or replaces a file with these bytes.
HRESULT WriteFileBytes(LPCWSTR path, const void* data, size_t size);

}  // namespace engine
