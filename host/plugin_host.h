// The player, as far as an input plug-in can tell: COM on the calling thread, a main window with
// its message loop, the plug-in library loaded from a Plugins folder, its record filled with this
// host's entries and output module (output_module.h, player_entries.h), and message 1026 answered.
// Used by txtplay.exe and, as the fixture, by the plug-in's end-to-end tests. One per process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host/call_log.h"
#include "host/files.h"
#include "host/output_module.h"
#include "host/player_entries.h"
#include "base/winamp.h"

namespace host {

struct HostOptions {
    // The plug-in library. Empty: in_txt.dll beside the running program.
    std::string pluginPath;
    // Load a copy from a fresh temporary folder "<tmp>\in_txt_test_<n>\Plugins", so that the
    // plug-in's settings file is private to this host; the folder goes when the host does.
    bool privateCopy = true;
    // With privateCopy: the plugin.ini to put beside the copy before it is loaded (empty: none).
    std::string iniContents;
    // Register the speech engine stand-in's classes on this thread before the plug-in starts.
    bool registerEngine = true;
    // With registerEngine: also offer the engine's espeak-ng voices, first, English first (so it is
    // the voice that speaks unless plugin.ini names another), where espeak-ng can be run.
    bool offerEspeakVoice = false;
    // With registerEngine: the engine stand-in keeps a copy of all the sound it delivers (for
    // tests). Off for long runs.
    bool recordEngineOutput = true;
    // Outside PlayPlaylist: answer message 1026 with Stop, as the player does. Off, the message is
    // only recorded and the test decides what to do. (PlayPlaylist always answers it.)
    bool stopOnEndOfFile = false;
    bool showMainWindow = true;
    // Fill the record's host fields in Load. Off, the record stays as the library handed it out
    // until AttachHost is called.
    bool attachHost = true;
    OutputOptions output;
};

struct PlaylistEntry {
    std::string file;
    int playResult = 0;
    bool ended = false;      // message 1026 came
    double secondsSpoken = 0;
    std::string failure;     // why it did not end, when it did not
};

class PluginHost {
public:
    explicit PluginHost(HostOptions options = {});
    // Stops, quits and unloads the plug-in as the player does when it closes, then cleans up.
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // COM, engine, main window, the library and its record; false with Error() set on failure.
    bool Load();
    const std::string& Error() const { return error_; }
    // Fills the record's host fields: windows, visualisation/DSP/information entries, output module.
    void AttachHost();

    In_Module* Module() const { return module_; }
    HMODULE Library() const { return library_; }
    HWND MainWindow() const { return window_; }
    DWORD MainThread() const { return mainThread_; }
    const std::string& PluginFolder() const { return pluginFolder_; }  // holds the loaded DLL
    std::string IniPath() const;
    std::string ReadIni() const;  // "" when there is none
    bool WriteIni(const std::string& contents) const;

    // The player's calls, in the player's order; each is a no-op when it would be out of order.
    void Init();
    int Play(const std::string& path);
    void Stop();
    void Pause();
    void UnPause();
    void Quit();
    void Unload();
    bool Playing() const { return playing_; }

    // Runs the message loop for ms, or until the predicate holds (checked after each message and
    // at least every 10 ms); true when it held.
    void PumpMessages(DWORD ms);
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
    // Pumps until one more message 1026 than when the file was played (or than before) has come.
    bool WaitForEndOfFile(DWORD timeoutMs);
    int EndOfFileCount() const { return endOfFileCount_; }

    // Plays each file to its end, answering every 1026 with Stop, as the player runs a playlist.
    // onEntry is called after each file with its outcome.
    std::vector<PlaylistEntry> PlayPlaylist(const std::vector<std::string>& files, DWORD timeoutPerFileMs,
                                            const std::function<void(const PlaylistEntry&)>& onEntry = {});

    // The main window's procedure handles message 1026 through this.
    void OnEndOfFile();

private:
    bool CreateMainWindow();
    bool PreparePluginFolder(const std::string& source);

    HostOptions options_;
    std::string error_;
    DWORD mainThread_ = 0;
    bool comInitialized_ = false;
    bool engineRegistered_ = false;
    HWND window_ = nullptr;
    std::string tempRoot_;
    std::string pluginFolder_;
    HMODULE library_ = nullptr;
    In_Module* module_ = nullptr;
    bool initialized_ = false;
    bool playing_ = false;
    int endOfFileCount_ = 0;
    int endOfFileAtPlay_ = 0;
    struct PlaylistRun;
    PlaylistRun* playlist_ = nullptr;
    void StartNextEntry();
    void FinishEntry(bool ended, const std::string& failure);
};

}  // namespace host
