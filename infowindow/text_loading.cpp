#include "infowindow/text_loading.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/text_encoding.h"
#include "documents/played_document.h"
#include "infowindow/reading_along.h"
#include "infowindow/text_decoding.h"

namespace {

void* AllocateBytes(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void ReleaseBytes(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

// wchar_t is a 16-bit UTF-16 code unit here, the same as char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed over as wchar_t");

bool AnsiToUtf16(const char* bytes, char16_t* out, size_t capacity) {
    return MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<wchar_t*>(out), static_cast<int>(capacity)) != 0;
}

// A failed read counts as nothing read.
uint32_t ReadFromFile(void* file, void* buffer, uint32_t count) {
    DWORD read = 0;
    return ReadFile(static_cast<HANDLE>(file), buffer, count, &read, nullptr) ? read : 0;
}

void RewindFile(void* file) { SetFilePointer(static_cast<HANDLE>(file), 0, nullptr, FILE_BEGIN); }

// The 64-bit size of an open file, or false when it cannot be asked.
bool FileSize(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

HANDLE OpenForReading(const char* fileName) {
    return CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A block of a long file's text, cut for showing, gives back the memory the cut text no longer needs.
// Left as it is when that is little or the heap refuses.
void* ShrunkToFit(char16_t* text, size_t units, size_t capacity) {
    if (units > capacity / 2) return text;
    void* smaller = HeapReAlloc(GetProcessHeap(), 0, text, units * sizeof(char16_t));
    return smaller ? smaller : text;
}

uint64_t UnitsFrom(const char16_t* text) {
    uint64_t units = 0;
    while (text[units] != u'\0') ++units;
    return units;
}

// ---- Reading in chunks ----

constexpr DWORD CHUNK_BYTES = 64 * 1024;
const char READER_FAILURE_VARIABLE[] = "IN_TXT_TEST_READER_FAILURE";

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The text's units as they are decoded: the shown part kept, the rest only counted, and the text ended
// at its first 0 unit. A block that cannot grow ends the read as failed.
class ShownUnits {
public:
    // Takes the units up to the first 0 among them; false when memory ran out.
    bool Add(const char16_t* units, size_t count) {
        const char16_t* zero = std::find(units, units + count, u'\0');
        if (zero != units + count) {
            count = zero - units;
            ended_ = true;
        }
        const size_t kept = std::min(count, MAX_SHOWN_TEXT_UNITS - units_);
        if (kept > 0) {
            if (!Reserve(units_ + kept + 1)) return false;
            std::memcpy(Units() + units_, units, kept * sizeof(char16_t));
            units_ += kept;
            Units()[units_] = u'\0';
        }
        if (count > kept) Cut(count - kept);
        return true;
    }
    bool Ended() const { return ended_; }
    size_t Count() const { return units_; }
    const char16_t* Units() const { return block_.As<char16_t>(); }

    // The units so far, as the start of the text: cut after its last line break, or else where the
    // control takes it the same way in two pieces, so the whole text goes on from it.
    bool CopyStart(InfoText* start) const {
        size_t end = units_;
        while (end > 0 && Units()[end - 1] != u'\n') --end;
        if (end == 0) {
            end = units_ > 2 ? units_ - 2 : 0;
            while (end > 0 && SplitsCharacter(Units(), end, units_)) --end;
        }
        start->block.Reset(HeapAlloc(GetProcessHeap(), 0, (end + 1) * sizeof(char16_t)));
        if (!start->block.Get()) return false;
        std::memcpy(start->block.Get(), Units(), end * sizeof(char16_t));
        start->block.As<char16_t>()[end] = u'\0';
        start->units = end;
        start->whole = false;
        start->folded = FindFoldedUnits(start->block.As<char16_t>(), end);
        return true;
    }
    // Hands the text over, its block no larger than it needs.
    bool Finish(InfoText* text) {
        if (!Reserve(units_ + 1)) return false;
        Units()[units_] = u'\0';
        if (capacity_ > units_ + 1) {
            void* fitted = HeapReAlloc(GetProcessHeap(), 0, block_.Get(), (units_ + 1) * sizeof(char16_t));
            if (fitted) block_.Detach(), block_.Reset(fitted);
        }
        text->units = units_;
        text->hiddenUnits = hidden_;
        text->whole = true;
        text->block = std::move(block_);
        text->folded = FindFoldedUnits(text->block.As<char16_t>(), units_);
        return true;
    }

private:
    char16_t* Units() { return block_.As<char16_t>(); }
    // Past the limit nothing more is kept, and a surrogate pair the limit would split goes whole.
    void Cut(uint64_t units) {
        if (!cut_ && units_ > 0 && IsHighSurrogate(Units()[units_ - 1])) {
            Units()[--units_] = u'\0';
            ++hidden_;
        }
        cut_ = true;
        hidden_ += units;
    }
    bool Reserve(size_t units) {
        if (units <= capacity_) return true;
        size_t capacity = std::max<size_t>(std::max(units, capacity_ * 2), 4096);
        capacity = std::min(capacity, MAX_SHOWN_TEXT_UNITS + 1);
        const size_t bytes = capacity * sizeof(char16_t);
        void* grown = block_.Get() ? HeapReAlloc(GetProcessHeap(), 0, block_.Get(), bytes)
                                   : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!grown) return false;
        block_.Detach();
        block_.Reset(grown);
        capacity_ = capacity;
        return true;
    }

    ScopedHeapBlock block_;
    size_t units_ = 0, capacity_ = 0;
    uint64_t hidden_ = 0;
    bool cut_ = false, ended_ = false;
};

// A failure a test asks the reading thread to meet, after the text's start: "allocation" (memory runs
// out) or "read" (the file cannot be read on).
enum class InjectedFailure { None, Allocation, Read };

InjectedFailure FailureAskedFor() {
    char value[16] = "";
    if (!GetEnvironmentVariableA(READER_FAILURE_VARIABLE, value, sizeof value)) return InjectedFailure::None;
    if (lstrcmpA(value, "allocation") == 0) return InjectedFailure::Allocation;
    if (lstrcmpA(value, "read") == 0) return InjectedFailure::Read;
    return InjectedFailure::None;
}

// Bytes turned into units chunk by chunk, by the file's mark, or else by what the bytes without one were
// found to be: UTF-16 (little- or big-endian), UTF-8 (a bad byte shown as U+FFFD), or ANSI; the text
// ends at its first 0. What a chunk ends with that needs the next one (the odd byte of a unit, the lead
// byte of a double-byte character, the start of a UTF-8 sequence) waits for it.
class ChunkDecoder {
public:
    ChunkDecoder(ShownUnits* units, TextEncoding withoutMark)
        : units_(units), encoding_(withoutMark), bytes_(CHUNK_BYTES + 4), converted_(CHUNK_BYTES + 4) {}

    char* Room() { return bytes_.data() + carried_; }
    // Decodes the bytes read into Room() with those carried; false when memory ran out.
    bool Take(DWORD read, bool first) {
        const size_t count = carried_ + read;
        size_t at = 0;
        if (first) {
            const ByteOrderMark mark = FindByteOrderMark(reinterpret_cast<const uint8_t*>(bytes_.data()), count);
            if (mark.found) encoding_ = mark.encoding;
            at = mark.length;
        }
        switch (encoding_) {
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: return TakeUtf16(at, count);
        case TextEncoding::Utf8: return TakeUtf8(at, count, false);
        default: return TakeAnsi(count);
        }
    }
    // At the end of the file: a UTF-8 sequence cut off there shows as U+FFFD.
    bool Finish() { return encoding_ != TextEncoding::Utf8 || TakeUtf8(0, carried_, true); }
    // Text that was not ANSI goes into the control as UTF-16: the ANSI code page may not hold it.
    bool Utf16() const { return encoding_ != TextEncoding::Ansi; }

private:
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }
    bool TakeUtf16(size_t at, size_t count) {
        const size_t units = (count - at) / 2;
        if (encoding_ == TextEncoding::Utf16BE)
            SwapUtf16Bytes(Bytes() + at, units, converted_.data());
        else
            std::memcpy(converted_.data(), bytes_.data() + at, units * 2);
        Carry(at + units * 2, count);
        return units_->Add(converted_.data(), units);
    }
    bool TakeUtf8(size_t at, size_t count, bool last) {
        size_t consumed = 0;
        const size_t units =
            Utf8ToUtf16(Bytes() + at, count - at, last, converted_.data(), converted_.size(), &consumed);
        Carry(at + consumed, count);
        return units_->Add(converted_.data(), units);
    }
    bool TakeAnsi(size_t count) {
        const char* zero = static_cast<const char*>(std::memchr(bytes_.data(), 0, count));
        size_t end = zero ? zero - bytes_.data() : count;
        size_t whole = 0;
        while (whole < end) whole += IsDBCSLeadByte(static_cast<BYTE>(bytes_[whole])) ? 2 : 1;
        if (whole > end && !zero) end = whole - 2;  // the lead byte waits for its trail
        int units = end ? MultiByteToWideChar(CP_ACP, 0, bytes_.data(), static_cast<int>(end),
                                              reinterpret_cast<wchar_t*>(converted_.data()),
                                              static_cast<int>(converted_.size()))
                        : 0;
        if (zero || (end > 0 && units == 0)) converted_[units++] = u'\0';  // a failed conversion ends the text
        Carry(zero ? count : end, count);
        return units_->Add(converted_.data(), units);
    }
    void Carry(size_t from, size_t count) {
        carried_ = count - from;
        std::memmove(bytes_.data(), bytes_.data() + from, carried_);
    }

    ShownUnits* units_;
    TextEncoding encoding_;
    std::vector<char> bytes_;
    std::vector<char16_t> converted_;
    size_t carried_ = 0;
};

// What bytes without a mark are, read whole before any of them is decoded: UTF-8 only when every one
// says so. A pipe or a device cannot be read twice: its bytes without a mark are ANSI. The file is left
// at its start. Cancelled when asked to stop while reading.
ReadEnd FindEncodingWithoutMark(HANDLE file, const std::atomic<bool>& cancelled, TextEncoding* encoding) {
    *encoding = TextEncoding::Ansi;
    if (GetFileType(file) != FILE_TYPE_DISK) return ReadEnd::Whole;
    std::vector<uint8_t> chunk(CHUNK_BYTES);
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), 3, &got, nullptr)) return ReadEnd::Failed;
    if (FindByteOrderMark(chunk.data(), got).found) return RewindFile(file), ReadEnd::Whole;
    Utf8Scan scan;
    scan.Add(chunk.data(), got);
    while (!scan.Invalid()) {
        if (cancelled) return ReadEnd::Cancelled;
        if (!ReadFile(file, chunk.data(), CHUNK_BYTES, &got, nullptr)) return ReadEnd::Failed;
        if (got == 0) break;
        scan.Add(chunk.data(), got);
    }
    *encoding = scan.Verdict();
    RewindFile(file);
    return ReadEnd::Whole;
}

