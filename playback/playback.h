// Playback callbacks: speaking a file, stopping and pausing it.
#pragma once

int __cdecl Play(char* file);
void __cdecl Pause();
void __cdecl UnPause();
int __cdecl IsPaused();
void __cdecl Stop();
