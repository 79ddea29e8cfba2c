// A PCM wave file written as the output device plays: header first, data appended, sizes patched.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/scoped.h"

namespace host {

struct PcmFormat {
    int rate = 0;
    int channels = 0;
    int bits = 0;
};

bool operator==(const PcmFormat& a, const PcmFormat& b);
bool operator!=(const PcmFormat& a, const PcmFormat& b);

int BlockAlign(const PcmFormat& format);      // bytes per frame
int BytesPerSecond(const PcmFormat& format);

constexpr int WAV_HEADER_SIZE = 44;

// The canonical 44-byte RIFF/WAVE header for dataBytes of PCM in the given format. An odd data
// size is followed by one pad byte, which the RIFF size counts.
void BuildWavHeader(const PcmFormat& format, uint32_t dataBytes, uint8_t header[WAV_HEADER_SIZE]);

// One wave file. Append may be called after Patch: the next bytes overwrite the pad byte, if any,
// so the file is complete after every Patch and stays one run of data.
struct WavFile {
    ScopedHandle file;
    PcmFormat format;
    uint32_t dataBytes = 0;
    std::string path;
};

bool WavCreate(WavFile& wav, const std::string& path, const PcmFormat& format);
bool WavAppend(WavFile& wav, const void* data, uint32_t bytes);
// Writes the header with the sizes so far (and the pad byte), leaving the file open.
bool WavPatch(WavFile& wav);
// Patches and closes the file.
void WavClose(WavFile& wav);
bool WavIsOpen(const WavFile& wav);

}  // namespace host
