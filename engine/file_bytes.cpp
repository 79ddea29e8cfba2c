#include "engine/file_bytes.h"

#include "base/scoped.h"

namespace engine {

HRESULT ReadFileBytes(LPCWSTR path, std::vector<unsigned char>& bytes) {
    ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return HRESULT_FROM_WIN32(GetLastError());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) return HRESULT_FROM_WIN32(GetLastError());
    if (size.QuadPart > 64 * 1024 * 1024) return E_OUTOFMEMORY;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    bytes.resize(read);
    return S_OK;
}

HRESULT WriteFileBytes(LPCWSTR path, const void* data, size_t size) {
    ScopedHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    if (size > 0 && (!WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

}  // namespace engine
