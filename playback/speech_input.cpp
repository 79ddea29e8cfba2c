#include "playback/speech_input.h"

#include <cstring>
#include <new>
#include <vector>

#include "base/scoped.h"
#include "documents/played_document.h"

namespace {

constexpr DWORD CHUNK_BYTES = 64u << 10;
// A text is given room for the file's size in units at once up to this size; past it, it grows.
constexpr LONGLONG MAX_RESERVED_UNITS = 64ll << 20;

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// Reads a file chunk by chunk into one buffer; bytes a chunk ends with that the next one completes (a
// cut UTF-8 sequence, the odd byte of a unit) stay at the buffer's front.
class ChunkReader {
public:
    explicit ChunkReader(HANDLE file) : file_(file), buffer_(CHUNK_BYTES + 4) {}
    // The bytes read next, after those kept; 0 at the end or on failure.
    DWORD Next() {
        DWORD read = 0;
        if (!ReadFile(file_, buffer_.data() + kept_, CHUNK_BYTES, &read, nullptr)) read = 0;
        fresh_ = buffer_.data() + kept_;
        return read;
    }
    const uint8_t* Fresh() const { return fresh_; }
    const uint8_t* All() const { return buffer_.data(); }
    // Keeps the last `count` of `total` bytes in the buffer for the next chunk.
    void Keep(size_t total, size_t count) {
        std::memmove(buffer_.data(), buffer_.data() + total - count, count);
        kept_ = count;
    }
    size_t Kept() const { return kept_; }

private:
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    const uint8_t* fresh_ = nullptr;
    size_t kept_ = 0;
};

// Decodes the reader's bytes (those kept and `read` fresh ones) onto the end of the text.
void AppendUtf8(ChunkReader& reader, DWORD read, bool last, std::wstring* text) {
    const size_t count = reader.Kept() + read;
    const size_t start = text->size();
    text->resize(start + count);  // n bytes never make more than n units
    size_t consumed = 0;
    const size_t units =
        Utf8ToUtf16(reader.All(), count, last, reinterpret_cast<char16_t*>(&(*text)[start]), count, &consumed);
    text->resize(start + units);
    reader.Keep(count, count - consumed);
}

// Bytes without a mark are decoded as they are scanned, in one pass: the text is kept only when every
// byte turned out to be UTF-8. A text too large to hold is given up at once, and the scan goes on: a
// file that turns out to be ANSI is still spoken, by name.
bool ReadWithoutMark(ChunkReader& reader, const std::atomic<bool>* cancel, SpeechInput* input) {
    Utf8Scan scan;
    bool holding = true;
    for (DWORD read; !scan.Invalid() && (read = reader.Next()) > 0;) {
        if (Cancelled(cancel)) return false;
        scan.Add(reader.Fresh(), read);
        if (scan.Invalid() || !holding) {
            reader.Keep(0, 0);
            continue;
        }
        try {
            AppendUtf8(reader, read, false, &input->text);
        } catch (const std::bad_alloc&) {
            holding = false;
            input->text = std::wstring();
            reader.Keep(0, 0);
        }
    }
    input->encoding = scan.Verdict();
    if (input->ByName()) input->text = std::wstring();
    return input->ByName() || holding;
}

bool DecodeUtf8(ChunkReader& reader, const std::atomic<bool>* cancel, std::wstring* text) {
    for (DWORD read; (read = reader.Next()) > 0;) {
        if (Cancelled(cancel)) return false;
        AppendUtf8(reader, read, false, text);
    }
    AppendUtf8(reader, 0, true, text);  // a sequence cut off at the end shows as U+FFFD
    return true;
}

bool DecodeUtf16BigEndian(ChunkReader& reader, const std::atomic<bool>* cancel, std::wstring* text) {
    for (DWORD read; (read = reader.Next()) > 0;) {
        if (Cancelled(cancel)) return false;
        const size_t count = reader.Kept() + read, units = count / 2, start = text->size();
        text->resize(start + units);
        SwapUtf16Bytes(reader.All(), units, reinterpret_cast<char16_t*>(&(*text)[start]));
        reader.Keep(count, count % 2);
    }
    return true;  // an odd last byte is no character
}

bool DecodeUtf16LittleEndian(ChunkReader& reader, const std::atomic<bool>* cancel, std::wstring* text) {
    for (DWORD read; (read = reader.Next()) > 0;) {
        if (Cancelled(cancel)) return false;
        const size_t count = reader.Kept() + read, units = count / 2, start = text->size();
        text->resize(start + units);
        std::memcpy(&(*text)[start], reader.All(), units * 2);
        reader.Keep(count, count % 2);
    }
    return true;
}

// ANSI text as the window shows it: up to its first 0 byte, through the ANSI code page.
bool DecodeAnsi(HANDLE file, const std::atomic<bool>* cancel, std::wstring* text) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string bytes;
    std::vector<char> chunk(CHUNK_BYTES);
    for (DWORD read; ReadFile(file, chunk.data(), CHUNK_BYTES, &read, nullptr) && read > 0;) {
        if (Cancelled(cancel)) return false;
        bytes.append(chunk.data(), read);
    }
    bytes.resize(std::strlen(bytes.c_str()));
    text->resize(bytes.size());
    if (bytes.empty()) return true;
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &(*text)[0],
                                          static_cast<int>(text->size()));
    text->resize(units > 0 ? static_cast<size_t>(units) : 0);
    return true;
}

