// How the document readers say a file cannot be read because of what is in it.
#pragma once

#include <string>

// Sets the message the error box shows, "The file is damaged: <what>", and gives false to return.
inline bool Damaged(std::string* error, const std::string& what) {
    *error = "The file is damaged: " + what;
    return false;
}
