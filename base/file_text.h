// The decoded text of one file, read once, in chunks, and shared by whoever needs it: the voice is
// given its pieces, the Text info window shows it, and reading from a place starts in it.
//
// Units are only ever added: Text() stays where it is and Units() grows as chunks are decoded, so any
// thread may read the first Units() units while the reader goes on. The text ends at its first 0 unit.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/scoped.h"
#include "base/text_encoding.h"

class FileText : public std::enable_shared_from_this<FileText> {
public:
    enum class Progress {
        Reading,
        Whole,      // every byte read and decoded
        Failed,     // a read failed, or memory ran out: the text so far stays
        Cancelled,  // Cancel() came first
        Misread,    // bytes without a mark were taken for UTF-8 and are not: read again with assumeAnsi
    };

    // Opens the file (readable while others write it). Null when it cannot be opened.
    static std::shared_ptr<FileText> Open(const char* path, bool assumeAnsi = false);
    // A file whose text another reader makes (an e-book's, a document's): called once on the reading
    // thread, it gives the whole text, or false and what is wrong with the file, in words; it may give
    // up once `cancelled` is set.
    using Extractor = std::function<bool(const char* path, const std::atomic<bool>& cancelled, std::wstring* text,
                                         std::string* problem)>;
    static std::shared_ptr<FileText> OpenExtracted(const char* path, Extractor extract);
    ~FileText();

    // Reads and decodes the whole file on the calling thread.
    void ReadHere();
    // Reads it on a thread of its own that holds the library; false (and Failed) when none starts.
    bool ReadOnThread();
    // Small enough to be read on the caller's thread without keeping it waiting.
    bool ReadsQuickly() const;
    // The reader stops at its next chunk (an extractor at its next chapter or element).
    void Cancel() { cancelled_ = true; }

    const std::string& Path() const { return path_; }
    // The file's size; UINT64_MAX for a pipe or a device, whose reads may wait.
    uint64_t FileBytes() const { return fileBytes_; }
    bool OnDisk() const { return fileBytes_ != UINT64_MAX; }

    const wchar_t* Text() const { return text_.load(std::memory_order_acquire); }
    size_t Units() const { return units_.load(std::memory_order_acquire); }
    Progress State() const { return progress_.load(std::memory_order_acquire); }
    bool Done() const { return State() != Progress::Reading; }
    bool EncodingKnown() const { return encodingKnown_; }
    TextEncoding Encoding() const { return encoding_; }
    // The text goes into a control as UTF-16: it is not ANSI text.
    bool Utf16() const { return encoding_ != TextEncoding::Ansi; }
    // Why the read failed: a system error code, or ERROR_NOT_ENOUGH_MEMORY.
    DWORD ReadError() const { return readError_; }
    // Made by an extractor; once Failed, Problem() may say in words what is wrong with the file.
    bool Extracted() const { return static_cast<bool>(extract_); }
    const std::string& Problem() const { return problem_; }

    // Called on the reading thread after each chunk's units are in and once the read has ended; a
    // watcher must be quick and may be called a last time while it is being removed.
    using Watcher = std::function<void()>;
    int Watch(Watcher watcher);
    void Unwatch(int id);

private:
    FileText() = default;
    void Read();
    void ReadExtracted();
    bool ReadWhole(std::string* bytes);
    bool Reserve(uint64_t units);
    void Publish(size_t units);
    void End(Progress progress, DWORD error = NO_ERROR);
    void Notify();

    std::string path_;
    ScopedHandle file_;
    uint64_t fileBytes_ = 0;
    bool assumeAnsi_ = false;
    ScopedHeapBlock block_;
    Extractor extract_;
    std::wstring extracted_;  // an extractor's text, where Text() points once it is in
    std::string problem_;     // written before the read ends as Failed
    std::atomic<const wchar_t*> text_{L""};
    size_t capacity_ = 0;  // units, the terminator's included
    std::atomic<size_t> units_{0};
    std::atomic<Progress> progress_{Progress::Reading};
    std::atomic<bool> encodingKnown_{false};
    std::atomic<TextEncoding> encoding_{TextEncoding::Ansi};
    std::atomic<DWORD> readError_{NO_ERROR};
    std::atomic<bool> cancelled_{false};

    std::mutex watchLock_;
    std::vector<std::pair<int, Watcher>> watchers_;
    int nextWatcher_ = 1;
};

// A failure the test programs ask the reader to meet once a file's first 64 KB are read: memory that
// runs out, or a read that fails. Read from the environment (IN_TXT_TEST_READER_FAILURE: "allocation"
// or "read") once, at start-up.
void ReadInjectedReaderFailure();

// The most units a text holds: (size + 1) * 2 bytes must not overflow.
constexpr uint64_t MAX_FILE_TEXT_BYTES = 0x3FFFFFFF;
// Files up to this size are read where they are asked for; an extracted text's file is packed or
// marked up, so it gives more text a byte and takes longer to make.
constexpr uint64_t READ_HERE_BYTES = 256u << 10;
constexpr uint64_t EXTRACT_HERE_BYTES = 64u << 10;
