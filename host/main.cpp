// txtplay: plays text files through the input plug-in the way the player does, writing the sound
// to a wave file instead of a sound card.
//
//   txtplay.exe [--plugin DLL] [--out FILE.wav] [--realtime | --speed N | --instant]
//               [--dsp off|pass|double] [--non-interactive] [--no-engine] [--timeout SECONDS] FILE...
//
// The plug-in is Plugins\in_txt.dll beside txtplay.exe unless --plugin names another; its settings
// file is the plugin.ini beside it. The output drains in real time unless --speed N (N times
// faster) or --instant (at once) is given. --out collects every file of the run into one wave file
// (a file whose format differs goes into FILE-2.wav, ...). --dsp puts a DSP in the chain: one that
// leaves the sound alone, or one that repeats every frame (the sound plays at half speed).
// --non-interactive prints the text of every message box and dismisses it. One line per file;
// exit code 0 only when every file ended. Where espeak-ng can be run, the engine stand-in's
// espeak-ng voices are offered first, English first, so it speaks unless plugin.ini's VoiceID names another.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/message_box_watcher.h"
#include "host/plugin_host.h"

namespace {

struct CommandLine {
    host::HostOptions host;
    host::DspMode dsp = host::DspMode::Off;
    bool nonInteractive = false;
    DWORD timeoutPerFileMs = 600 * 1000;
    std::vector<std::string> files;
};

const char USAGE[] =
    "usage: txtplay.exe [--plugin DLL] [--out FILE.wav] [--realtime | --speed N | --instant]\n"
    "                   [--dsp off|pass|double] [--non-interactive] [--no-engine] [--timeout SECONDS] FILE...\n"
    "  --plugin DLL       the input plug-in (default: Plugins\\in_txt.dll beside txtplay.exe)\n"
    "  --out FILE.wav     write what is played to one wave file (another format: FILE-2.wav, ...)\n"
    "  --realtime         the output drains in real time (the default)\n"
    "  --speed N          the output drains N times faster than real time\n"
    "  --instant          the output drains at once\n"
    "  --dsp MODE         no DSP, a pass-through DSP, or one that repeats every frame\n"
    "  --non-interactive  print every message box's text and press OK\n"
    "  --no-engine        do not register the speech engine stand-in (use the one installed)\n"
    "  --timeout SECONDS  give up on a file that has not ended after this long (default 600)\n";

bool ParseDspMode(const std::string& name, host::DspMode& mode) {
    if (name == "off") mode = host::DspMode::Off;
    else if (name == "pass") mode = host::DspMode::PassThrough;
    else if (name == "double") mode = host::DspMode::DoubleFrames;
    else return false;
    return true;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? full : path;
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// Fills the command line from the arguments; false with a message when they make no sense.
bool ParseArguments(int argc, char** argv, CommandLine& line, std::string& problem) {
    line.host.privateCopy = false;
    line.host.offerEspeakVoice = true;  // real speech where espeak-ng runs
    line.host.recordEngineOutput = false;
    line.host.output.drain = host::DrainMode::Clock;
    line.host.output.speed = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--plugin" && hasValue) {
            line.host.pluginPath = FullPath(argv[++i]);
        } else if (arg == "--out" && hasValue) {
            line.host.output.wavPath = FullPath(argv[++i]);
        } else if (arg == "--realtime") {
            line.host.output.drain = host::DrainMode::Clock;
            line.host.output.speed = 1.0;
        } else if (arg == "--speed" && hasValue) {
            const double speed = std::atof(argv[++i]);
            if (speed <= 0) return problem = "--speed needs a number above 0", false;
            line.host.output.drain = host::DrainMode::Clock;
            line.host.output.speed = speed;
        } else if (arg == "--instant") {
            line.host.output.drain = host::DrainMode::Instant;
        } else if (arg == "--dsp" && hasValue) {
            if (!ParseDspMode(argv[++i], line.dsp)) return problem = "--dsp takes off, pass or double", false;
        } else if (arg == "--non-interactive") {
            line.nonInteractive = true;
        } else if (arg == "--no-engine") {
            line.host.registerEngine = false;
        } else if (arg == "--timeout" && hasValue) {
            const int seconds = std::atoi(argv[++i]);
            if (seconds <= 0) return problem = "--timeout needs a number of seconds above 0", false;
            line.timeoutPerFileMs = static_cast<DWORD>(seconds) * 1000;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return problem = "unknown or incomplete option " + arg, false;
        } else {
            line.files.push_back(FullPath(arg));
        }
    }
    if (line.files.empty()) return problem = "no files to play", false;
    return true;
}

void PrintEntry(const host::PlaylistEntry& entry) {
    if (entry.ended)
        std::printf("%s: %.1f s spoken, ended\n", FileName(entry.file).c_str(), entry.secondsSpoken);
    else
        std::printf("%s: %.1f s spoken, failed (%s)\n", FileName(entry.file).c_str(), entry.secondsSpoken,
                    entry.failure.c_str());
    std::fflush(stdout);
}

void PrintBox(const host::SeenBox& box) {
    std::printf("message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string problem;
    if (!ParseArguments(argc, argv, line, problem)) {
        std::fprintf(stderr, "txtplay: %s\n%s", problem.c_str(), USAGE);
        return 2;
    }
    host::SetRecordWrittenBytes(false);  // the wave file has them; a long run would hold them all
    host::SetDspMode(line.dsp);

    std::unique_ptr<host::MessageBoxWatcher> watcher;
    if (line.nonInteractive) {
        watcher = std::make_unique<host::MessageBoxWatcher>();
        watcher->OnBox(PrintBox);
    }

    host::PluginHost player(line.host);
    if (!player.Load()) {
        std::fprintf(stderr, "txtplay: %s\n", player.Error().c_str());
        return 2;
    }
    player.Init();
    const std::vector<host::PlaylistEntry> results =
        player.PlayPlaylist(line.files, line.timeoutPerFileMs, PrintEntry);
    player.Quit();
    player.Unload();

    for (const host::PlaylistEntry& entry : results)
        if (!entry.ended) return 1;
    return 0;
}