// Room for the whole text at once, when there is: no copying as it grows.
void ReserveFor(HANDLE file, std::wstring* text) {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > MAX_RESERVED_UNITS) return;
    try {
        text->reserve(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
    }
}

// The whole text of a file the voice would be given by name.
bool DecodeByNameFile(HANDLE file, const ByteOrderMark& mark, const std::atomic<bool>* cancel, SpeechInput* input) {
    input->decoded = true;
    input->text = std::wstring();
    if (mark.encoding == TextEncoding::Ansi) return DecodeAnsi(file, cancel, &input->text);
    SetFilePointer(file, static_cast<LONG>(mark.length), nullptr, FILE_BEGIN);
    ReserveFor(file, &input->text);
    ChunkReader reader(file);
    return DecodeUtf16LittleEndian(reader, cancel, &input->text);
}

bool ReadOpenFile(HANDLE file, SpeechInput* input, const std::atomic<bool>* cancel, bool wholeText) {
    uint8_t start[3] = {};
    DWORD read = 0;
    if (!ReadFile(file, start, sizeof start, &read, nullptr)) return true;  // the voice says what is wrong
    const ByteOrderMark mark = FindByteOrderMark(start, read);
    if (mark.encoding == TextEncoding::Utf16LE) {
        if (wholeText) return DecodeByNameFile(file, mark, cancel, input);
        input->encoding = mark.encoding;  // the voice reads it by name
        return true;
    }
    SetFilePointer(file, static_cast<LONG>(mark.length), nullptr, FILE_BEGIN);
    ChunkReader reader(file);
    if (!mark.found) {
        if (!ReadWithoutMark(reader, cancel, input)) return false;
        return wholeText && input->ByName() ? DecodeByNameFile(file, mark, cancel, input) : true;
    }
    ReserveFor(file, &input->text);
    input->encoding = mark.encoding;
    return mark.encoding == TextEncoding::Utf8 ? DecodeUtf8(reader, cancel, &input->text)
                                               : DecodeUtf16BigEndian(reader, cancel, &input->text);
}

// ---- Documents adapter: the text extracted from a document goes to the voice as decoded UTF-8 text ----
bool ReadDocumentInput(const char* path, SpeechInput* input) {
    const std::shared_ptr<const DocumentText> document = PlayedDocumentText(path);
    if (!document->error.empty()) {
        input->failure = document->error;
        return false;
    }
    input->encoding = TextEncoding::Utf8;
    input->text = document->text;
    return true;
}

}  // namespace

bool ReadSpeechInput(const char* path, SpeechInput* input, const std::atomic<bool>* cancel, bool wholeText) {
    *input = SpeechInput();
    if (PlaysAsDocument(path)) {
        try {
            return ReadDocumentInput(path, input);
        } catch (const std::bad_alloc&) {
            *input = SpeechInput();
            return false;
        }
    }
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // A pipe or a device cannot be read twice: its name goes to the voice as it is.
    if (!file.IsValid() || GetFileType(file.Get()) != FILE_TYPE_DISK) return true;
    try {
        if (ReadOpenFile(file.Get(), input, cancel, wholeText)) return true;
    } catch (const std::bad_alloc&) {
    }
    *input = SpeechInput();
    return false;
}
