// Reading text files into a real Rich Edit control: encodings, the text services route and its
// fallback through the ANSI code page, and files that cannot be read or held.
#include "infowindow/text_info_window.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>
#include <textserv.h>

#include <string>

namespace {

const IID TextDocumentId = {0x8CC497C0, 0xA1DF, 0x11CE, {0x80, 0x98, 0x00, 0xAA, 0x00, 0x47, 0xBE, 0x5D}};
const IID TextServicesId = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

std::string Bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

// UTF-16 little-endian bytes with the byte-order mark in front.
std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

// An object that answers one interface with another object and counts its references, to stand in
// for the control's OLE object or its document.
class CountedObject : public IUnknown {
public:
    CountedObject(const IID& answers, IUnknown* with) : answers_(answers), with_(with) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown) {
            *out = static_cast<IUnknown*>(this);
        } else if (with_ && iid == answers_) {
            *out = with_;
        } else {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*out)->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    LONG references = 0;

private:
    IID answers_;
    IUnknown* with_;
};

// Text services that refuse every text, keeping the last one offered.
class RefusingTextServices : public ITextServices {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT TxSetText(LPCWSTR text) override {
        offered = text ? text : L"(null)";
        return E_FAIL;
    }
    HRESULT TxSendMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    HRESULT TxDraw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL, LPCRECTL, LPRECT, WINBOOL(CALLBACK*)(DWORD),
                   DWORD, LONG) override { return E_NOTIMPL; }
    HRESULT TxGetHScroll(LONG*, LONG*, LONG*, LONG*, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT TxGetVScroll(LONG*, LONG*, LONG*, LONG*, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT OnTxSetCursor(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECT, INT, INT) override { return E_NOTIMPL; }
    HRESULT TxQueryHitPoint(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECT, INT, INT, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT OnTxInPlaceActivate(LPCRECT) override { return E_NOTIMPL; }
    HRESULT OnTxInPlaceDeactivate() override { return E_NOTIMPL; }
    HRESULT OnTxUIActivate() override { return E_NOTIMPL; }
    HRESULT OnTxUIDeactivate() override { return E_NOTIMPL; }
    HRESULT TxGetText(BSTR*) override { return E_NOTIMPL; }
    HRESULT TxGetCurTargetX(LONG*) override { return E_NOTIMPL; }
    HRESULT TxGetBaseLinePos(LONG*) override { return E_NOTIMPL; }
    HRESULT TxGetNaturalSize(DWORD, HDC, HDC, DVTARGETDEVICE*, DWORD, const SIZEL*, LONG*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT TxGetDropTarget(IDropTarget**) override { return E_NOTIMPL; }
    HRESULT OnTxPropertyBitsChange(DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT TxGetCachedSize(DWORD*, DWORD*) override { return E_NOTIMPL; }

    LONG references = 0;
    std::wstring offered;
};

// What the control's EM_GETOLEINTERFACE hands out while a test replaces it; null makes it fail.
IUnknown* ReplacementOleObject = nullptr;
WNDPROC RichEditProc = nullptr;

LRESULT CALLBACK ReplacingOleInterface(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != EM_GETOLEINTERFACE) return CallWindowProcA(RichEditProc, window, message, wParam, lParam);
    if (!ReplacementOleObject) return 0;
    ReplacementOleObject->AddRef();
    *reinterpret_cast<IUnknown**>(lParam) = ReplacementOleObject;
    return 1;
}

class TextFileLoad : public ::testing::Test {
protected:
    void SetUp() override {
        richEditLibrary_ = LoadLibraryA("riched20.dll");
        ASSERT_NE(nullptr, richEditLibrary_);
        parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, parent_);
        richEdit_ = CreateWindowExA(0, "RichEdit20A", "",
                                    WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 0, 300,
                                    200, parent_, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, richEdit_);

        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "in_txt_text_" + std::to_string(GetCurrentProcessId()) + ".txt";
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
        if (parent_) DestroyWindow(parent_);
        if (richEditLibrary_) FreeLibrary(richEditLibrary_);
    }

    void WriteFileBytes(const std::string& bytes) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }

    // Loads a file of these bytes into the control, which showed "before" until then.
    std::wstring Shown(const std::string& bytes) {
        SetWindowTextA(richEdit_, "before");
        WriteFileBytes(bytes);
        EXPECT_TRUE(LoadTextFile(richEdit_, path_.c_str(), buffer_));
        return ControlText();
    }

    // The control's text exactly, as UTF-16 with CR LF line ends.
    std::wstring ControlText() {
        wchar_t text[4096] = {};
        GETTEXTEX request = {};
        request.cb = sizeof text;
        request.flags = GT_USECRLF;
        request.codepage = 1200;
        SendMessageW(richEdit_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(text));
        return text;
    }

    std::wstring BufferText() const { return buffer_.Get() ? buffer_.As<wchar_t>() : L"(no buffer)"; }

    void ReplaceOleInterface(IUnknown* object) {
        ReplacementOleObject = object;
        RichEditProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(richEdit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReplacingOleInterface)));
    }

    HMODULE richEditLibrary_ = nullptr;
    HWND parent_ = nullptr;
    HWND richEdit_ = nullptr;
    std::string path_;
    ScopedHeapBlock buffer_;
};