// ---- Documents adapter: a document's extracted text is shown as a decoded UTF-8 text file's ----
bool DocumentInfoText(const char* fileName, InfoText* text) {
    *text = InfoText();
    const std::shared_ptr<const DocumentText> document = PlayedDocumentText(fileName);
    if (!document->error.empty()) return false;
    const std::wstring& whole = document->text;
    text->block.Reset(HeapAlloc(GetProcessHeap(), 0, (whole.size() + 1) * sizeof(char16_t)));
    if (!text->block.Get()) return false;
    char16_t* units = text->block.As<char16_t>();
    std::memcpy(units, whole.c_str(), (whole.size() + 1) * sizeof(char16_t));
    text->units = LimitShownText(units, MAX_SHOWN_TEXT_UNITS);
    text->hiddenUnits = whole.size() - text->units;
    text->utf16 = true;
    text->folded = FindFoldedUnits(units, text->units);
    return true;
}

}  // namespace

bool TextFileSize(const char* fileName, uint64_t* size) {
    ScopedHandle file(OpenForReading(fileName));
    if (!file.IsValid()) return false;
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        *size = UINT64_MAX;
        return true;
    }
    return FileSize(file.Get(), size);
}

bool ReadInfoText(const char* fileName, InfoText* text, uint64_t atMostBytes) {
    *text = InfoText();
    if (PlaysAsDocument(fileName)) return DocumentInfoText(fileName, text);
    ScopedHandle file(OpenForReading(fileName));
    if (!file.IsValid()) return false;
    TextSource source = {0, file.Get(), ReadFromFile, RewindFile};
    if (!FileSize(file.Get(), &source.size)) return false;
    text->whole = source.size <= atMostBytes;
    if (!text->whole) source.size = atMostBytes;

    const TextMemory memory = {AllocateBytes, ReleaseBytes, AnsiToUtf16};
    DecodedText decoded;
    const bool read = DecodeTextFile(source, memory, &decoded);
    file.Reset();
    if (!read) return false;
    const uint64_t whole = UnitsFrom(decoded.text);
    const size_t shown = LimitShownText(decoded.text, MAX_SHOWN_TEXT_UNITS);
    text->hiddenUnits = whole - shown;
    text->block.Reset(ShrunkToFit(decoded.text, shown + 1, decoded.capacity));
    text->units = shown;
    text->utf16 = decoded.utf16;
    text->folded = FindFoldedUnits(reinterpret_cast<const char16_t*>(text->Text()), shown);
    return true;
}

