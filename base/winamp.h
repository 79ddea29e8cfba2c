// The player's two records as the plug-in sees them: the input module the plug-in hands out and the
// output module the player lends it. Every field is 32 bits wide; every operation is cdecl.
#pragma once

#include <windows.h>

struct Out_Module {
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void (__cdecl* Config)(HWND parent);
    void (__cdecl* About)(HWND parent);
    void (__cdecl* Init)();
    void (__cdecl* Quit)();
    int (__cdecl* Open)(int rate, int channels, int bits, int bufferlenms, int prebufferms);
    void (__cdecl* Close)();
    int (__cdecl* Write)(char* buf, int len);
    int (__cdecl* CanWrite)();
    int (__cdecl* IsPlaying)();
    int (__cdecl* Pause)(int pause);
    void (__cdecl* SetVolume)(int volume);
    void (__cdecl* SetPan)(int pan);
    void (__cdecl* Flush)(int ms);
    int (__cdecl* GetOutputTime)();
    int (__cdecl* GetWrittenTime)();
};

constexpr int IN_MODULE_VERSION = 0x100;

struct In_Module {
    int version;
    char* description;
    HWND hMainWindow;         // filled by the player
    HINSTANCE hDllInstance;   // filled by the player
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void (__cdecl* Config)(HWND parent);
    void (__cdecl* About)(HWND parent);
    void (__cdecl* Init)();
    void (__cdecl* Quit)();
    void (__cdecl* GetFileInfo)(char* file, char* title, int* length_in_ms);
    int (__cdecl* InfoBox)(char* file, HWND parent);
    int (__cdecl* IsOurFile)(char* file);
    int (__cdecl* Play)(char* file);
    void (__cdecl* Pause)();
    void (__cdecl* UnPause)();
    int (__cdecl* IsPaused)();
    void (__cdecl* Stop)();
    int (__cdecl* GetLength)();
    int (__cdecl* GetOutputTime)();
    void (__cdecl* SetOutputTime)(int time_in_ms);
    void (__cdecl* SetVolume)(int volume);
    void (__cdecl* SetPan)(int pan);

    // Visualisation, DSP and information entries: filled by the player.
    void (__cdecl* SAVSAInit)(int latency_in_ms, int sample_rate);
    void (__cdecl* SAVSADeInit)();
    void (__cdecl* SAAddPCMData)(void* data, int channels, int bits, int time_in_ms);
    void* SAGetMode;          // not used by the plug-in
    void* SAAdd;              // not used by the plug-in
    void (__cdecl* VSAAddPCMData)(void* data, int channels, int bits, int time_in_ms);
    void* VSAGetMode;         // not used by the plug-in
    void* VSAAdd;             // not used by the plug-in
    void (__cdecl* VSASetInfo)(int channels, int sample_rate);
    int (__cdecl* dsp_isactive)();
    int (__cdecl* dsp_dosamples)(short* samples, int frames, int bits, int channels, int sample_rate);
    void (__cdecl* EQSet)(int on, char bands[10], int preamp);   // filled by the plug-in
    void (__cdecl* SetInfo)(int bitrate_kbps, int sample_rate_khz, int channels, int synched);
    Out_Module* outMod;
};

static_assert(sizeof(Out_Module) == 20 * 4, "Out_Module has 20 fields of 32 bits");
static_assert(sizeof(In_Module) == 38 * 4, "In_Module has 38 fields of 32 bits");

// Posted to the player's main window when a file has been spoken and played out.
constexpr UINT WM_WA_MPEG_EOF = WM_USER + 2;

// The library's one export.
using GetInModuleFunc = In_Module* (__cdecl*)();
