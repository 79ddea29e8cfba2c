// "Continue where I stopped": for each of the last files played, the last sentence heard (its position
// in the text the Text info window shows), with the file's size and last-write time, so that a file
// changed since is not taken for the same one. Kept in a file of their own beside plugin.ini.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RememberedPlace {
    std::string file;
    uint64_t size = 0;
    uint64_t writeTime = 0;  // FILETIME as one number
    uint32_t position = 0;
};

constexpr size_t MAX_REMEMBERED_PLACES = 200;
constexpr char PLACES_FILE_NAME[] = "in_txt_places.txt";  // beside plugin.ini

// ---- The file's text, no platform calls ----
// One place a line, newest first: "<position> <size> <writeTime> <file>\r\n". A line that is not whole
// (a write cut short) or not of that form is skipped; the others are kept.
std::string FormatPlaces(const std::vector<RememberedPlace>& places);
std::vector<RememberedPlace> ParsePlaces(const std::string& text);
// The place of a file (names compared ignoring ASCII letter case), or null.
const RememberedPlace* FindPlace(const std::vector<RememberedPlace>& places, const std::string& file);
// Puts the place first, instead of the file's older one, keeping at most MAX_REMEMBERED_PLACES.
void PutPlaceFirst(std::vector<RememberedPlace>& places, const RememberedPlace& place);
// Drops the file's place; false when it had none.
bool DropPlace(std::vector<RememberedPlace>& places, const std::string& file);

// ---- The places file ----
// Where the places are kept; nothing is kept before this is called, or with an empty path.
void UsePlacesFile(const char* path);
// The remembered place of a file whose size and last-write time are still those remembered.
bool RememberedPlaceOf(const char* file, uint32_t* position);
void RememberPlace(const char* file, uint32_t position);
void ForgetPlace(const char* file);
