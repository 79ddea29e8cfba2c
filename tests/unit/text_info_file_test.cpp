// LoadTextFile with real files and a real Rich Edit control, its text read back exactly: the two
// encodings, the text services route and its fallback through the ANSI code page, unreadable files.
#include "infowindow/text_info_window.h"

#include "infowindow/text_decoding.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>
#include <textserv.h>

#include <string>

namespace {

const IID TextDocumentId = {0x8CC497C0, 0xA1DF, 0x11CE, {0x80, 0x98, 0x00, 0xAA, 0x00, 0x47, 0xBE, 0x5D}};
const IID TextServicesId = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

// Cyrillic, Greek, CJK and a surrogate pair: none of them survives code page 1252.
const wchar_t MIXED_SCRIPTS[] = L"\u041F\u0440\u0438 \u03B3\u03B5\u03B9\u03AC \u6F22\u5B57 \xD83D\xDE00 caf\u00E9";

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// Stands in for the control's OLE object or its document: answers one interface with another
// object, and counts references so that a leak shows.
class CountedObject : public IUnknown {
public:
    CountedObject(const IID& answers, IUnknown* with) : answers_(answers), with_(with) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_IUnknown ? this : (with_ && iid == answers_ ? with_ : nullptr);
        if (!*out) return E_NOINTERFACE;
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

// Text services that refuse every text.
class RefusingTextServices : public ITextServices {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT TxSetText(LPCWSTR) override { return E_FAIL; }
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
        ASSERT_EQ(1252u, GetACP()) << "the expected texts are written for code page 1252";
        richEditLibrary_ = LoadLibraryA("riched20.dll");
        ASSERT_NE(nullptr, richEditLibrary_);
        richEdit_ = CreateWindowExA(0, "RichEdit20A", "", WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 300, 200,
                                    nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, richEdit_);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "in_txt_text_" + std::to_string(GetCurrentProcessId()) + ".txt";
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
        if (richEdit_) DestroyWindow(richEdit_);
        if (richEditLibrary_) FreeLibrary(richEditLibrary_);
    }

    void WriteBytes(const std::string& bytes) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    // Loads a file of these bytes into the control, which showed "before" until then.
    std::wstring Shown(const std::string& bytes) {
        SetWindowTextA(richEdit_, "before");
        WriteBytes(bytes);
        EXPECT_TRUE(LoadTextFile(richEdit_, path_.c_str(), &loaded_));
        return ControlText();
    }
    std::wstring ControlText() const {
        wchar_t text[1024] = {};
        GETTEXTEX request = {sizeof text, GT_USECRLF, 1200, nullptr, nullptr};
        SendMessageW(richEdit_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::wstring BufferText() const { return loaded_.block.Get() ? loaded_.Text() : L"(no buffer)"; }

    HMODULE richEditLibrary_ = nullptr;
    HWND richEdit_ = nullptr;
    std::string path_;
    InfoText loaded_;
};

}  // namespace

TEST_F(TextFileLoad, Utf16ShowsTheCodeUnitsAfterTheMarkUpToTheFirstZero) {
    EXPECT_EQ(MIXED_SCRIPTS, Shown(Utf16File(MIXED_SCRIPTS)));
    EXPECT_EQ(MIXED_SCRIPTS, BufferText());
    EXPECT_EQ(L"one\r\n\u0434\u0432\u0430", Shown(Utf16File(L"one\r\n\u0434\u0432\u0430")));
    EXPECT_EQ(L"AB", Shown(Utf16File(L"AB") + "C")) << "odd last byte";
    EXPECT_EQ(L"A", Shown(Utf16File(std::wstring(L"A\0B", 3))));
    EXPECT_EQ(L"", Shown(Utf16File(L""))) << "mark only";
    EXPECT_EQ(L"", Shown(Utf16File(L"") + "x"));

    // Without a control the file is still read.
    WriteBytes(Utf16File(MIXED_SCRIPTS));
    EXPECT_TRUE(LoadTextFile(nullptr, path_.c_str(), &loaded_));
    EXPECT_EQ(MIXED_SCRIPTS, BufferText());
}

TEST_F(TextFileLoad, EverythingElseIsAnsiTextUpToTheFirstZeroByte) {
    EXPECT_EQ(L"caf\u00E9 \u20AC5", Shown("caf\xE9 \x80" "5"));
    EXPECT_EQ(L"caf\u00E9 \u20AC5", BufferText());
    EXPECT_EQ(L"abc", Shown(std::string("abc\0def", 7)));
    EXPECT_EQ(L"", Shown(""));
    EXPECT_EQ(L"\u00FF", Shown("\xFF"));
    // UTF-8 with its mark: the mark's three bytes and the sequence show as single-byte characters.
    EXPECT_EQ(L"\u00EF\u00BB\u00BFh\u00C3\u00A9", Shown("\xEF\xBB\xBFh\xC3\xA9"));
    // Big-endian UTF-16: its first 0 byte ends the text.
    EXPECT_EQ(L"\u00FE\u00FF", Shown(std::string("\xFE\xFF\0A\0B", 6)));
}

// Each step of the text services route failing in turn: the text goes through the code page
// (Cyrillic becomes "?"), and every interface obtained on the way is released.
TEST_F(TextFileLoad, AnyFailingStepOfTheTextServicesFallsBackToTheCodePage) {
    RefusingTextServices services;
    CountedObject documentWithServices(TextServicesId, &services);
    CountedObject documentWithout(TextServicesId, nullptr);
    CountedObject control(TextDocumentId, &documentWithServices);
    CountedObject controlWithDocumentWithout(TextDocumentId, &documentWithout);
    CountedObject controlWithout(TextDocumentId, nullptr);
    RichEditProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(richEdit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReplacingOleInterface)));

