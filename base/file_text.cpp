#include "base/file_text.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "base/library_thread.h"
#include "base/text_decoder.h"

namespace {

enum class InjectedFailure { None, Allocation, Read };
InjectedFailure Injected = InjectedFailure::None;
constexpr uint64_t INJECT_AFTER_BYTES = 64 * 1024;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed over as wchar_t");

size_t ConvertAnsi(const uint8_t* bytes, size_t count, char16_t* out, size_t capacity) {
    const int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(count),
                                          reinterpret_cast<wchar_t*>(out), static_cast<int>(capacity));
    return units > 0 ? static_cast<size_t>(units) : 0;
}

bool IsAnsiLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != 0; }

const AnsiCodePage SYSTEM_CODE_PAGE = {ConvertAnsi, IsAnsiLeadByte};

// The 64-bit size of a disk file; UINT64_MAX for anything else, or when it cannot be asked.
uint64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size = {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) return UINT64_MAX;
    return static_cast<uint64_t>(size.QuadPart);
}

// A read that ends because the writer of a pipe is gone is the text's end.
bool ReadChunk(HANDLE file, void* buffer, DWORD count, DWORD* got) {
    *got = 0;
    if (ReadFile(file, buffer, count, got, nullptr)) return true;
    return GetLastError() == ERROR_BROKEN_PIPE;
}

}  // namespace

void ReadInjectedReaderFailure() {
    char value[16] = "";
    Injected = InjectedFailure::None;
    if (!GetEnvironmentVariableA("IN_TXT_TEST_READER_FAILURE", value, sizeof value)) return;
    if (lstrcmpA(value, "allocation") == 0) Injected = InjectedFailure::Allocation;
    if (lstrcmpA(value, "read") == 0) Injected = InjectedFailure::Read;
}

std::shared_ptr<FileText> FileText::Open(const char* path, bool assumeAnsi) {
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return nullptr;
    std::shared_ptr<FileText> text(new FileText);
    text->path_ = path;
    text->fileBytes_ = SizeOf(file.Get());
    text->assumeAnsi_ = assumeAnsi;
    text->file_ = std::move(file);
    return text;
}

std::shared_ptr<FileText> FileText::OpenExtracted(const char* path, Extractor extract) {
    std::shared_ptr<FileText> text = Open(path);
    if (!text) return nullptr;
    text->file_.Reset();  // the extractor reads the file its own way
    text->extract_ = std::move(extract);
    // Given as decoded text, never by name.
    text->encoding_ = TextEncoding::Utf8;
    text->encodingKnown_ = true;
    return text;
}

FileText::~FileText() = default;

bool FileText::ReadsQuickly() const {
    return OnDisk() && FileBytes() <= (Extracted() ? EXTRACT_HERE_BYTES : READ_HERE_BYTES);
}

int FileText::Watch(Watcher watcher) {
    std::lock_guard<std::mutex> guard(watchLock_);
    watchers_.emplace_back(nextWatcher_, std::move(watcher));
    return nextWatcher_++;
}

void FileText::Unwatch(int id) {
    std::lock_guard<std::mutex> guard(watchLock_);
    watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(),
                                   [id](const std::pair<int, Watcher>& w) { return w.first == id; }),
                    watchers_.end());
}

void FileText::Notify() {
    std::vector<Watcher> called;
    {
        std::lock_guard<std::mutex> guard(watchLock_);
        for (const auto& watcher : watchers_) called.push_back(watcher.second);
    }
    for (const Watcher& watcher : called) watcher();
}

void FileText::Publish(size_t units) {
    block_.As<char16_t>()[units] = u'\0';
    text_.store(block_.As<wchar_t>(), std::memory_order_release);
    units_.store(units, std::memory_order_release);
}

void FileText::End(Progress progress, DWORD error) {
    readError_ = error;
    file_.Reset();
    progress_.store(progress, std::memory_order_release);
    Notify();
}

