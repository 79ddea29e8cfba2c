#include "engine/espeak/espeak_runner.h"

#include "engine/espeak/pcm_convert.h"
#include "engine/espeak/unix_spawn.h"
#include "engine/file_bytes.h"

#include <cstdio>

namespace engine {
namespace {

// espeak-ng is given this long for one piece before `timeout` ends it.
const char SpeakTimeLimit[] = "60";

// Names of this run's temporary files, unique within the machine.
struct RunFiles {
    std::wstring text, wave, log;

    RunFiles() {
        static LONG counter = 0;
        wchar_t folder[MAX_PATH] = {};
        DWORD length = GetTempPathW(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH) folder[0] = 0;
        const std::wstring stem = std::wstring(folder) + L"txtespeak-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(InterlockedIncrement(&counter));
        text = stem + L".txt";
        wave = stem + L".wav";
        log = stem + L".log";
    }

    ~RunFiles() {
        DeleteFileW(text.c_str());
        DeleteFileW(wave.c_str());
        DeleteFileW(log.c_str());
    }
};

std::string EspeakCommand(bool markup, const std::string& voice, long wordsPerMinute, const std::string& textPath,
                          const std::string& wavePath, const std::string& logPath) {
    return std::string("timeout ") + SpeakTimeLimit + " espeak-ng -b 1 " + (markup ? "-m " : "") + "-v " +
           ShellQuoted(voice) + " -s " + std::to_string(wordsPerMinute) + " -w " + ShellQuoted(wavePath) + " -f " +
           ShellQuoted(textPath) + " >" + ShellQuoted(logPath) + " 2>&1 </dev/null";
}

void ReportFailure(const char* what, long status) {
    std::fprintf(stderr, "speech engine stand-in: espeak-ng %s (status %ld)\n", what, status);
    std::fflush(stderr);
}

}  // namespace

bool ListEspeakVoices(std::string& utf8Listing) {
    if (!UnixSpawnAvailable()) return false;
    RunFiles files;
    const std::string listPath = UnixPath(files.text), logPath = UnixPath(files.log);
    if (listPath.empty() || logPath.empty()) return false;
    const long status = RunUnixShell("timeout 10 espeak-ng --voices >" + ShellQuoted(listPath) + " 2>" +
                                     ShellQuoted(logPath) + " </dev/null");
    std::vector<unsigned char> bytes;
    if (status != 0 || FAILED(ReadFileBytes(files.text.c_str(), bytes))) return false;
    utf8Listing.assign(bytes.begin(), bytes.end());
    return true;
}

HRESULT RunEspeak(const std::string& utf8Text, bool markup, const std::string& voice, long wordsPerMinute,
                  DWORD& sampleRate, std::vector<short>& samples) {
    samples.clear();
    RunFiles files;
    HRESULT result = WriteFileBytes(files.text.c_str(), utf8Text.data(), utf8Text.size());
    if (FAILED(result)) return result;
    const std::string textPath = UnixPath(files.text), wavePath = UnixPath(files.wave), logPath = UnixPath(files.log);
    if (textPath.empty() || wavePath.empty() || logPath.empty()) return E_NOTIMPL;  // not under Wine

    const long status = RunUnixShell(EspeakCommand(markup, voice, wordsPerMinute, textPath, wavePath, logPath));
    if (status != 0) {
        ReportFailure("failed", status);
        return E_FAIL;
    }
    std::vector<unsigned char> wave;
    result = ReadFileBytes(files.wave.c_str(), wave);
    if (FAILED(result)) return result;
    if (!ReadWave16(wave, sampleRate, samples)) {
        ReportFailure("wrote no readable wave file", status);
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace engine
