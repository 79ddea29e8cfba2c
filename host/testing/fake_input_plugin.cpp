// A minimal input plug-in for the host's own tests: it "plays" a file whose text is a number of
// milliseconds, as 8000 Hz 16-bit mono PCM, from a thread of its own, paced by the output's room,
// and posts the end-of-file message once the output has played it. File names steer it:
//   ...refuse...  Play returns -1 before opening the output
//   ...box...     Play shows a "Text Speech Error" box and returns -1
//   ...hang...    the file never ends
// Sample n of a run has the value n % 1000, so a test can check the bytes that arrive.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/winamp.h"

namespace {

constexpr int RATE = 8000;
constexpr int CHUNK_FRAMES = 576;

In_Module Module;
std::thread Writer;
std::atomic<bool> StopWriting{false};
short NextSample = 0;

int MillisecondsIn(const char* file) {
    HANDLE handle = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    char text[32] = {};
    DWORD read = 0;
    ReadFile(handle, text, sizeof text - 1, &read, nullptr);
    CloseHandle(handle);
    return std::atoi(text);
}

void WriteAll(int frames, bool endOfFile) {
    Out_Module* out = Module.outMod;
    short chunk[CHUNK_FRAMES];
    int done = 0;
    while (done < frames && !StopWriting) {
        const int count = frames - done < CHUNK_FRAMES ? frames - done : CHUNK_FRAMES;
        const int bytes = count * 2;
        if (out->CanWrite() < bytes) {
            Sleep(5);
            continue;
        }
        for (int i = 0; i < count; ++i) {
            chunk[i] = NextSample;
            NextSample = static_cast<short>((NextSample + 1) % 1000);
        }
        Module.SAAddPCMData(chunk, 1, 16, out->GetWrittenTime());
        out->Write(reinterpret_cast<char*>(chunk), bytes);
        done += count;
    }
    if (!endOfFile) return;
    while (!StopWriting && out->IsPlaying()) Sleep(5);
    if (!StopWriting) PostMessageA(Module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
}

void __cdecl Nothing() {}
void __cdecl NoDialog(HWND) {}
void __cdecl FileInfo(char*, char* title, int* length) {
    if (title) title[0] = 0;
    if (length) *length = -1000;
}
int __cdecl NoInfoBox(char*, HWND) { return 0; }
int __cdecl NotOurs(char*) { return 0; }
int __cdecl NotPaused() { return 0; }
int __cdecl UnknownLength() { return -1000; }
int __cdecl OutputTime() { return Module.outMod->GetOutputTime(); }
void __cdecl NoSeek(int) {}
void __cdecl Volume(int volume) { Module.outMod->SetVolume(volume); }
void __cdecl Panning(int pan) { Module.outMod->SetPan(pan); }
void __cdecl NoEq(int, char*, int) {}
void __cdecl PauseOutput() { Module.outMod->Pause(1); }
void __cdecl ResumeOutput() { Module.outMod->Pause(0); }

void __cdecl Stop() {
    StopWriting = true;
    if (Writer.joinable()) Writer.join();
    Module.outMod->Close();
    Module.SAVSADeInit();
}

int __cdecl Play(char* file) {
    if (std::strstr(file, "refuse")) return -1;
    if (Module.outMod->Open(RATE, 1, 16, -1, -1) < 0) return 1;
    Module.SetInfo(RATE * 16 / 1000, RATE / 1000, 1, 1);
    Module.SAVSAInit(1, RATE);
    Module.VSASetInfo(1, RATE);
    if (std::strstr(file, "box")) {
        MessageBoxA(Module.hMainWindow, "The voice is missing", "Text Speech Error", MB_OK | MB_ICONERROR);
        return -1;
    }
    if (Writer.joinable()) Writer.join();
    StopWriting = false;
    const bool ends = std::strstr(file, "hang") == nullptr;
    const int frames = MillisecondsIn(file) * RATE / 1000;
    Writer = std::thread(WriteAll, frames, ends);
    return 0;
}

char Description[] = "Host test input plug-in";
char Extensions[] = "TXT\0Text files\0";

}  // namespace

extern "C" __declspec(dllexport) In_Module* __cdecl winampGetInModule2() {
    Module.version = IN_MODULE_VERSION;
    Module.description = Description;
    Module.FileExtensions = Extensions;
    Module.UsesOutputPlug = 1;
    Module.Config = NoDialog;
    Module.About = NoDialog;
    Module.Init = Nothing;
    Module.Quit = Nothing;
    Module.GetFileInfo = FileInfo;
    Module.InfoBox = NoInfoBox;
    Module.IsOurFile = NotOurs;
    Module.Play = Play;
    Module.Pause = PauseOutput;
    Module.UnPause = ResumeOutput;
    Module.IsPaused = NotPaused;
    Module.Stop = Stop;
    Module.GetLength = UnknownLength;
    Module.GetOutputTime = OutputTime;
    Module.SetOutputTime = NoSeek;
    Module.SetVolume = Volume;
    Module.SetPan = Panning;
    Module.EQSet = NoEq;
    return &Module;
}
