#include "plugin/module.h"

#include "base/plugin_settings.h"
#include "documents/document_text.h"
#include "documents/played_document.h"
#include "infowindow/text_info_window.h"
#include "playback/playback.h"
#include "playback/playback_state.h"
#include "plugin/startup.h"
#include "settings/settings_sheet.h"

const char PLUGIN_DESCRIPTION[] = "Tavrin Text Speech plug-in v1.01 (x86)";

// Pairs of extension and description, closed by an empty string.
const char FILE_EXTENSIONS[FILE_EXTENSIONS_SIZE] =
    "TXT\0Plain Text Files (*.TXT)\0"
    "XML\0Extensible Markup Language Files (*.XML)\0";

// ZIP is not offered for .fb2.zip, which would claim every archive: IsOurFile takes those.
const char DOCUMENT_FILE_EXTENSIONS[] =
    "TXT\0Plain Text Files (*.TXT)\0"
    "XML\0Extensible Markup Language Files (*.XML)\0"
    "EPUB\0EPUB E-Books (*.EPUB)\0"
    "FB2\0FictionBook E-Books (*.FB2)\0"
    "HTM;HTML;XHTML\0Web Pages (*.HTM;*.HTML;*.XHTML)\0"
    "RTF\0Rich Text Format Documents (*.RTF)\0"
    "DOCX\0Word Documents (*.DOCX)\0";

namespace {
constexpr int UNKNOWN_LENGTH = -1000;
const char ABOUT_TEXT[] = "Tavrin Text Speech plug-in v1.01\nSpeaks text and speech markup files through a SAPI 5 voice";
}

// The plug-in's own fields of the record; the player's fields stay as the player set them, so handing
// the record out again changes nothing the player filled in.
In_Module* HandOutModuleRecord() {
    In_Module& record = PluginModule;
    record.version = IN_MODULE_VERSION;
    record.description = const_cast<char*>(PLUGIN_DESCRIPTION);
    record.FileExtensions = const_cast<char*>(FILE_EXTENSIONS);
    record.is_seekable = 0;
    record.UsesOutputPlug = 1;
    record.Config = ShowSettingsSheet;
    record.About = About;
    record.Init = Init;
    record.Quit = Quit;
    record.GetFileInfo = GetFileInfo;
    record.InfoBox = InfoBox;
    record.IsOurFile = IsOurFile;
    record.Play = Play;
    record.Pause = Pause;
    record.UnPause = UnPause;
    record.IsPaused = IsPaused;
    record.Stop = Stop;
    record.GetLength = GetLength;
    record.GetOutputTime = GetOutputTime;
    record.SetOutputTime = SetOutputTime;
    record.SetVolume = SetVolume;
    record.SetPan = SetPan;
    record.EQSet = EQSet;
    return &record;
}

void __cdecl About(HWND parent) {
    MessageBoxA(parent, ABOUT_TEXT, "About plugin", MB_OK | MB_ICONINFORMATION);
}

const char* TitleOfPath(const char* path) {
    const char* title = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\') title = p + 1;
    return title;
}

void OfferFileExtensions() {
    PluginModule.FileExtensions = const_cast<char*>(PluginSettings.Documents ? DOCUMENT_FILE_EXTENSIONS : FILE_EXTENSIONS);
}

namespace {
// At most this many characters of a book's title: even in a double-byte code page no longer than a
// file name can be, which the player's buffer always holds.
constexpr size_t MOST_TITLE_CHARACTERS = (MAX_PATH - 1) / 2;

// A book's own title, "Author - Title", in the ANSI code page; false when it names none.
bool DocumentTitleOf(const char* path, char* title) {
    if (!PlaysAsDocument(path)) return false;
    std::wstring wide = ExtractDocumentTitle(path);
    if (wide.size() > MOST_TITLE_CHARACTERS) wide.resize(MOST_TITLE_CHARACTERS);
    if (!wide.empty() && IS_HIGH_SURROGATE(wide.back())) wide.pop_back();
    if (wide.empty()) return false;
    return WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, title, MAX_PATH, nullptr, nullptr) > 0;
}

// With the seek bar on, a length: the playing file's estimate, or one from another file's size.
int LengthOf(const char* file) {
    if (!PluginSettings.Seekable) return UNKNOWN_LENGTH;
    const bool playing = !file || !*file || lstrcmpiA(file, PlaybackState.CurrentFile) == 0;
    const int length = playing && PlaybackState.OutputOpen ? SpeechLengthMs() : EstimatedFileLengthMs(file ? file : "");
    return length < 0 ? UNKNOWN_LENGTH : length;
}
}  // namespace

void __cdecl GetFileInfo(char* file, char* title, int* length_in_ms) {
    if (length_in_ms) *length_in_ms = LengthOf(file);
    if (!title) return;
    const char* name = (file && *file) ? file : PlaybackState.CurrentFile;
    if (DocumentTitleOf(name, title)) return;
    lstrcpyA(title, TitleOfPath(name));
}

// The player asks every plug-in before it looks at extensions: a .fb2.zip is claimed here, as its
// extension alone (ZIP) cannot be.
int __cdecl IsOurFile(char* file) {
    if (!PlaysAsDocument(file)) return 0;
    const size_t length = lstrlenA(file);
    return length > 8 && lstrcmpiA(file + length - 8, ".fb2.zip") == 0 ? 1 : 0;
}

int __cdecl GetLength() {
    if (!PluginSettings.Seekable) return UNKNOWN_LENGTH;
    const int length = SpeechLengthMs();
    return length < 0 ? UNKNOWN_LENGTH : length;
}

int __cdecl GetOutputTime() { return PluginModule.outMod->GetOutputTime(); }

void __cdecl SetOutputTime(int time_in_ms) { SeekTo(time_in_ms); }

void __cdecl EQSet(int, char[10], int) {}

void __cdecl SetVolume(int volume) { PluginModule.outMod->SetVolume(volume); }

void __cdecl SetPan(int pan) { PluginModule.outMod->SetPan(pan); }