ReadEnd ReadShownText(HANDLE file, const std::atomic<bool>& cancelled, void (*onStart)(void* context, InfoText start),
                      void* context, InfoText* text) {
    *text = InfoText();
    const InjectedFailure injected = FailureAskedFor();
    TextEncoding withoutMark = TextEncoding::Ansi;
    const ReadEnd found = FindEncodingWithoutMark(file, cancelled, &withoutMark);
    if (found != ReadEnd::Whole) return found;
    ShownUnits units;
    ChunkDecoder decoder(&units, withoutMark);
    uint64_t read = 0;
    bool startGiven = false;
    for (bool first = true;; first = false) {
        if (cancelled) return ReadEnd::Cancelled;
        DWORD got = 0;
        if (!ReadFile(file, decoder.Room(), CHUNK_BYTES, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer is done: the text's end
            return ReadEnd::Failed;
        }
        if (got == 0) break;
        read += got;
        if (!decoder.Take(got, first)) return ReadEnd::Failed;
        if (units.Ended()) break;
        if (startGiven || read < INFO_TEXT_START_BYTES || !onStart) continue;
        InfoText start;
        if (!units.CopyStart(&start)) return ReadEnd::Failed;
        start.utf16 = decoder.Utf16();
        onStart(context, std::move(start));
        startGiven = true;
        if (injected == InjectedFailure::Allocation) throw std::bad_alloc();
        if (injected == InjectedFailure::Read) return ReadEnd::Failed;
    }
    if (!decoder.Finish() || !units.Finish(text)) return ReadEnd::Failed;
    text->utf16 = decoder.Utf16();
    return ReadEnd::Whole;
}

// Memory that runs out fails the read: this runs on the caller's thread.
ReadEnd ReadShownText(const char* fileName, InfoText* text) {
    try {
        if (PlaysAsDocument(fileName)) return DocumentInfoText(fileName, text) ? ReadEnd::Whole : ReadEnd::Failed;
    } catch (const std::bad_alloc&) {
        *text = InfoText();
        return ReadEnd::Failed;
    }
    ScopedHandle file(OpenForReading(fileName));
    if (!file.IsValid()) return ReadEnd::Failed;
    const std::atomic<bool> never{false};
    try {
        return ReadShownText(file.Get(), never, nullptr, nullptr, text);
    } catch (const std::bad_alloc&) {
        *text = InfoText();
        return ReadEnd::Failed;
    }
}

InfoTextReader* InfoTextReader::Start(const char* fileName, HWND window, UINT message, WPARAM ticket) {
    std::unique_ptr<InfoTextReader> reader(new InfoTextReader);
    reader->fileName_ = fileName;
    reader->window_ = window;
    reader->message_ = message;
    reader->ticket_ = ticket;
    // The thread's own reference to this module, given back as the thread ends.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&InfoTextReader::ThreadMain),
                            &reader->module_))
        return nullptr;
    reader->AddRef();  // the thread's
    reader->thread_.Reset(CreateThread(nullptr, 0, ThreadMain, reader.get(), 0, nullptr));
    if (!reader->thread_.IsValid()) {
        FreeLibrary(reader->module_);
        reader->Release();
        return nullptr;
    }
    return reader.release();
}

