#include "playback/remembered_places.h"

#include <windows.h>

#include <cstdlib>

#include "base/scoped.h"

namespace {

constexpr size_t MAX_PLACE_PATH = 260;

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameFile(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t at = 0; at < a.size(); ++at)
        if (FoldCase(a[at]) != FoldCase(b[at])) return false;
    return true;
}

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

std::string PlacesPath;  // the player's thread only

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

// A file that is missing, unreadable or damaged gives what can be read of it.
std::vector<RememberedPlace> ReadPlaces() {
    ScopedHandle file(CreateFileA(PlacesPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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

// Written whole to a file of its own first, which then replaces the old one: a write cut short by a
// crash leaves the old list as it was.
void WritePlaces(const std::vector<RememberedPlace>& places) {
    const std::string text = FormatPlaces(places);
    const std::string temporary = PlacesPath + ".new";
    {
        ScopedHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return;
        DWORD written = 0;
        if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.Get()))
            return;
    }
    MoveFileExA(temporary.c_str(), PlacesPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

void UsePlacesFile(const char* path) { PlacesPath = path ? path : ""; }

bool RememberedPlaceOf(const char* file, uint32_t* position) {
    RememberedPlace now;
    if (PlacesPath.empty() || !IdentifyFile(file, &now)) return false;
    const std::vector<RememberedPlace> places = ReadPlaces();
    const RememberedPlace* kept = FindPlace(places, file);
    if (!kept || kept->size != now.size || kept->writeTime != now.writeTime) return false;
    *position = kept->position;
    return true;
}

void RememberPlace(const char* file, uint32_t position) {
    RememberedPlace place;
    if (PlacesPath.empty() || !IdentifyFile(file, &place)) return;
    place.position = position;
    std::vector<RememberedPlace> places = ReadPlaces();
    PutPlaceFirst(places, place);
    WritePlaces(places);
}

void ForgetPlace(const char* file) {
    if (PlacesPath.empty()) return;
    std::vector<RememberedPlace> places = ReadPlaces();
    if (DropPlace(places, file)) WritePlaces(places);
}
