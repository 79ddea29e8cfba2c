#include "playback/remembered_places.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "base/scoped.h"

namespace {

constexpr size_t MAX_PLACE_PATH = 260;

std::wstring Widened(const std::string& text, unsigned codePage) {
    if (text.empty()) return std::wstring();
    const int units = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

// Names equal when the file system takes them for one: compared by UTF-16 unit, letter case folded as
// the system folds it. Before Windows Vista there is no CompareStringOrdinal: both are upper-cased.
bool SameWideName(std::wstring a, std::wstring b) {
    using CompareOrdinal = int(WINAPI*)(const wchar_t*, int, const wchar_t*, int, BOOL);
    static const CompareOrdinal compare = reinterpret_cast<CompareOrdinal>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CompareStringOrdinal")));
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    if (compare) return compare(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
    CharUpperBuffW(&a[0], static_cast<DWORD>(a.size()));
    CharUpperBuffW(&b[0], static_cast<DWORD>(b.size()));
    return a == b;
}

bool SameFile(const std::string& a, const std::string& b) { return SameFileName(a, b, CP_ACP); }

// A decimal number of at most 20 digits followed by one space; false otherwise.
bool ReadNumber(const std::string& line, size_t* at, uint64_t* value) {
    const size_t start = *at;
    uint64_t number = 0;
    while (*at < line.size() && line[*at] >= '0' && line[*at] <= '9' && *at - start < 20)
        number = number * 10 + static_cast<uint64_t>(line[(*at)++] - '0');
    if (*at == start || *at >= line.size() || line[*at] != ' ') return false;
    ++*at;
    *value = number;
    return true;
}

bool ParseLine(const std::string& line, RememberedPlace* place) {
    size_t at = 0;
    uint64_t position = 0;
    if (!ReadNumber(line, &at, &position) || position > UINT32_MAX) return false;
    if (!ReadNumber(line, &at, &place->size) || !ReadNumber(line, &at, &place->writeTime)) return false;
    place->position = static_cast<uint32_t>(position);
    place->file = line.substr(at);
    return !place->file.empty() && place->file.size() < MAX_PLACE_PATH;
}

}  // namespace

bool SameFileName(const std::string& a, const std::string& b, unsigned codePage) {
    if (a == b) return true;
    const std::wstring wideA = Widened(a, codePage), wideB = Widened(b, codePage);
    return !wideA.empty() && SameWideName(wideA, wideB);
}

std::string FormatPlaces(const std::vector<RememberedPlace>& places) {
    std::string text;
    for (const RememberedPlace& place : places)
        text += std::to_string(place.position) + " " + std::to_string(place.size) + " " +
                std::to_string(place.writeTime) + " " + place.file + "\r\n";
    return text;
}

std::vector<RememberedPlace> ParsePlaces(const std::string& text) {
    std::vector<RememberedPlace> places;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;  // a line cut short
        RememberedPlace place;
        if (ParseLine(text.substr(start, end - start), &place) && !FindPlace(places, place.file) &&
            places.size() < MAX_REMEMBERED_PLACES)
            places.push_back(place);
        start = end + 2;
    }
    return places;
}

const RememberedPlace* FindPlace(const std::vector<RememberedPlace>& places, const std::string& file) {
    for (const RememberedPlace& place : places)
        if (SameFile(place.file, file)) return &place;
    return nullptr;
}

void PutPlaceFirst(std::vector<RememberedPlace>& places, const RememberedPlace& place) {
    DropPlace(places, place.file);
    places.insert(places.begin(), place);
    if (places.size() > MAX_REMEMBERED_PLACES) places.resize(MAX_REMEMBERED_PLACES);
}

bool DropPlace(std::vector<RememberedPlace>& places, const std::string& file) {
    for (auto place = places.begin(); place != places.end(); ++place) {
        if (!SameFile(place->file, file)) continue;
        places.erase(place);
        return true;
    }
    return false;
}

// ---- The places file ----

namespace {

// How long a change waits for another player's change to the same file; a change that cannot wait
// so long is given up rather than written over the other.
constexpr DWORD PLACES_LOCK_WAIT_MS = 5000;

// The player's thread only. The path is whole (GetFullPathName), so the form for long paths can be
// made of it.
std::wstring PlacesPath;

// A path the platform's calls take at any length: past MAX_PATH, in its \\?\ form.
std::wstring PlatformPath(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// Every player that keeps its places in the same file takes the same lock, named after the file.
std::wstring PlacesLockName() {
    std::wstring folded = PlacesPath;
    CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (wchar_t unit : folded) hash = (hash ^ static_cast<uint64_t>(unit)) * 1099511628211ull;
    wchar_t name[48];
    wsprintfW(name, L"in_txt_places_%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    return name;
}

// Held from reading the places to writing them back, so that two players (two processes, or two
// copies of the plug-in) merge their changes instead of writing over each other's.
class PlacesLock {
public:
    PlacesLock() : mutex_(CreateMutexW(nullptr, FALSE, PlacesLockName().c_str())) {
        if (!mutex_.IsValid()) return;
        const DWORD waited = WaitForSingleObject(mutex_.Get(), PLACES_LOCK_WAIT_MS);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;  // abandoned: its holder ended
    }
    ~PlacesLock() {
        if (held_) ReleaseMutex(mutex_.Get());
    }
    PlacesLock(const PlacesLock&) = delete;
    PlacesLock& operator=(const PlacesLock&) = delete;
    bool Held() const { return held_; }

private:
    ScopedHandle mutex_;
    bool held_ = false;
};

// Size and last-write time: what tells an unchanged file from a changed one.
bool IdentifyFile(const char* file, RememberedPlace* place) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(file, GetFileExInfoStandard, &attributes)) return false;
    place->file = file;
    place->size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    place->writeTime = (static_cast<uint64_t>(attributes.ftLastWriteTime.dwHighDateTime) << 32) |
                       attributes.ftLastWriteTime.dwLowDateTime;
    return true;
}

// A file that is missing, unreadable or damaged gives what can be read of it. Shared for deleting: a
// reader never keeps a writer from putting the new list in place.
std::vector<RememberedPlace> ReadPlaces() {
    ScopedHandle file(CreateFileW(PlatformPath(PlacesPath).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return {};
    const DWORD size = GetFileSize(file.Get(), nullptr);
    // Two hundred places of the longest paths fit many times over; anything larger is not ours.
    if (size == INVALID_FILE_SIZE || size > (1u << 20)) return {};
    std::string text(size, '\0');
    DWORD read = 0;
    if (size > 0 && !ReadFile(file.Get(), &text[0], size, &read, nullptr)) return {};
    text.resize(read);
    return ParsePlaces(text);
}

// Written whole to a file of this writer's own first (no other process or thread uses its name),
// which then replaces the old one: a write cut short by a crash leaves the old list as it was.
void WritePlaces(const std::vector<RememberedPlace>& places) {
    const std::string text = FormatPlaces(places);
    wchar_t suffix[40];
    wsprintfW(suffix, L".%lu-%lu.new", GetCurrentProcessId(), GetCurrentThreadId());
    const std::wstring temporary = PlatformPath(PlacesPath + suffix);
    {
        ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return;
        DWORD written = 0;
        const bool whole = WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                           written == text.size() && FlushFileBuffers(file.Get());
        if (!whole) {
            file.Reset();
            DeleteFileW(temporary.c_str());
            return;
        }
    }
    if (!MoveFileExW(temporary.c_str(), PlatformPath(PlacesPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileW(temporary.c_str());
}

// Reads the places, changes them and writes them back while no other player can: the change is made
// to the list as it is now, with every other player's changes in it.
template <typename Change>
void ChangePlaces(Change change) {
    PlacesLock lock;
    if (!lock.Held()) return;
    std::vector<RememberedPlace> places = ReadPlaces();
    if (change(places)) WritePlaces(places);
}

}  // namespace

// A path that cannot be made whole keeps no places.
void UsePlacesFile(const char* path) {
    PlacesPath.clear();
    const std::wstring given = path ? Widened(path, CP_ACP) : std::wstring();
    if (given.empty()) return;
    const DWORD length = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (length == 0) return;
    std::wstring whole(length, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), length, &whole[0], nullptr);
    if (written == 0 || written >= length) return;
    whole.resize(written);
    PlacesPath = whole;
}

bool RememberedPlaceOf(const char* file, uint32_t* position) {
    RememberedPlace now;
    if (PlacesPath.empty() || !IdentifyFile(file, &now)) return false;
    std::vector<RememberedPlace> places;
    {
        PlacesLock lock;  // not held: the list is read all the same, whole, as a reader shares it
        places = ReadPlaces();
    }
    const RememberedPlace* kept = FindPlace(places, file);
    if (!kept || kept->size != now.size || kept->writeTime != now.writeTime) return false;
    *position = kept->position;
    return true;
}

void RememberPlace(const char* file, uint32_t position) {
    RememberedPlace place;
    if (PlacesPath.empty() || !IdentifyFile(file, &place)) return;
    place.position = position;
    ChangePlaces([&](std::vector<RememberedPlace>& places) {
        PutPlaceFirst(places, place);
        return true;
    });
}

void ForgetPlace(const char* file) {
    if (PlacesPath.empty()) return;
    ChangePlaces([&](std::vector<RememberedPlace>& places) { return DropPlace(places, file); });
}
