// Reading a file's text for the Text info window: decoded to UTF-16 and cut to what the window shows,
// on the calling thread or, for a long file, on a thread of its own that can be cancelled.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/scoped.h"

// A file's text as the window shows it.
struct InfoText {
    ScopedHeapBlock block;         // NUL-terminated UTF-16 (process heap): the part shown
    size_t units = 0;              // units in block, the terminator not counted
    uint64_t hiddenUnits = 0;      // units after MAX_SHOWN_TEXT_UNITS, not shown
    bool utf16 = false;            // the file was not ANSI text: its text goes into the control as UTF-16
    bool whole = true;             // false: only the file's start
    std::vector<uint32_t> folded;  // the units the control folds into line ends (FindFoldedUnits)

    const wchar_t* Text() const { return block.As<wchar_t>(); }
};

// Reads and decodes the whole file at once, or its first atMostBytes: UTF-16LE after a mark FF FE,
// otherwise ANSI text up to its first 0 byte. The text handed out before is emptied first. False when
// the file cannot be opened, sized or held whole in memory.
bool ReadInfoText(const char* fileName, InfoText* text, uint64_t atMostBytes = UINT64_MAX);

// How much of a long file is read before its start is handed over, to show at once: far more than the
// window's first piece of text, in any encoding.
constexpr uint64_t INFO_TEXT_START_BYTES = 64 * 1024;

// What a chunked read of a file ended with.
enum class ReadEnd { Whole, Failed, Cancelled };

// Reads the file in chunks, holding no more of its text than the window shows (the rest is only
// counted), and checks `cancelled` between chunks. The decoding rules are ReadInfoText's; a failed
// read of the file fails the whole. Once INFO_TEXT_START_BYTES are read and more follow, onStart is
// given the text's start: a prefix of the whole text, cut where the control takes it the same way in
// two pieces.
ReadEnd ReadShownText(HANDLE file, const std::atomic<bool>& cancelled, void (*onStart)(void* context, InfoText start),
                      void* context, InfoText* text);
// The same for a file named, on the calling thread; Failed when it cannot be opened or memory runs out.
ReadEnd ReadShownText(const char* fileName, InfoText* text);

// The size of the file in bytes; false when it cannot be opened or sized. A file that is not on a disk
// (a pipe, a device) has no size to trust, and its reads may wait: UINT64_MAX.
bool TextFileSize(const char* fileName, uint64_t* size);

// A long file read on a thread of its own. The window and the thread each hold a reference; the texts
// the thread brings wait here until the window takes them, and each time one is brought `message` is
// posted to the window with the ticket as wParam. The thread holds the module loaded while it runs, so
// a thread that cannot stop in time (a read that hangs) never runs code or touches memory that is gone.
class InfoTextReader {
public:
    enum class Brought { Nothing, Start, Whole, Failed };

    // Starts the thread; null when it cannot start.
    static InfoTextReader* Start(const char* fileName, HWND window, UINT message, WPARAM ticket);
    // The thread stops at its next chunk and brings nothing more.
    void Cancel() { cancelled_ = true; }
    // What the thread brought since the last call: the start (text given), the whole (text given), or a
    // failure after which nothing follows.
    Brought Take(InfoText* text);
    // Ended when its thread has.
    HANDLE Thread() const { return thread_.Get(); }
    void AddRef() { ++references_; }
    void Release();

private:
    InfoTextReader() = default;
    static DWORD WINAPI ThreadMain(LPVOID reader);
    void Run();
    void Bring(Brought what, InfoText* text);

    std::atomic<long> references_{1};
    std::atomic<bool> cancelled_{false};
    std::string fileName_;
    HWND window_ = nullptr;
    UINT message_ = 0;
    WPARAM ticket_ = 0;
    HMODULE module_ = nullptr;
    ScopedHandle thread_;
    std::mutex lock_;  // guards what follows
    InfoText start_, whole_;
    bool startBrought_ = false, wholeBrought_ = false, failed_ = false;
};

// One reference to a reader.
class ReaderRef {
public:
    ReaderRef() = default;
    explicit ReaderRef(InfoTextReader* reader) : reader_(reader) {}
    ~ReaderRef() { Reset(); }
    ReaderRef(ReaderRef&& other) noexcept : reader_(other.reader_) { other.reader_ = nullptr; }
    ReaderRef& operator=(ReaderRef&& other) noexcept {
        if (this != &other) {
            Reset();
            reader_ = other.reader_;
            other.reader_ = nullptr;
        }
        return *this;
    }
    ReaderRef(const ReaderRef&) = delete;
    ReaderRef& operator=(const ReaderRef&) = delete;

    InfoTextReader* Get() const { return reader_; }
    InfoTextReader* operator->() const { return reader_; }
    explicit operator bool() const { return reader_ != nullptr; }
    void Reset() {
        if (reader_) reader_->Release();
        reader_ = nullptr;
    }

private:
    InfoTextReader* reader_ = nullptr;
};
