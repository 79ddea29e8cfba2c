// Playback callbacks: speaking a file, stopping and pausing it.
#pragma once

int __cdecl Play(char* file);
void __cdecl Pause();
void __cdecl UnPause();
int __cdecl IsPaused();
void __cdecl Stop();

// A path is spoken as markup when the text after its last '.' (the whole path without one) is "XML",
// in any letter case.
bool IsMarkupPath(const char* path);

// Bit rate in kbit/s as the player shows it: rate × bits × channels / 1000.
int BitRateKbps(int rate, int bits, int channels);
