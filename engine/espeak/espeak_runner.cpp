#include "engine/espeak/espeak_runner.h"

#include "engine/engine_state.h"
#include "engine/espeak/pcm_convert.h"
#include "engine/espeak/unix_spawn.h"
#include "engine/file_bytes.h"

#include <cstdio>
#include <cstdlib>

namespace engine {
namespace {

// espeak-ng and sox are given this long for one piece before `timeout` ends them.
const char TimeLimit[] = "60";

// A piece whose espeak-ng or sox fails is tried this many times before the failure ends the stream:
// one more try gets past a passing fault, a lasting one is reported soon.
const int TriesPerPiece = 2;

// Names of this run's temporary files, unique within the machine: what the command reads (text, or
// a wave file), the wave file it writes, its messages, and espeak-ng's exit status.
struct RunFiles {
    std::wstring input, wave, log, status;

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
        status = stem + L".status";
    }

    ~RunFiles() {
        for (const std::wstring* file : {&input, &wave, &log, &status}) DeleteFileW(file->c_str());
    }
};

// Why a run gave no sound: what failed and its exit status; `what` is null while nothing failed.
struct RunFailure {
    const char* what = nullptr;
    long status = 0;
};

// The Linux programs the engine runs are looked for first in the folder tests may name. Its path
// is resolved first: Wine's own path to a drive's folder holds a colon ("dosdevices/c:/..."), which
// PATH would take for two folders.
std::string SearchPathPrefix() {
    const std::wstring folder = UnixProgramFolder();
    if (folder.empty()) return std::string();
    const std::string unixFolder = UnixPath(folder);
    if (unixFolder.empty()) return std::string();
    return "PATH=\"$(cd " + ShellQuoted(unixFolder) + " && pwd -P)\":\"$PATH\"; export PATH; ";
}

// sox reading a wave file (or `-`, its input) and writing one of 16-bit mono samples at `toRate`.
std::string SoxCommand(const std::string& input, DWORD toRate, const std::string& output) {
    return std::string("timeout ") + TimeLimit + " sox -D -V1 -t wav " + input + " -t wav -r " +
           std::to_string(toRate) + " -b 16 -c 1 " + output + " rate -h";
}

// espeak-ng writing its wave to sox through a pipe, so sox converts while espeak-ng speaks. A
// pipeline's status is sox's alone, and sox ends well with the part of the sound it got when
// espeak-ng dies, so espeak-ng's own status goes to a file.
std::string EspeakCommand(bool markup, const std::string& voice, long wordsPerMinute, const std::string& textPath,
                          DWORD sampleRate, const std::string& wavePath, const std::string& statusPath) {
    return std::string("{ timeout ") + TimeLimit + " espeak-ng -b 1 " + (markup ? "-m " : "") + "-v " +
           ShellQuoted(voice) + " -s " + std::to_string(wordsPerMinute) + " --stdout -f " + ShellQuoted(textPath) +
           "; echo $? >" + ShellQuoted(statusPath) + "; } | " + SoxCommand("-", sampleRate, ShellQuoted(wavePath));
}

// One line per piece given up.
void ReportFailure(const RunFailure& failure, const char* when) {
    std::fprintf(stderr, "speech engine stand-in: %s (status %ld)%s\n", failure.what, failure.status, when);
    std::fflush(stderr);
}

// Runs a command whose output goes to the log at `logPath`, then reads the wave file it wrote at
// `sampleRate`. E_FAIL, with `failure` said, when the command failed or wrote no such file.
HRESULT RunToWave(const std::string& command, const std::string& logPath, const RunFiles& files, DWORD sampleRate,
                  std::vector<short>& samples, RunFailure& failure) {
    samples.clear();
    const long status = RunUnixShell("( " + SearchPathPrefix() + command + " ) >" + ShellQuoted(logPath) +
                                     " 2>&1 </dev/null");
    if (status != 0) {
        failure = {"sox failed", status};
        return E_FAIL;
    }
    std::vector<unsigned char> wave;
    DWORD rate = 0;
    if (FAILED(ReadFileBytes(files.wave.c_str(), wave)) || !ReadWave16(wave, rate, samples) || rate != sampleRate) {
        samples.clear();
        failure = {"sox wrote no wave file of the rate asked for", status};
        return E_FAIL;
    }
    return S_OK;
}

const long NoStatus = -1;

// espeak-ng's exit status as the pipeline wrote it; NoStatus when there is none (the shell never
// got that far).
long EspeakStatus(const RunFiles& files) {
    std::vector<unsigned char> bytes;
    if (FAILED(ReadFileBytes(files.status.c_str(), bytes)) || bytes.empty() || bytes[0] < '0' || bytes[0] > '9') {
        return NoStatus;
    }
    return std::atol(std::string(bytes.begin(), bytes.end()).c_str());
}

// One run of the espeak-ng and sox pipeline: espeak-ng's failure counts, even where sox did well.
HRESULT RunPipelineOnce(const std::string& command, const std::string& logPath, const RunFiles& files,
                        DWORD sampleRate, std::vector<short>& samples, RunFailure& failure) {
    DeleteFileW(files.status.c_str());  // left by an earlier try
    HRESULT result = RunToWave(command, logPath, files, sampleRate, samples, failure);
    const long espeakStatus = EspeakStatus(files);
    if (espeakStatus == 0 || (FAILED(result) && espeakStatus == NoStatus)) return result;
    samples.clear();  // the part of the sound it made before it died
    failure = {"espeak-ng failed", espeakStatus};
    return E_FAIL;
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
    const std::string textPath = UnixPath(files.input), wavePath = UnixPath(files.wave),
                      logPath = UnixPath(files.log), statusPath = UnixPath(files.status);
    if (textPath.empty() || wavePath.empty() || logPath.empty() || statusPath.empty()) return E_NOTIMPL;
    const std::string command =
        EspeakCommand(markup, voice, wordsPerMinute, textPath, sampleRate, wavePath, statusPath);
    RunFailure failure;
    for (int attempt = 1; attempt <= TriesPerPiece; ++attempt) {
        result = RunPipelineOnce(command, logPath, files, sampleRate, samples, failure);
        if (result != E_FAIL) return result;
    }
    ReportFailure(failure, ", also when tried again");
    return result;
}

HRESULT ConvertWithSox(const std::vector<short>& samples, DWORD fromRate, DWORD toRate, std::vector<short>& converted) {
    converted.clear();
    RunFiles files;
    const std::vector<unsigned char> wave = Wave16Bytes(samples, fromRate);
    HRESULT result = WriteFileBytes(files.input.c_str(), wave.data(), wave.size());
    if (FAILED(result)) return result;
    const std::string inputPath = UnixPath(files.input), wavePath = UnixPath(files.wave), logPath = UnixPath(files.log);
    if (inputPath.empty() || wavePath.empty() || logPath.empty()) return E_NOTIMPL;  // not under Wine
    RunFailure failure;
    result = RunToWave(SoxCommand(ShellQuoted(inputPath), toRate, ShellQuoted(wavePath)), logPath, files, toRate,
                       converted, failure);
    if (result == E_FAIL) ReportFailure(failure, "");
    return result;
}

}  // namespace engine
