#include "infowindow/text_loading.h"

#include <memory>
#include <string>

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

struct ReaderJob {
    std::string fileName;
    HWND window;
    UINT message;
    WPARAM ticket;
};

// The text handed over, or null; dropped when the window is gone.
void Post(const ReaderJob& job, std::unique_ptr<InfoText> text) {
    if (PostMessageA(job.window, job.message, job.ticket, reinterpret_cast<LPARAM>(text.get()))) text.release();
}

// The start of the text first, read and decoded in an instant, so the window shows something while
// the whole is decoded.
DWORD WINAPI ReadInfoTextThread(LPVOID parameter) {
    std::unique_ptr<ReaderJob> job(static_cast<ReaderJob*>(parameter));
    std::unique_ptr<InfoText> start(new InfoText);
    if (ReadInfoText(job->fileName.c_str(), start.get(), INFO_TEXT_START_BYTES) && !start->whole)
        Post(*job, std::move(start));
    std::unique_ptr<InfoText> text(new InfoText);
    if (!ReadInfoText(job->fileName.c_str(), text.get())) text.reset();
    Post(*job, std::move(text));
    return 0;
}

// Threads still reading; only the window's thread starts and waits for them.
std::vector<HANDLE> Readers;

void ForgetEndedReaders() {
    for (auto reader = Readers.begin(); reader != Readers.end();) {
        if (WaitForSingleObject(*reader, 0) == WAIT_OBJECT_0) {
            CloseHandle(*reader);
            reader = Readers.erase(reader);
        } else {
            ++reader;
        }
    }
}

}  // namespace

bool TextFileSize(const char* fileName, uint64_t* size) {
    ScopedHandle file(OpenForReading(fileName));
    return file.IsValid() && FileSize(file.Get(), size);
}

bool ReadInfoText(const char* fileName, InfoText* text, uint64_t atMostBytes) {
    *text = InfoText();
    ScopedHandle file(OpenForReading(fileName));
    if (!file.IsValid()) return false;
    TextSource source = {0, file.Get(), ReadFromFile, RewindFile};
    if (!FileSize(file.Get(), &source.size)) return false;
    text->whole = source.size <= atMostBytes;
    if (!text->whole) source.size = atMostBytes;

    const TextMemory memory = {AllocateBytes, ReleaseBytes, AnsiToUtf16};
    DecodedText decoded;
    const bool read = DecodeTextFile(source, memory, &decoded);
    file.Close();
    if (!read) return false;
    const uint64_t whole = UnitsFrom(decoded.text);
    const size_t shown = LimitShownText(decoded.text, MAX_SHOWN_TEXT_UNITS);
    text->hiddenUnits = whole - shown;
    text->block.Reset(ShrunkToFit(decoded.text, shown + 1, decoded.capacity));
    text->units = shown;
    text->utf16 = decoded.utf16;
    text->crLfPairs = FindCrLfPairs(reinterpret_cast<const char16_t*>(text->Text()), shown);
    return true;
}

void StartReadingInfoText(const char* fileName, HWND window, UINT message, WPARAM ticket) {
    ForgetEndedReaders();
    ReaderJob* job = new ReaderJob{fileName, window, message, ticket};
    HANDLE reader = CreateThread(nullptr, 0, ReadInfoTextThread, job, 0, nullptr);
    if (reader)
        Readers.push_back(reader);
    else
        delete job;
}

void WaitForInfoTextReaders() {
    for (HANDLE reader : Readers) {
        WaitForSingleObject(reader, INFINITE);
        CloseHandle(reader);
    }
    Readers.clear();
}