// Cyrillic, Greek, CJK and a surrogate pair: none of them survives code page 1252.
const wchar_t MIXED_SCRIPTS[] = L"\u041F\u0440\u0438\u0432\u0435\u0442 \u03B3\u03B5\u03B9\u03AC \u6F22\u5B57 \xD83D\xDE00 caf\u00E9";

}  // namespace

TEST_F(TextFileLoad, Utf16ShowsEveryCodeUnitAfterTheMark) {
    EXPECT_EQ(MIXED_SCRIPTS, Shown(Utf16File(MIXED_SCRIPTS)));
    EXPECT_EQ(MIXED_SCRIPTS, BufferText());
    EXPECT_EQ(L"first line\r\n\u0432\u0442\u043E\u0440\u0430\u044F", Shown(Utf16File(L"first line\r\n\u0432\u0442\u043E\u0440\u0430\u044F")));
}

TEST_F(TextFileLoad, Utf16EdgesOddByteInnerZeroAndMarkOnly) {
    EXPECT_EQ(L"AB", Shown(Utf16File(L"AB") + "C"));
    EXPECT_EQ(L"AB", BufferText());
    EXPECT_EQ(L"A", Shown(Utf16File(std::wstring(L"A\0B", 3))));
    EXPECT_EQ(L"", Shown(Utf16File(L"")));
    EXPECT_EQ(L"", BufferText());
    EXPECT_EQ(L"", Shown(Utf16File(L"") + "x"));
}

TEST_F(TextFileLoad, AnsiFilesAreShownThroughTheCodePage) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    EXPECT_EQ(L"caf\u00E9 \u20AC5", Shown("caf\xE9 \x80" "5"));
    EXPECT_EQ(L"caf\u00E9 \u20AC5", BufferText());
    EXPECT_EQ(L"one\r\ntwo", Shown("one\r\ntwo"));
    EXPECT_EQ(L"abc", Shown(std::string("abc\0def", 7)));
    EXPECT_EQ(L"", Shown(""));
    EXPECT_EQ(L"", BufferText());
    EXPECT_EQ(L"\u00FF", Shown("\xFF"));
}

TEST_F(TextFileLoad, OtherMarksAreAnsiBytes) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    // UTF-8 with its mark: the mark's three bytes and the UTF-8 sequence show as code page 1252 characters.
    EXPECT_EQ(L"\u00EF\u00BB\u00BFh\u00C3\u00A9", Shown(Bytes({0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9})));
    // Big-endian UTF-16: the first 0 byte ends the text.
    EXPECT_EQ(L"\u00FE\u00FF", Shown(Bytes({0xFE, 0xFF, 0x00, 'A', 0x00, 'B'})));
}

TEST_F(TextFileLoad, FileThatCannotBeOpenedKeepsTheShownTextAndEmptiesTheBuffer) {
    EXPECT_EQ(MIXED_SCRIPTS, Shown(Utf16File(MIXED_SCRIPTS)));
    const std::string missing = path_ + ".missing";
    EXPECT_FALSE(LoadTextFile(richEdit_, missing.c_str(), buffer_));
    EXPECT_EQ(nullptr, buffer_.Get());
    EXPECT_EQ(MIXED_SCRIPTS, ControlText());
}

