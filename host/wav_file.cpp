#include "host/wav_file.h"

#include <cstring>

namespace host {

bool operator==(const PcmFormat& a, const PcmFormat& b) {
    return a.rate == b.rate && a.channels == b.channels && a.bits == b.bits;
}
bool operator!=(const PcmFormat& a, const PcmFormat& b) { return !(a == b); }

int BlockAlign(const PcmFormat& format) { return format.channels * ((format.bits + 7) / 8); }

int BytesPerSecond(const PcmFormat& format) { return format.rate * BlockAlign(format); }

namespace {

void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

bool WriteAt(HANDLE file, uint32_t offset, const void* data, uint32_t bytes) {
    if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

}  // namespace

void BuildWavHeader(const PcmFormat& format, uint32_t dataBytes, uint8_t header[WAV_HEADER_SIZE]) {
    const uint32_t pad = dataBytes & 1;
    std::memcpy(header + 0, "RIFF", 4);
    PutU32(header + 4, 36 + dataBytes + pad);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    PutU32(header + 16, 16);
    PutU16(header + 20, 1);  // WAVE_FORMAT_PCM
    PutU16(header + 22, static_cast<uint16_t>(format.channels));
    PutU32(header + 24, static_cast<uint32_t>(format.rate));
    PutU32(header + 28, static_cast<uint32_t>(BytesPerSecond(format)));
    PutU16(header + 32, static_cast<uint16_t>(BlockAlign(format)));
    PutU16(header + 34, static_cast<uint16_t>(format.bits));
    std::memcpy(header + 36, "data", 4);
    PutU32(header + 40, dataBytes);
}

bool WavCreate(WavFile& wav, const std::string& path, const PcmFormat& format) {
    wav.file.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    wav.format = format;
    wav.dataBytes = 0;
    wav.path = path;
    return wav.file.IsValid() && WavPatch(wav);
}

bool WavIsOpen(const WavFile& wav) { return wav.file.IsValid(); }

bool WavAppend(WavFile& wav, const void* data, uint32_t bytes) {
    if (!WavIsOpen(wav)) return false;
    if (!WriteAt(wav.file.Get(), WAV_HEADER_SIZE + wav.dataBytes, data, bytes)) return false;
    wav.dataBytes += bytes;
    return true;
}

bool WavPatch(WavFile& wav) {
    if (!WavIsOpen(wav)) return false;
    uint8_t header[WAV_HEADER_SIZE];
    BuildWavHeader(wav.format, wav.dataBytes, header);
    if (!WriteAt(wav.file.Get(), 0, header, sizeof header)) return false;
    if (wav.dataBytes & 1) {
        const uint8_t pad = 0;
        if (!WriteAt(wav.file.Get(), WAV_HEADER_SIZE + wav.dataBytes, &pad, 1)) return false;
    }
    return true;
}

void WavClose(WavFile& wav) {
    WavPatch(wav);
    wav.file.Reset();
}

}  // namespace host
