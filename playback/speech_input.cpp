#include "playback/speech_input.h"

#include <new>
#include <vector>

#include "base/scoped.h"

namespace {

constexpr DWORD CHUNK_BYTES = 64u << 10;

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// Fills the buffer from the file's current position; the count read, 0 at the end or on failure.
DWORD ReadChunk(HANDLE file, std::vector<uint8_t>& chunk) {
    DWORD read = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return 0;
    return read;
}

void SeekTo(HANDLE file, LONG offset) { SetFilePointer(file, offset, nullptr, FILE_BEGIN); }

// Bytes without a mark: UTF-8 only when every one of them says so.
bool ScanWithoutMark(HANDLE file, std::vector<uint8_t>& chunk, const std::atomic<bool>* cancel, TextEncoding* found) {
    Utf8Scan scan;
    for (DWORD read; !scan.Invalid() && (read = ReadChunk(file, chunk)) > 0;) {
        if (Cancelled(cancel)) return false;
        scan.Add(chunk.data(), read);
    }
    *found = scan.Verdict();
    return true;
}

bool DecodeUtf8(HANDLE file, std::vector<uint8_t>& chunk, const std::atomic<bool>* cancel, std::wstring* text) {
    std::vector<uint8_t> pending;
    for (;;) {
        const DWORD read = ReadChunk(file, chunk);
        if (Cancelled(cancel)) return false;
        pending.insert(pending.end(), chunk.begin(), chunk.begin() + read);
        const bool last = read == 0;
        const size_t start = text->size();
        text->resize(start + pending.size());  // n bytes never make more than n units
        size_t consumed = 0;
        const size_t units = Utf8ToUtf16(pending.data(), pending.size(), last,
                                         reinterpret_cast<char16_t*>(&(*text)[start]), pending.size(), &consumed);
        text->resize(start + units);
        pending.erase(pending.begin(), pending.begin() + consumed);
        if (last) return true;
    }
}

bool DecodeUtf16BigEndian(HANDLE file, std::vector<uint8_t>& chunk, const std::atomic<bool>* cancel, std::wstring* text) {
    uint8_t odd = 0;
    bool haveOdd = false;
    for (DWORD read; (read = ReadChunk(file, chunk)) > 0;) {
        if (Cancelled(cancel)) return false;
        std::vector<uint8_t> bytes;
        if (haveOdd) bytes.push_back(odd);
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + read);
        haveOdd = bytes.size() % 2 != 0;
        if (haveOdd) odd = bytes.back();
        const size_t start = text->size();
        text->resize(start + bytes.size() / 2);
        SwapUtf16Bytes(bytes.data(), bytes.size() / 2, reinterpret_cast<char16_t*>(&(*text)[start]));
    }
    return true;  // an odd last byte is no character
}

bool ReadOpenFile(HANDLE file, SpeechInput* input, const std::atomic<bool>* cancel) {
    std::vector<uint8_t> chunk(CHUNK_BYTES);
    uint8_t start[3] = {};
    DWORD read = 0;
    if (!ReadFile(file, start, sizeof start, &read, nullptr)) return true;  // the voice says what is wrong
    const ByteOrderMark mark = FindByteOrderMark(start, read);
    SeekTo(file, static_cast<LONG>(mark.length));
    if (mark.found) {
        input->encoding = mark.encoding;
    } else if (!ScanWithoutMark(file, chunk, cancel, &input->encoding)) {
        return false;
    }
    if (input->ByName()) return true;
    SeekTo(file, static_cast<LONG>(mark.length));
    return input->encoding == TextEncoding::Utf8 ? DecodeUtf8(file, chunk, cancel, &input->text)
                                                 : DecodeUtf16BigEndian(file, chunk, cancel, &input->text);
}

}  // namespace

bool ReadSpeechInput(const char* path, SpeechInput* input, const std::atomic<bool>* cancel) {
    *input = SpeechInput();
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // A pipe or a device cannot be read twice: its name goes to the voice as it is.
    if (!file.IsValid() || GetFileType(file.Get()) != FILE_TYPE_DISK) return true;
    try {
        if (ReadOpenFile(file.Get(), input, cancel)) return true;
    } catch (const std::bad_alloc&) {
    }
    *input = SpeechInput();
    return false;
}