    for (IUnknown* object : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(&controlWithout),
                             static_cast<IUnknown*>(&controlWithDocumentWithout), static_cast<IUnknown*>(&control)}) {
        ReplacementOleObject = object;
        EXPECT_EQ(L"\u00E9t\u00E9 ??", Shown(Utf16File(L"\u00E9t\u00E9 \u0416\u0416")));
        EXPECT_EQ(L"\u00E9t\u00E9 \u0416\u0416", BufferText());
    }
    for (LONG references : {controlWithout.references, controlWithDocumentWithout.references, documentWithout.references,
                            control.references, documentWithServices.references, services.references})
        EXPECT_EQ(0, references);
}

// Files are held whole: one that cannot be opened or held fails before anything is read; the
// control keeps its text and the buffer is empty.
TEST_F(TextFileLoad, FileThatCannotBeOpenedOrHeldLeavesTheShownText) {
    EXPECT_EQ(MIXED_SCRIPTS, Shown(Utf16File(MIXED_SCRIPTS)));
    EXPECT_FALSE(LoadTextFile(richEdit_, (path_ + ".missing").c_str(), &loaded_));
    EXPECT_EQ(nullptr, loaded_.block.Get());
    EXPECT_EQ(MIXED_SCRIPTS, ControlText());

    for (LONG size : {0x7FFFFFFF, 0x40000000, 0x3FFFFFFF}) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        SetFilePointer(file, size, nullptr, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(file));  // sparse: the size costs no disk
        CloseHandle(file);
        loaded_.block.Reset(HeapAlloc(GetProcessHeap(), 0, 16));
        EXPECT_FALSE(LoadTextFile(richEdit_, path_.c_str(), &loaded_)) << size;
        EXPECT_EQ(nullptr, loaded_.block.Get()) << size;
        EXPECT_EQ(MIXED_SCRIPTS, ControlText()) << size;
    }
}

// A device file reports a whole page as its size but reads only a few bytes: the text ends there.
TEST_F(TextFileLoad, ShortReadShowsOnlyTheBytesRead) {
    const char device[] = "Z:\\sys\\devices\\system\\cpu\\possible";
    HANDLE file = CreateFileA(device, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no device file here";
    char content[64] = {};
    DWORD read = 0;
    ReadFile(file, content, sizeof content - 1, &read, nullptr);
    const DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    if (size <= read) GTEST_SKIP() << "the device file reads as long as its size";

    // Blocks of the sizes the load asks for, left full of letters: memory the read did not fill would show.
    for (SIZE_T bytes : {static_cast<SIZE_T>(size) + 1, (static_cast<SIZE_T>(size) + 1) * 2}) {
        void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
        FillMemory(block, bytes, 'Z');
        HeapFree(GetProcessHeap(), 0, block);
    }
    ASSERT_TRUE(LoadTextFile(richEdit_, device, &loaded_));
    EXPECT_EQ(std::wstring(content, content + read), BufferText());
}

// A long text is cut for showing, never inside a surrogate pair, and its block gives back the rest.
TEST_F(TextFileLoad, LongTextIsCutForShowingAndHoldsOnlyWhatIsShown) {
    const size_t limit = MAX_SHOWN_TEXT_UNITS;
    WriteBytes(std::string(3 * limit, 'a'));
    ASSERT_TRUE(LoadTextFile(nullptr, path_.c_str(), &loaded_));
    EXPECT_EQ(std::wstring(limit, L'a'), BufferText());
    EXPECT_EQ((limit + 1) * sizeof(wchar_t), HeapSize(GetProcessHeap(), 0, loaded_.block.Get()));

    // U+1F600 with its first half as the last unit the limit allows: both halves go.
    std::wstring units(limit - 1, L'x');
    units += L"\xD83D\xDE00 and more";
    WriteBytes(Utf16File(units + std::wstring(limit, L'y')));
    ASSERT_TRUE(LoadTextFile(nullptr, path_.c_str(), &loaded_));
    EXPECT_EQ(std::wstring(limit - 1, L'x'), BufferText());
    EXPECT_EQ(limit * sizeof(wchar_t), HeapSize(GetProcessHeap(), 0, loaded_.block.Get()));

    // Short texts keep their block as it was made.
    EXPECT_EQ(L"short", Shown("short"));
    EXPECT_EQ(6 * sizeof(wchar_t), HeapSize(GetProcessHeap(), 0, loaded_.block.Get()));
}
