// The entries of the input module that the player fills: visualisation, DSP, stream information
// and the output module. Every call is logged (call_log.h); the DSP can be switched between modes.
#pragma once

#include <vector>

#include "base/winamp.h"

namespace host {

enum class DspMode {
    Off,            // dsp_isactive answers 0
    PassThrough,    // active, leaves the samples as they are
    DoubleFrames,   // active, repeats every frame: returns twice the frames it was given
    Oversized,      // active, leaves the samples but claims far more frames than any buffer holds
};

// The frame count the Oversized DSP returns, whatever it was given.
constexpr int OVERSIZED_DSP_FRAMES = 100000;

void SetDspMode(DspMode mode);
DspMode CurrentDspMode();
// Answers for the next dsp_isactive calls, one per call, before the mode decides again.
void ScriptDspIsActive(const std::vector<int>& answers);

// Repeats every frame in place: samples must hold 2 × frames frames. Returns 2 × frames.
int DoubleEveryFrame(void* samples, int frames, int bytesPerFrame);

// Fills the host fields of the record: windows, the entries above, and the output module.
void FillHostEntries(In_Module& module, HWND mainWindow, HINSTANCE dllInstance, Out_Module* output);

}  // namespace host