TEST_F(TextFileLoad, WithoutTheOleObjectUtf16GoesThroughTheAnsiCodePage) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    ReplaceOleInterface(nullptr);
    EXPECT_EQ(L"?? caf\u00E9", Shown(Utf16File(L"\u041F\u0440 caf\u00E9")));
    EXPECT_EQ(L"\u041F\u0440 caf\u00E9", BufferText());
}

TEST_F(TextFileLoad, ObjectWithoutTextDocumentFallsBackAndIsReleased) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    CountedObject control(TextDocumentId, nullptr);
    ReplaceOleInterface(&control);
    EXPECT_EQ(L"\u00E9t\u00E9 ?", Shown(Utf16File(L"\u00E9t\u00E9 \u0416")));
    EXPECT_EQ(0, control.references);
}

TEST_F(TextFileLoad, DocumentWithoutTextServicesFallsBackAndBothAreReleased) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    CountedObject document(IID_IUnknown, nullptr);
    CountedObject control(TextDocumentId, &document);
    ReplaceOleInterface(&control);
    EXPECT_EQ(L"\u00E9t\u00E9 ?", Shown(Utf16File(L"\u00E9t\u00E9 \u0416")));
    EXPECT_EQ(0, control.references);
    EXPECT_EQ(0, document.references);
}

TEST_F(TextFileLoad, TextServicesRefusingTheTextFallBackAndAllAreReleased) {
    ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
    RefusingTextServices services;
    CountedObject document(TextServicesId, &services);
    CountedObject control(TextDocumentId, &document);
    ReplaceOleInterface(&control);
    EXPECT_EQ(L"\u00E9t\u00E9 ?", Shown(Utf16File(L"\u00E9t\u00E9 \u0416")));
    EXPECT_EQ(L"\u00E9t\u00E9 \u0416", services.offered);
    EXPECT_EQ(0, control.references);
    EXPECT_EQ(0, document.references);
    EXPECT_EQ(0, services.references);
}

// A device file reports a size of a whole page but reads only a few bytes: the text ends there.
TEST_F(TextFileLoad, ShortReadShowsOnlyTheBytesRead) {
    const char device[] = "Z:\\sys\\devices\\system\\cpu\\possible";
    HANDLE file = CreateFileA(device, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no device file with a short read here";
    char content[64] = {};
    DWORD read = 0;
    ReadFile(file, content, sizeof content - 1, &read, nullptr);
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    if (size <= read) GTEST_SKIP() << "the device file reads as long as its size";

    // Leave blocks of the sizes the load asks for full of letters, so memory not filled by the read shows.
    for (SIZE_T bytes : {static_cast<SIZE_T>(size) + 1, (static_cast<SIZE_T>(size) + 1) * 2}) {
        void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
        FillMemory(block, bytes, 'Z');
        HeapFree(GetProcessHeap(), 0, block);
    }
    SetWindowTextA(richEdit_, "before");
    ASSERT_TRUE(LoadTextFile(richEdit_, device, buffer_));
    EXPECT_EQ(std::wstring(content, content + read), BufferText());
    EXPECT_EQ(read, static_cast<DWORD>(lstrlenW(buffer_.As<wchar_t>())));
}

// Files are held whole in memory: one whose text cannot be held fails before anything is read.
TEST_F(TextFileLoad, FileTooLargeToHoldFailsCleanly) {
    SetWindowTextA(richEdit_, "before");
    for (DWORD size : {0x40000000u, 0x3FFFFFFFu, 0x7FFFFFFFu}) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        // A sparse file: its size costs no disk.
        SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
        buffer_.Reset(HeapAlloc(GetProcessHeap(), 0, 16));
        EXPECT_FALSE(LoadTextFile(richEdit_, path_.c_str(), buffer_)) << size;
        EXPECT_EQ(nullptr, buffer_.Get()) << size;
        EXPECT_EQ(L"before", ControlText()) << size;
    }
}

TEST_F(TextFileLoad, NoControlStillReadsTheFile) {
    WriteFileBytes(Utf16File(MIXED_SCRIPTS));
    EXPECT_TRUE(LoadTextFile(nullptr, path_.c_str(), buffer_));
    EXPECT_EQ(MIXED_SCRIPTS, BufferText());
}
