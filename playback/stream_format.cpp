#include "playback/stream_format.h"

#include <objbase.h>

#include <cstring>

namespace {

const GUID FormatIdWaveFormatEx = {0xC31ADBAE, 0x527F, 0x4FF5, {0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C}};
const GUID FormatIdText = {0x7CEEF9F9, 0x3D13, 0x11D2, {0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

// The four rates shared by the A-law, mu-law, ADPCM and GSM 6.10 rows.
const DWORD CompressedRates[4] = {8000, 11025, 22050, 44100};

const int FIRST_PCM = 4, LAST_PCM = 39;
const int TRUESPEECH = 40;
const int FIRST_ALAW = 41, LAST_ALAW = 48;
const int FIRST_MULAW = 49, LAST_MULAW = 56;
const int FIRST_ADPCM = 57, LAST_ADPCM = 64;
const int FIRST_GSM = 65, LAST_GSM = 68;

const WORD TAG_TRUESPEECH = 0x22;
const WORD TAG_GSM610 = 0x31;

const DWORD AdpcmAvgBytesPerSec[8] = {4096, 8192, 5644, 11289, 11155, 22311, 22179, 44359};
const WORD AdpcmBlockAlignPerChannel[4] = {256, 256, 512, 1024};
const WORD AdpcmSamplesPerBlock[4] = {500, 500, 1012, 2036};
const short AdpcmCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
const DWORD GsmAvgBytesPerSec[4] = {1625, 2239, 4478, 8957};

const int ADPCM_EXTRA = 32, TRUESPEECH_EXTRA = 32, GSM_EXTRA = 2;

void PutWord(BYTE* at, WORD value) { std::memcpy(at, &value, sizeof value); }

BYTE* ExtraBytes(WAVEFORMATEX* format) { return reinterpret_cast<BYTE*>(format) + sizeof(WAVEFORMATEX); }

void FillPcm(WAVEFORMATEX* format, int index) {
    int k = index - FIRST_PCM;
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = static_cast<WORD>(k % 2 + 1);
    format->nSamplesPerSec = SampleRates[k / 4];
    format->wBitsPerSample = (k % 4 >= 2) ? 16 : 8;
    format->nBlockAlign = static_cast<WORD>(format->nChannels * format->wBitsPerSample / 8);
    format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
    format->cbSize = 0;
}

void FillTrueSpeech(WAVEFORMATEX* format) {
    format->wFormatTag = TAG_TRUESPEECH;
    format->nChannels = 1;
    format->nSamplesPerSec = 8000;
    format->nAvgBytesPerSec = 1067;
    format->nBlockAlign = 32;
    format->wBitsPerSample = 1;
    format->cbSize = TRUESPEECH_EXTRA;
    PutWord(ExtraBytes(format), 1);        // revision
    PutWord(ExtraBytes(format) + 2, 240);  // samples per block
}

void FillCompanded(WAVEFORMATEX* format, WORD tag, int j) {
    format->wFormatTag = tag;
    format->nChannels = static_cast<WORD>(j % 2 + 1);
    format->nSamplesPerSec = CompressedRates[j / 2];
    format->nAvgBytesPerSec = format->nChannels * format->nSamplesPerSec;
    format->nBlockAlign = format->nChannels;
    format->wBitsPerSample = 8;
    format->cbSize = 0;
}

void FillAdpcm(WAVEFORMATEX* format, int j) {
    int rate = j / 2;
    format->wFormatTag = WAVE_FORMAT_ADPCM;
    format->nChannels = static_cast<WORD>(j % 2 + 1);
    format->nSamplesPerSec = CompressedRates[rate];
    format->nAvgBytesPerSec = AdpcmAvgBytesPerSec[j];
    format->nBlockAlign = static_cast<WORD>(AdpcmBlockAlignPerChannel[rate] * format->nChannels);
    format->wBitsPerSample = 4;
    format->cbSize = ADPCM_EXTRA;
    BYTE* extra = ExtraBytes(format);
    PutWord(extra, AdpcmSamplesPerBlock[rate]);
    PutWord(extra + 2, 7);
    for (int i = 0; i < 7; ++i) {
        PutWord(extra + 4 + i * 4, static_cast<WORD>(AdpcmCoefficients[i][0]));
        PutWord(extra + 6 + i * 4, static_cast<WORD>(AdpcmCoefficients[i][1]));
    }
}

void FillGsm(WAVEFORMATEX* format, int j) {
    format->wFormatTag = TAG_GSM610;
    format->nChannels = 1;
    format->nSamplesPerSec = CompressedRates[j];
    format->nAvgBytesPerSec = GsmAvgBytesPerSec[j];
    format->nBlockAlign = 65;
    format->wBitsPerSample = 0;
    format->cbSize = GSM_EXTRA;
    PutWord(ExtraBytes(format), 320);  // samples per block
}

// Size of the record for an index that has a wave format, 0 for one that has none.
size_t WaveFormatSize(int index) {
    if (index >= FIRST_PCM && index <= LAST_PCM) return sizeof(WAVEFORMATEX);
    if (index == TRUESPEECH) return sizeof(WAVEFORMATEX) + TRUESPEECH_EXTRA;
    if (index >= FIRST_ALAW && index <= LAST_MULAW) return sizeof(WAVEFORMATEX);
    if (index >= FIRST_ADPCM && index <= LAST_ADPCM) return sizeof(WAVEFORMATEX) + ADPCM_EXTRA;
    if (index >= FIRST_GSM && index <= LAST_GSM) return sizeof(WAVEFORMATEX) + GSM_EXTRA;
    return 0;
}

void FillWaveFormat(WAVEFORMATEX* format, int index) {
    if (index >= FIRST_PCM && index <= LAST_PCM) return FillPcm(format, index);
    std::memset(format, 0, WaveFormatSize(index));
    if (index == TRUESPEECH) return FillTrueSpeech(format);
    if (index <= LAST_ALAW) return FillCompanded(format, WAVE_FORMAT_ALAW, index - FIRST_ALAW);
    if (index <= LAST_MULAW) return FillCompanded(format, WAVE_FORMAT_MULAW, index - FIRST_MULAW);
    if (index <= LAST_ADPCM) return FillAdpcm(format, index - FIRST_ADPCM);
    FillGsm(format, index - FIRST_GSM);
}

}  // namespace

int StreamFormatIndexOf(int sampleRateMode, int bitsPerSampleMode, int numChannelsMode) {
    return FIRST_PCM + 4 * sampleRateMode + 2 * bitsPerSampleMode + numChannelsMode;
}

HRESULT BuildWaveFormat(int index, GUID* formatId, WAVEFORMATEX** waveFormat) {
    if (!formatId || IsBadWritePtr(formatId, sizeof(GUID)) || !waveFormat ||
        IsBadWritePtr(waveFormat, sizeof(WAVEFORMATEX*)))
        return E_INVALIDARG;

    GUID id = GUID_NULL;
    HRESULT result = S_OK;
    size_t size = WaveFormatSize(index);
    if (size > 0) {
        WAVEFORMATEX* format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(size));
        *waveFormat = format;
        if (!format) {
            result = E_OUTOFMEMORY;
        } else {
            FillWaveFormat(format, index);
            id = FormatIdWaveFormatEx;
        }
    } else {
        *waveFormat = nullptr;
        if (index == 1)
            id = FormatIdText;
        else if (index != 0)
            result = E_INVALIDARG;
    }
    *formatId = id;
    return result;
}

HRESULT CopyWaveFormat(const WAVEFORMATEX* source, WAVEFORMATEX** copy) {
    size_t size = sizeof(WAVEFORMATEX) + source->cbSize;
    *copy = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(size));
    if (!*copy) return E_OUTOFMEMORY;
    std::memcpy(*copy, source, size);
    return S_OK;
}
