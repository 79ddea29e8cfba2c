#include "engine/espeak/espeak_runner.h"

#include "engine/espeak/pcm_convert.h"
#include "engine/espeak/unix_spawn.h"
#include "engine/file_bytes.h"

#include <cstdio>

namespace engine {
namespace {

// espeak-ng and sox are given this long for one piece before `timeout` ends them.
const char TimeLimit[] = "60";

// Names of this run's temporary files, unique within the machine: what the command reads (text, or
// a wave file), the wave file it writes, and its messages.
struct RunFiles {
    std::wstring input, wave, log;

    RunFiles() {
        static LONG counter = 0;
        wchar_t folder[MAX_PATH] = {};
        DWORD length = GetTempPathW(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH) folder[0] = 0;
        const std::wstring stem = std::wstring(folder) + L"txtespeak-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(InterlockedIncrement(&counter));
        input = stem + L".in";
        wave = stem + L".wav";
        log = stem + L".log";
    }

    ~RunFiles() {
        DeleteFileW(input.c_str());
        DeleteFileW(wave.c_str());
        DeleteFileW(log.c_str());
    }
};

// sox reading a wave file (or `-`, its input) and writing one of 16-bit mono samples at `toRate`.
std::string SoxCommand(const std::string& input, DWORD toRate, const std::string& output) {
    return std::string("timeout ") + TimeLimit + " sox -D -V1 -t wav " + input + " -t wav -r " +
           std::to_string(toRate) + " -b 16 -c 1 " + output + " rate -h";
}

// espeak-ng writing its wave to sox through a pipe, so sox converts while espeak-ng speaks.
std::string EspeakCommand(bool markup, const std::string& voice, long wordsPerMinute, const std::string& textPath,
                          DWORD sampleRate, const std::string& wavePath) {
    return std::string("timeout ") + TimeLimit + " espeak-ng -b 1 " + (markup ? "-m " : "") + "-v " +
           ShellQuoted(voice) + " -s " + std::to_string(wordsPerMinute) + " --stdout -f " + ShellQuoted(textPath) +
           " | " + SoxCommand("-", sampleRate, ShellQuoted(wavePath));
}

void ReportFailure(const char* what, long status) {
    std::fprintf(stderr, "speech engine stand-in: %s (status %ld)\n", what, status);
    std::fflush(stderr);
}

// Runs a command whose output goes to the log, then reads the wave file it wrote at `sampleRate`.
HRESULT RunToWave(const std::string& command, const RunFiles& files, DWORD sampleRate, std::vector<short>& samples) {
    const std::string logPath = UnixPath(files.log);
    if (logPath.empty()) return E_NOTIMPL;  // not under Wine
    const long status = RunUnixShell("( " + command + " ) >" + ShellQuoted(logPath) + " 2>&1 </dev/null");
    if (status != 0) {
        ReportFailure("espeak-ng or sox failed", status);
        return E_FAIL;
    }
    std::vector<unsigned char> wave;
    HRESULT result = ReadFileBytes(files.wave.c_str(), wave);
    if (FAILED(result)) return result;
    DWORD rate = 0;
    if (!ReadWave16(wave, rate, samples) || rate != sampleRate) {
        ReportFailure("sox wrote no wave file of the rate asked for", status);
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace

bool ListEspeakVoices(std::string& utf8Listing) {
    if (!UnixSpawnAvailable()) return false;
    RunFiles files;
    const std::string listPath = UnixPath(files.log);  // the listing is all espeak-ng has to say
    if (listPath.empty()) return false;
    const long status = RunUnixShell("timeout 10 espeak-ng --voices >" + ShellQuoted(listPath) +
                                     " 2>/dev/null </dev/null && command -v sox >/dev/null");
    std::vector<unsigned char> bytes;
    if (status != 0 || FAILED(ReadFileBytes(files.log.c_str(), bytes))) return false;
    utf8Listing.assign(bytes.begin(), bytes.end());
    return true;
}

HRESULT RunEspeak(const std::string& utf8Text, bool markup, const std::string& voice, long wordsPerMinute,
                  DWORD sampleRate, std::vector<short>& samples) {
    samples.clear();
    RunFiles files;
    HRESULT result = WriteFileBytes(files.input.c_str(), utf8Text.data(), utf8Text.size());
    if (FAILED(result)) return result;
    const std::string textPath = UnixPath(files.input), wavePath = UnixPath(files.wave);
    if (textPath.empty() || wavePath.empty()) return E_NOTIMPL;  // not under Wine
    return RunToWave(EspeakCommand(markup, voice, wordsPerMinute, textPath, sampleRate, wavePath), files, sampleRate,
                     samples);
}

HRESULT ConvertWithSox(const std::vector<short>& samples, DWORD fromRate, DWORD toRate, std::vector<short>& converted) {
    converted.clear();
    RunFiles files;
    const std::vector<unsigned char> wave = Wave16Bytes(samples, fromRate);
    HRESULT result = WriteFileBytes(files.input.c_str(), wave.data(), wave.size());
    if (FAILED(result)) return result;
    const std::string inputPath = UnixPath(files.input), wavePath = UnixPath(files.wave);
    if (inputPath.empty() || wavePath.empty()) return E_NOTIMPL;  // not under Wine
    return RunToWave(SoxCommand(ShellQuoted(inputPath), toRate, ShellQuoted(wavePath)), files, toRate, converted);
}

}  // namespace engine