// Room for the whole text at once, so it never moves: n bytes never decode to more than n units.
bool FileText::Reserve(uint64_t bytes) {
    if (bytes > MAX_FILE_TEXT_BYTES) return false;
    const size_t units = static_cast<size_t>(bytes) + TextDecoder::OutRoom() + 1;
    block_.Reset(HeapAlloc(GetProcessHeap(), 0, units * sizeof(char16_t)));
    if (!block_.Get()) return false;
    capacity_ = units;
    Publish(0);
    return true;
}

// A pipe or a device is read whole first: its size is not known before.
bool FileText::ReadWhole(std::string* bytes) {
    char chunk[TextDecoder::CHUNK_BYTES];
    for (DWORD got = 0;;) {
        if (cancelled_) return false;
        if (!ReadChunk(file_.Get(), chunk, sizeof chunk, &got)) return false;
        if (got == 0) return true;
        if (bytes->size() + got > MAX_FILE_TEXT_BYTES) return false;
        bytes->append(chunk, got);
    }
}

void FileText::Read() {
    TextDecoder decoder(SYSTEM_CODE_PAGE);
    if (assumeAnsi_) decoder.AssumeAnsi();
    std::string piped;
    const bool disk = OnDisk();
    if (!disk && !ReadWhole(&piped)) return End(cancelled_ ? Progress::Cancelled : Progress::Failed, GetLastError());
    if (!Reserve(disk ? fileBytes_ : piped.size())) return End(Progress::Failed, ERROR_NOT_ENOUGH_MEMORY);
    uint64_t read = 0;
    size_t units = 0;
    for (;;) {
        if (cancelled_) return End(Progress::Cancelled);
        DWORD got = 0;
        if (disk) {
            if (!ReadChunk(file_.Get(), decoder.Room(), TextDecoder::CHUNK_BYTES, &got))
                return End(Progress::Failed, GetLastError());
        } else {
            got = static_cast<DWORD>(std::min<uint64_t>(TextDecoder::CHUNK_BYTES, piped.size() - read));
            std::memcpy(decoder.Room(), piped.data() + read, got);
        }
        // A file that grew since it was sized is read as far as its size went.
        if (disk && read + got > fileBytes_) got = static_cast<DWORD>(fileBytes_ - read);
        read += got;
        const bool last = got == 0;
        units += decoder.Decode(got, last, block_.As<char16_t>() + units);
        encoding_ = decoder.Encoding();
        encodingKnown_ = decoder.EncodingKnown() || last || decoder.Finished();
        if (decoder.Misread()) return End(Progress::Misread);
        Publish(units);
        if (last || decoder.Finished()) return End(Progress::Whole);
        Notify();
        if (read >= INJECT_AFTER_BYTES && Injected == InjectedFailure::Allocation) throw std::bad_alloc();
        if (read >= INJECT_AFTER_BYTES && Injected == InjectedFailure::Read) return End(Progress::Failed, ERROR_READ_FAULT);
    }
}

// The whole text at once: what an extractor gives has its own limits and no chunks.
void FileText::ReadExtracted() {
    std::wstring text;
    std::string problem;
    if (!extract_(path_.c_str(), cancelled_, &text, &problem)) {
        if (cancelled_) return End(Progress::Cancelled);
        problem_ = problem;
        return End(Progress::Failed, ERROR_INVALID_DATA);
    }
    extracted_ = std::move(text);
    text_.store(extracted_.c_str(), std::memory_order_release);
    units_.store(std::wcslen(extracted_.c_str()), std::memory_order_release);  // to its first 0 unit
    End(cancelled_ ? Progress::Cancelled : Progress::Whole);
}

void FileText::ReadHere() {
    try {
        if (Extracted()) return ReadExtracted();
        Read();
    } catch (...) {
        End(Progress::Failed, ERROR_NOT_ENOUGH_MEMORY);
    }
}

bool FileText::ReadOnThread() {
    auto* held = new std::shared_ptr<FileText>(shared_from_this());
    const auto body = [](void* context) {
        std::unique_ptr<std::shared_ptr<FileText>> text(static_cast<std::shared_ptr<FileText>*>(context));
        (*text)->ReadHere();
    };
    if (StartLibraryThread(body, held, nullptr)) return true;
    delete held;
    End(Progress::Failed, ERROR_NOT_ENOUGH_MEMORY);
    return false;
}
