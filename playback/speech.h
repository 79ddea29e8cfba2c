// One speech: what the voice speaks of one file, from where, in which pieces and streams, and what of
// it has been heard. Playback keeps one record per speech; a newer start or any stop ends it.
#pragma once

#include <windows.h>
#include <sapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_text.h"
#include "infowindow/reading_along.h"
#include "infowindow/reading_start.h"
#include "playback/spoken_length.h"

// A stream the voice was given: a piece of the text (or the file by name), and where its sound lies.
struct SpeechPiece {
    ULONG stream = 0;
    size_t from = 0;        // where the piece starts in the file's text
    int64_t shift = 0;      // a position the voice reports lies this much further in the file's text
    bool started = false;   // its start-of-stream event came
    uint64_t startOffset = 0;  // the audio offset that event gave
    uint64_t soundBase = 0;    // bytes of the speech's sound before it
    bool ended = false;
};

struct Speech {
    ULONG ticket = 0;  // the speech's number; a stop or a newer start makes it stale
    std::string path;
    std::wstring widePath;
    bool markup = false;
    std::shared_ptr<FileText> text;  // null when the file could not be opened: given by name
    int textWatch = 0;
    bool byName = false;    // the voice reads the file itself, from its top
    bool decoded = false;   // given decoded whatever the encoding (a speech from a place)
    bool decided = false;   // by name or in pieces: bytes without a mark may need reading first
    size_t given = 0;       // the text up to here has been given to the voice
    std::vector<SpeechPiece> pieces;
    uint64_t soundBefore = 0;  // bytes of sound of the pieces that ended
    bool resumed = false;      // the voice was resumed after the first piece
    int startMs = 0;           // the player's clock when the speech's first sound plays
    DWORD bytesPerSecond = 0;  // of the format the voice was given
    OpenElementTracker openElements;  // of speech markup, up to where the next piece starts
    SpeechFollower follower;   // in the file's text positions and the speech's sound
    bool heardAny = false;
    TextSpan heard = {0, 0};
    bool readFailureReported = false;
    // The file's spoken length, shared by the speeches of one Play (seeks, reading from a place).
    std::shared_ptr<SpokenLength> length;
    ShownLength shownLength;

    // Pieces the voice has been given and has not finished.
    size_t Outstanding() const {
        size_t count = 0;
        for (const SpeechPiece& piece : pieces) count += piece.ended ? 0 : 1;
        return count;
    }
    SpeechPiece* PieceOf(ULONG stream) {
        for (SpeechPiece& piece : pieces)
            if (piece.stream == stream) return &piece;
        return nullptr;
    }
    // Every unit has been given and spoken: the text's end, or the last unit read of a text whose read
    // failed.
    bool AllSpoken() const {
        if (Outstanding() > 0) return false;
        if (byName) return true;
        return text && text->Done() && given >= text->Units();
    }
};

// Units of the first piece (the voice starts on it at once) and of those after it.
constexpr size_t FIRST_PIECE_AT_LEAST = 256;
constexpr size_t FIRST_PIECE_AT_MOST = 4096;
constexpr size_t PIECE_AT_LEAST = 32 * 1024;
constexpr size_t PIECE_AT_MOST = 64 * 1024;
// Pieces queued with the voice at once: the one it speaks and the next.
constexpr size_t PIECES_QUEUED = 2;
