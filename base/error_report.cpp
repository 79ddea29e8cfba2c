#include "base/error_report.h"

#include <cstring>

#include "base/module_objects.h"

const char TEXT_RICH_EDIT_MISSING[] = "Microsoft Rich Edit v2.0 library is missing on this system";
const char TEXT_ENGINE_MISSING[] = "Failed to initialize Microsoft Text-to-Speech engine version 5.0";
const char TEXT_OUTPUT_DEVICE[] = "Error opening the output device";
const char TEXT_FORMAT_REJECTED[] = "Format rejected";

namespace {

const char ERROR_CAPTION[] = "Text Speech Error";

// The player's window owns the box only when this thread runs it: a box owned by another thread's
// window would wait for that thread to answer, and a host may call from any thread.
HWND BoxOwner() {
    HWND player = PluginModule.hMainWindow;
    return player && GetWindowThreadProcessId(player, nullptr) == GetCurrentThreadId() ? player : nullptr;
}

void ShowBox(const char* text) { MessageBoxA(BoxOwner(), text, ERROR_CAPTION, MB_OK | MB_ICONERROR); }

}  // namespace

void FormatHResultMessage(char* buffer, HRESULT result, int site) {
    int facility = (result >> 16) & 0x1FFF;
    int code = result & 0xFFFF;
    wsprintfA(buffer, "Error result %08X, facility %d, code %d, line %d", static_cast<unsigned>(result), facility,
              code, site);
}

void CopyToClipboard(const char* text) {
    OpenClipboard(nullptr);
    EmptyClipboard();
    size_t size = std::strlen(text) + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
    if (block) {
        void* data = GlobalLock(block);
        if (data) std::memcpy(data, text, size);
        GlobalUnlock(block);
        // Once accepted, the block belongs to the clipboard.
        if (!SetClipboardData(CF_TEXT, block)) GlobalFree(block);
    }
    CloseClipboard();
}

void ReportHResult(HRESULT result, ErrorSite site) {
    char message[128];
    FormatHResultMessage(message, result, site);
    CopyToClipboard(message);
    ShowBox(message);
}

bool Succeeded(HRESULT result, ErrorSite site) {
    if (SUCCEEDED(result)) return true;
    ReportHResult(result, site);
    return false;
}

void ShowErrorBox(const char* text) { ShowBox(text); }