void InfoTextReader::Release() {
    if (--references_ == 0) delete this;
}

InfoTextReader::Brought InfoTextReader::Take(InfoText* text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (wholeBrought_) {
        wholeBrought_ = startBrought_ = false;
        start_ = InfoText();
        *text = std::move(whole_);
        return Brought::Whole;
    }
    if (startBrought_) {
        startBrought_ = false;
        *text = std::move(start_);
        return Brought::Start;
    }
    if (failed_) {
        failed_ = false;
        return Brought::Failed;
    }
    return Brought::Nothing;
}

// A newer text replaces one the window has not taken yet: nothing piles up whatever the window's thread
// does.
void InfoTextReader::Bring(Brought what, InfoText* text) {
    if (cancelled_) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (what == Brought::Start) start_ = std::move(*text), startBrought_ = true;
        if (what == Brought::Whole) whole_ = std::move(*text), wholeBrought_ = true;
        if (what == Brought::Failed) failed_ = true;
    }
    PostMessageA(window_, message_, ticket_, 0);
}

// Nothing may leave the thread: memory that runs out, or anything else, ends the read as failed and the
// file plays without its text.
void InfoTextReader::Run() {
    try {
        InfoText text;
        if (PlaysAsDocument(fileName_.c_str())) {
            Bring(DocumentInfoText(fileName_.c_str(), &text) ? Brought::Whole : Brought::Failed, &text);
            return;
        }
        ScopedHandle file(OpenForReading(fileName_.c_str()));
        const auto onStart = [](void* reader, InfoText start) {
            static_cast<InfoTextReader*>(reader)->Bring(Brought::Start, &start);
        };
        const ReadEnd end = file.IsValid() ? ReadShownText(file.Get(), cancelled_, onStart, this, &text) : ReadEnd::Failed;
        if (end == ReadEnd::Whole) Bring(Brought::Whole, &text);
        if (end == ReadEnd::Failed) Bring(Brought::Failed, nullptr);
    } catch (...) {
        try {
            Bring(Brought::Failed, nullptr);
        } catch (...) {
        }
    }
}

// The module reference is copied first: the last reference to the reader may go in Release.
DWORD WINAPI InfoTextReader::ThreadMain(LPVOID parameter) {
    InfoTextReader* reader = static_cast<InfoTextReader*>(parameter);
    HMODULE module = reader->module_;
    reader->Run();
    reader->Release();
    FreeLibraryAndExitThread(module, 0);
}
