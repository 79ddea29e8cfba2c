#include "host/plugin_host.h"

#include <cstdio>

#include "host/files.h"

#ifdef TXTHOST_HAS_ENGINE
#include "engine/engine.h"
#endif

namespace host {

struct PluginHost::PlaylistRun {
    std::vector<std::string> files;
    size_t current = 0;
    bool finished = false;
    DWORD fileStart = 0;
    std::vector<PlaylistEntry> results;
    std::function<void(const PlaylistEntry&)> onEntry;
};

namespace {

const char MAIN_WINDOW_CLASS[] = "TxtPlayMainWindow";

LRESULT OnEndOfFileMessage(HWND window, WPARAM wParam, LPARAM lParam) {
    HostCall entry{Call::EndOfFile};
    entry.args[0] = static_cast<intptr_t>(wParam);
    entry.args[1] = static_cast<intptr_t>(lParam);
    entry.thread = GetCurrentThreadId();
    LogCall(std::move(entry));
    auto* owner = reinterpret_cast<PluginHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (owner) owner->OnEndOfFile();
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_WA_MPEG_EOF: return OnEndOfFileMessage(window, wParam, lParam);
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool RegisterMainWindowClass() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

double SecondsWritten() {
    const OutputState output = OutputSnapshot();
    const int bytesPerSecond = BytesPerSecond(output.format);
    return bytesPerSecond > 0 ? static_cast<double>(output.written) / bytesPerSecond : 0.0;
}

}  // namespace

PluginHost::PluginHost(HostOptions options) : options_(std::move(options)) {}

PluginHost::~PluginHost() {
    Quit();
    Unload();
    if (window_) DestroyWindow(window_);
#ifdef TXTHOST_HAS_ENGINE
    if (engineRegistered_) engine::RevokeClasses();
#endif
    FinishOutput();
    if (!tempRoot_.empty()) RemoveFolderTree(tempRoot_);
    if (comInitialized_) CoUninitialize();
}

bool PluginHost::Load() {
    mainThread_ = GetCurrentThreadId();
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com)) return error_ = "CoInitializeEx failed", false;
    comInitialized_ = true;
    if (options_.registerEngine) {
#ifdef TXTHOST_HAS_ENGINE
        const HRESULT registered = engine::RegisterClasses();
        if (FAILED(registered)) {
            char message[64];
            std::snprintf(message, sizeof message, "engine::RegisterClasses failed: 0x%08lX", registered);
            return error_ = message, false;
        }
        engineRegistered_ = true;
        if (options_.offerEspeakVoice) engine::OfferEspeakVoices();
        engine::SetRecordDeliveredPcm(options_.recordEngineOutput);
#else
        return error_ = "this host was built without the speech engine", false;
#endif
    }
    if (!CreateMainWindow()) return false;

    std::string source = options_.pluginPath;
    if (source.empty()) source = ProgramFolder() + (options_.privateCopy ? "in_txt.dll" : "Plugins\\in_txt.dll");
    std::string dllPath = source;
    if (options_.privateCopy) {
        if (!PreparePluginFolder(source)) return false;
        dllPath = pluginFolder_ + "\\in_txt.dll";
    } else {
        pluginFolder_ = source.substr(0, source.find_last_of("\\/"));
    }

    library_ = LoadLibraryA(dllPath.c_str());
    if (!library_) return error_ = "cannot load " + dllPath, false;
    auto getModule = reinterpret_cast<GetInModuleFunc>(GetProcAddress(library_, "winampGetInModule2"));
    if (!getModule) return error_ = dllPath + " does not export winampGetInModule2", false;
    module_ = getModule();
    if (!module_) return error_ = "winampGetInModule2 returned no record", false;

    ConfigureOutput(options_.output);
    if (options_.attachHost) AttachHost();
    return true;
}

void PluginHost::AttachHost() {
    if (module_) FillHostEntries(*module_, window_, library_, OutputModule());
}

bool PluginHost::CreateMainWindow() {
    if (!RegisterMainWindowClass()) return error_ = "cannot register the main window class", false;
    window_ = CreateWindowExA(0, MAIN_WINDOW_CLASS, "txtplay", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              400, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window_) return error_ = "cannot create the main window", false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (options_.showMainWindow) {
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
    }
    return true;
}

