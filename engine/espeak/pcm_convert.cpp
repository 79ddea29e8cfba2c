#include "engine/espeak/pcm_convert.h"

#include <cstring>

namespace engine {
namespace {

unsigned Read16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned long Read32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned long>(p[3]) << 24);
}

struct WaveLayout {
    unsigned channels = 0;
    unsigned bits = 0;
    unsigned formatTag = 0;
    DWORD rate = 0;
    size_t dataStart = 0;
    size_t dataBytes = 0;
    bool haveFormat = false;
    bool haveData = false;
};

// Walks the RIFF chunks up to the data chunk.
bool FindWaveChunks(const std::vector<unsigned char>& bytes, WaveLayout& layout) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + at;
        size_t size = Read32(chunk + 4);
        size_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && body + 16 <= bytes.size()) {
            layout.formatTag = Read16(bytes.data() + body);
            layout.channels = Read16(bytes.data() + body + 2);
            layout.rate = Read32(bytes.data() + body + 4);
            layout.bits = Read16(bytes.data() + body + 14);
            layout.haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            layout.dataStart = body;
            layout.dataBytes = size <= bytes.size() - body ? size : bytes.size() - body;
            layout.haveData = true;
            return layout.haveFormat;
        }
        at = body + size + (size & 1);
    }
    return false;
}

}  // namespace

std::vector<unsigned char> PackPcm(const std::vector<short>& samples, const PcmFormat& format) {
    std::vector<unsigned char> pcm;
    pcm.reserve(samples.size() * format.BlockAlign());
    for (short sample : samples) {
        for (WORD channel = 0; channel < format.channels; ++channel) {
            if (format.bitsPerSample == 8) {
                pcm.push_back(static_cast<unsigned char>((sample + 32768) >> 8));
            } else {
                pcm.push_back(static_cast<unsigned char>(sample & 0xFF));
                pcm.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
            }
        }
    }
    return pcm;
}

bool ReadWave16(const std::vector<unsigned char>& bytes, DWORD& sampleRate, std::vector<short>& samples) {
    WaveLayout layout;
    if (!FindWaveChunks(bytes, layout) || layout.formatTag != WAVE_FORMAT_PCM || layout.bits != 16 ||
        layout.channels == 0 || layout.rate == 0) {
        return false;
    }
    const size_t frameBytes = 2 * layout.channels;
    const size_t frames = layout.dataBytes / frameBytes;
    samples.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<short>(Read16(bytes.data() + layout.dataStart + i * frameBytes));
    }
    sampleRate = layout.rate;
    return true;
}

std::vector<unsigned char> Wave16Bytes(const std::vector<short>& samples, DWORD sampleRate) {
    std::vector<unsigned char> bytes;
    auto put16 = [&](unsigned value) {
        bytes.push_back(static_cast<unsigned char>(value & 0xFF));
        bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
    };
    auto put32 = [&](unsigned long value) {
        put16(value & 0xFFFF);
        put16((value >> 16) & 0xFFFF);
    };
    auto tag = [&](const char* name) { bytes.insert(bytes.end(), name, name + 4); };
    const unsigned long dataBytes = static_cast<unsigned long>(samples.size() * 2);
    tag("RIFF");
    put32(36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    put32(16);
    put16(WAVE_FORMAT_PCM);
    put16(1);
    put32(sampleRate);
    put32(sampleRate * 2);
    put16(2);
    put16(16);
    tag("data");
    put32(dataBytes);
    for (short sample : samples) put16(static_cast<unsigned short>(sample));
    return bytes;
}

}  // namespace engine
