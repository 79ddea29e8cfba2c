// The input-module record that the plug-in hands to the player, and its small callbacks.
#pragma once

#include "base/module_objects.h"

extern const char PLUGIN_DESCRIPTION[];
extern const char FILE_EXTENSIONS[];
constexpr int FILE_EXTENSIONS_SIZE = 75;  // both pairs and the closing empty string
// The same pairs followed by those of the e-book and document types.
extern const char DOCUMENT_FILE_EXTENSIONS[];

// After the settings are loaded: the record offers the document types too when they are played.
void OfferFileExtensions();

// The record the library's export hands to the player: the plug-in's description, file types and
// callbacks written into the one record (PluginModule) whose other fields the player fills.
In_Module* HandOutModuleRecord();

void __cdecl About(HWND parent);
void __cdecl GetFileInfo(char* file, char* title, int* length_in_ms);
int __cdecl IsOurFile(char* file);
int __cdecl GetLength();
int __cdecl GetOutputTime();
void __cdecl SetOutputTime(int time_in_ms);
void __cdecl EQSet(int on, char bands[10], int preamp);
void __cdecl SetVolume(int volume);
void __cdecl SetPan(int pan);

// Title of a file as the player shows it: everything after the last backslash.
const char* TitleOfPath(const char* path);