bool PluginHost::PreparePluginFolder(const std::string& source) {
    tempRoot_ = CreateUniqueTempFolder("in_txt_test_");
    if (tempRoot_.empty()) return error_ = "cannot create a temporary folder", false;
    pluginFolder_ = tempRoot_ + "\\Plugins";
    if (!CreateDirectoryA(pluginFolder_.c_str(), nullptr)) return error_ = "cannot create " + pluginFolder_, false;
    if (!CopyFileA(source.c_str(), (pluginFolder_ + "\\in_txt.dll").c_str(), FALSE))
        return error_ = "cannot copy " + source, false;
    if (!options_.iniContents.empty()) WriteIni(options_.iniContents);
    return true;
}

std::string PluginHost::IniPath() const { return pluginFolder_ + "\\plugin.ini"; }

std::string PluginHost::ReadIni() const { return ReadWholeFile(IniPath()); }

bool PluginHost::WriteIni(const std::string& contents) const { return WriteWholeFile(IniPath(), contents); }

void PluginHost::Init() {
    if (!module_ || initialized_) return;
    module_->Init();
    initialized_ = true;
}

int PluginHost::Play(const std::string& path) {
    if (!module_) return -1;
    if (playing_) Stop();
    endOfFileAtPlay_ = endOfFileCount_;
    std::string file = path;  // the record's operation takes a writable string
    playing_ = true;          // the player calls Stop after any Play, also a failed one
    return module_->Play(&file[0]);
}

void PluginHost::Stop() {
    if (!module_ || !playing_) return;
    playing_ = false;
    module_->Stop();
}

void PluginHost::Pause() {
    if (module_ && playing_) module_->Pause();
}

void PluginHost::UnPause() {
    if (module_ && playing_) module_->UnPause();
}

void PluginHost::Quit() {
    if (!module_ || !initialized_) return;
    Stop();
    initialized_ = false;
    module_->Quit();
}

void PluginHost::Unload() {
    if (!library_) return;
    FreeLibrary(library_);
    library_ = nullptr;
    module_ = nullptr;
}

void PluginHost::PumpMessages(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool PluginHost::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            if (done()) return true;
        }
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        const DWORD wait = timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

bool PluginHost::WaitForEndOfFile(DWORD timeoutMs) {
    const int target = (playing_ ? endOfFileAtPlay_ : endOfFileCount_) + 1;
    return PumpUntil([&] { return endOfFileCount_ >= target; }, timeoutMs);
}

void PluginHost::OnEndOfFile() {
    ++endOfFileCount_;
    if (playlist_) {
        FinishEntry(true, "");
        StartNextEntry();
    } else if (options_.stopOnEndOfFile) {
        Stop();
    }
}

// Records the outcome of the current file (written seconds are read before Stop closes the output).
void PluginHost::FinishEntry(bool ended, const std::string& failure) {
    PlaylistEntry& entry = playlist_->results.back();
    entry.ended = ended;
    entry.failure = failure;
    entry.secondsSpoken = entry.playResult == 0 ? SecondsWritten() : 0.0;
    Stop();
    ++playlist_->current;
    if (playlist_->onEntry) playlist_->onEntry(entry);
}

void PluginHost::StartNextEntry() {
    while (playlist_->current < playlist_->files.size()) {
        PlaylistEntry entry;
        entry.file = playlist_->files[playlist_->current];
        playlist_->fileStart = GetTickCount();
        playlist_->results.push_back(entry);
        const int result = Play(entry.file);
        playlist_->results.back().playResult = result;
        if (result == 0) return;
        FinishEntry(false, "Play returned " + std::to_string(result));
    }
    playlist_->finished = true;
}

std::vector<PlaylistEntry> PluginHost::PlayPlaylist(const std::vector<std::string>& files, DWORD timeoutPerFileMs,
                                                    const std::function<void(const PlaylistEntry&)>& onEntry) {
    PlaylistRun run;
    run.files = files;
    run.onEntry = onEntry;
    playlist_ = &run;
    StartNextEntry();
    const auto timedOut = [&] { return GetTickCount() - run.fileStart >= timeoutPerFileMs; };
    while (!run.finished) {
        PumpUntil([&] { return run.finished || timedOut(); }, INFINITE);
        if (run.finished) break;
        FinishEntry(false, "no end of file after " + std::to_string(timeoutPerFileMs / 1000) + " s");
        StartNextEntry();
    }
    playlist_ = nullptr;
    return run.results;
}

}  // namespace host
