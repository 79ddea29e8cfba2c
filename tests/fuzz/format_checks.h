// Checks of one stream-format index's outcome, shared by the stream format fuzz target and the
// walk over every index. BuildWaveFormat runs against the task-memory shim, which counts blocks.
#pragma once

#include <cstring>

#include "playback/chunk_arithmetic.h"
#include "playback/stream_format.h"
#include "tests/fuzz/fuzz_check.h"
#include <objbase.h>

namespace format_checks {

// The speech engine's published format ids.
constexpr GUID WAVE_FORMAT_EX_ID = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};
constexpr GUID TEXT_ID = {0x7CEEF9F9, 0x3D13, 0x11D2, {0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

inline bool IsSampleRate(DWORD rate) {
    for (int rate_ : SampleRates)
        if (static_cast<DWORD>(rate_) == rate) return true;
    return false;
}

// Playback's indexes 4..39: PCM whose fields agree with each other and with the stored modes.
inline void CheckPcm(int index, const WAVEFORMATEX& format) {
    FUZZ_CHECK(format.wFormatTag == WAVE_FORMAT_PCM && format.cbSize == 0, "index %d: tag %u, %u extra bytes", index,
               format.wFormatTag, format.cbSize);
    FUZZ_CHECK(format.nChannels == 1 || format.nChannels == 2, "index %d: %u channels", index, format.nChannels);
    FUZZ_CHECK(format.wBitsPerSample == 8 || format.wBitsPerSample == 16, "index %d: %u bits", index,
               format.wBitsPerSample);
    FUZZ_CHECK(IsSampleRate(format.nSamplesPerSec), "index %d: %u Hz", index, format.nSamplesPerSec);
    FUZZ_CHECK(format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8, "index %d: block align %u", index,
               format.nBlockAlign);
    FUZZ_CHECK(format.nAvgBytesPerSec == format.nBlockAlign * format.nSamplesPerSec, "index %d: %u bytes a second",
               index, format.nAvgBytesPerSec);
    int rateRow = 0;
    while (static_cast<DWORD>(SampleRates[rateRow]) != format.nSamplesPerSec) ++rateRow;
    const int modes = StreamFormatIndexOf(rateRow, format.wBitsPerSample == 16 ? 1 : 0, format.nChannels - 1);
    FUZZ_CHECK(modes == index, "index %d describes the modes of index %d", index, modes);
}

// Any record: its frame size gives chunks that the DSP buffer holds, and a copy is the same bytes.
inline void CheckRecord(int index, const WAVEFORMATEX* format) {
    FUZZ_CHECK(format->nChannels >= 1 && format->nBlockAlign >= 1 && format->nSamplesPerSec >= 8000,
               "index %d: %u channels, block align %u, %u Hz", index, format->nChannels, format->nBlockAlign,
               format->nSamplesPerSec);
    const int frameSize = format->nChannels * (format->wBitsPerSample / 8);
    FUZZ_CHECK(frameSize <= MAX_PCM_FRAME_BYTES, "index %d: frames of %d bytes", index, frameSize);
    FUZZ_CHECK(ChunkBytes(frameSize, true) <= DSP_BUFFER_SIZE, "index %d: a DSP chunk of %d bytes", index,
               ChunkBytes(frameSize, true));

    WAVEFORMATEX* copy = nullptr;
    FUZZ_CHECK(CopyWaveFormat(format, &copy) == S_OK && copy, "index %d: no copy", index);
    FUZZ_CHECK(std::memcmp(copy, format, sizeof(WAVEFORMATEX) + format->cbSize) == 0, "index %d: copy differs", index);
    CoTaskMemFree(copy);
}

// Builds the index's format (the allocation failing when told to) and checks the whole outcome.
inline void CheckIndex(int index, bool allocationFails) {
    const long liveBefore = TaskMemoryBlocksLive();
    GUID id;
    std::memset(&id, 0xAB, sizeof id);
    WAVEFORMATEX* format = reinterpret_cast<WAVEFORMATEX*>(&id);  // any non-null value must be replaced
    if (allocationFails) FailTaskMemoryAllocationAfter(0);
    const HRESULT result = BuildWaveFormat(index, &id, &format);
    FailTaskMemoryAllocationAfter(-1);

    if (format) {
        FUZZ_CHECK(result == S_OK && SameGuid(id, WAVE_FORMAT_EX_ID), "index %d: record with %08X", index,
                   static_cast<unsigned>(result));
        if (index >= 4 && index <= 39) CheckPcm(index, *format);
        CheckRecord(index, format);
        CoTaskMemFree(format);
    } else if (result == E_OUTOFMEMORY) {
        FUZZ_CHECK(allocationFails && SameGuid(id, GUID_NULL), "index %d: out of memory unasked", index);
    } else {
        FUZZ_CHECK(index < 4 || index > 68, "index %d of the table gave no record (%08X)", index,
                   static_cast<unsigned>(result));
        const bool known = index == 0 || index == 1;
        FUZZ_CHECK(result == (known ? S_OK : E_INVALIDARG), "index %d: %08X", index, static_cast<unsigned>(result));
        FUZZ_CHECK(SameGuid(id, index == 1 ? TEXT_ID : GUID_NULL), "index %d: wrong format id", index);
    }
    FUZZ_CHECK(TaskMemoryBlocksLive() == liveBefore, "index %d: %ld blocks left", index,
               TaskMemoryBlocksLive() - liveBefore);
}

// Out pointers that are null are refused before anything is written.
inline void CheckNullOutPointers(int index) {
    GUID id;
    std::memset(&id, 0xAB, sizeof id);
    const GUID untouched = id;
    WAVEFORMATEX* format = nullptr;
    FUZZ_CHECK(BuildWaveFormat(index, nullptr, &format) == E_INVALIDARG && !format, "index %d: null id accepted", index);
    FUZZ_CHECK(BuildWaveFormat(index, &id, nullptr) == E_INVALIDARG, "index %d: null format accepted", index);
    FUZZ_CHECK(SameGuid(id, untouched), "index %d: id written with a null format pointer", index);
}

}  // namespace format_checks
