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

// ---- The file's text ----
// One place a line, newest first: "<position> <size> <writeTime> <file>\r\n". A line that is not whole
// (a write cut short) or not of that form is skipped; the others are kept.
std::string FormatPlaces(const std::vector<RememberedPlace>& places);
std::vector<RememberedPlace> ParsePlaces(const std::string& text);
// Whether two names (in the code page `codePage`) name one file, compared as the file system compares
// them: UTF-16 units, letter case ignored. Bytes are never compared one by one: in a double-byte code
// page a lead byte's trail may look like an ASCII letter.
bool SameFileName(const std::string& a, const std::string& b, unsigned codePage);
// The place of a file (names compared as SameFileName does in the ANSI code page), or null.
const RememberedPlace* FindPlace(const std::vector<RememberedPlace>& places, const std::string& file);
// Puts the place first, instead of the file's older one, keeping at most MAX_REMEMBERED_PLACES.
void PutPlaceFirst(std::vector<RememberedPlace>& places, const RememberedPlace& place);
// Drops the file's place; false when it had none.
bool DropPlace(std::vector<RememberedPlace>& places, const std::string& file);

// ---- The places file ----
// Several players may keep their places in one file at once: each change is made under a lock named
// after the file, to the list as it then is.
// Where the places are kept, of any length; nothing is kept before this is called, or with an empty
// path.
void UsePlacesFile(const char* path);
// The remembered place of a file whose size and last-write time are still those remembered.
bool RememberedPlaceOf(const char* file, uint32_t* position);
void RememberPlace(const char* file, uint32_t position);
void ForgetPlace(const char* file);
