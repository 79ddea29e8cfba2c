// The properties sheet's frame and the two page templates, as the DLL carries them and as the sheet
// shows them: ids, control classes, texts, styles, positions, order, font.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "tests/plugin/sheet_fixture.h"

namespace {

// One control as a dialog template lists it (positions in dialog units).
struct TemplateItem {
    int id;
    std::string className;
    std::string text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE, which every control has
    RECT position;  // x, y, width, height
};

struct DialogTemplate {
    DWORD style = 0;
    RECT size = {};
    std::string caption;
    int pointSize = 0;
    std::string face;
    std::vector<TemplateItem> items;
};

constexpr DWORD PAGE_STYLE = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD LIST_STYLE = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP;

const std::vector<TemplateItem> VOICE_PAGE_ITEMS = {
    {-1, "Button", "Output Format", BS_GROUPBOX, {7, 3, 93, 98}},
    {SAMPLE_RATE_LIST, "ListBox", "", LIST_STYLE, {14, 14, 40, 80}},
    {EIGHT_BIT_BUTTON, "Button", "&8 bit", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, {62, 20, 28, 10}},
    {SIXTEEN_BIT_BUTTON, "Button", "&16 bit", BS_AUTORADIOBUTTON, {62, 32, 32, 10}},
    {MONO_BUTTON, "Button", "&Mono", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, {62, 56, 33, 10}},
    {STEREO_BUTTON, "Button", "&Stereo", BS_AUTORADIOBUTTON, {62, 68, 36, 10}},
    {-1, "Button", "Voice", BS_GROUPBOX | WS_GROUP, {103, 3, 132, 98}},
    {VOICE_LIST, "ListBox", "", LIST_STYLE | WS_HSCROLL | WS_GROUP, {110, 14, 118, 50}},
    {RATE_LABEL, "Static", "", SS_LEFT | WS_GROUP, {110, 68, 118, 8}},
    {RATE_SLIDER, "msctls_trackbar32", "Slider1", TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP, {110, 80, 118, 14}},
};

const std::vector<TemplateItem> HOT_KEY_PAGE_ITEMS = {
    {-1, "Button", "Hot Key Definition", BS_GROUPBOX, {7, 3, 228, 98}},
    {USE_HOT_KEY_BOX, "Button", "&Use Hot Key to Display this Dialog", BS_AUTOCHECKBOX | WS_TABSTOP, {14, 14, 151, 10}},
    {-1, "Static", "Hot Key:", SS_LEFT | WS_GROUP, {14, 29, 151, 8}},
    {HOT_KEY_CONTROL, "msctls_hotkey32", "HotKey1", WS_BORDER | WS_TABSTOP, {14, 39, 80, 14}},
    {DOCUMENTS_BOX, "Button", "Also play &e-books and documents", BS_AUTOCHECKBOX | WS_TABSTOP, {14, 66, 214, 10}},
    {SEEKABLE_BOX, "Button", "&Seek by sentence with the seek bar", BS_AUTOCHECKBOX | WS_TABSTOP, {14, 80, 214, 10}},
};

// ---- Reading a DIALOG resource ----

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    DWORD Dword() {
        DWORD v;
        memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    WORD Word() {
        WORD v;
        memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }
    short Short() { return static_cast<short>(Word()); }
    std::string String() {
        std::string s;
        for (WORD c; (c = Word()) != 0;) s += static_cast<char>(c);
        return s;
    }
    // A name or an ordinal: 0 none, 0xFFFF followed by the ordinal, or a string.
    std::string NameOrOrdinal() {
        WORD first;
        memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            return OrdinalClassName(Word());
        }
        return String();
    }
    void AlignToDword(const BYTE* base) {
        while ((p_ - base) % 4) ++p_;
    }
    const BYTE* Position() const { return p_; }
    void Skip(size_t bytes) { p_ += bytes; }

private:
    static std::string OrdinalClassName(WORD ordinal) {
        switch (ordinal) {
        case 0x80: return "Button";
        case 0x81: return "Edit";
        case 0x82: return "Static";
        case 0x83: return "ListBox";
        case 0x84: return "ScrollBar";
        case 0x85: return "ComboBox";
        }
        return "#" + std::to_string(ordinal);
    }
    const BYTE* p_;
};

bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate* result) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!resource) return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    if (!base) return false;
    TemplateReader reader(base);
    result->style = reader.Dword();
    reader.Dword();  // extended style
    const WORD count = reader.Word();
    result->size.left = reader.Short();
    result->size.top = reader.Short();
    result->size.right = reader.Short();
    result->size.bottom = reader.Short();
    reader.NameOrOrdinal();  // menu
    reader.NameOrOrdinal();  // class
    result->caption = reader.String();
    if (result->style & DS_SETFONT) {
        result->pointSize = reader.Word();
        result->face = reader.String();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignToDword(base);
        TemplateItem item;
        item.style = reader.Dword();
        reader.Dword();  // extended style
        item.position.left = reader.Short();
        item.position.top = reader.Short();
        item.position.right = reader.Short();
        item.position.bottom = reader.Short();
        item.id = static_cast<short>(reader.Word());
        item.className = reader.NameOrOrdinal();
        item.text = reader.NameOrOrdinal();
        reader.Skip(reader.Word());  // creation data
        result->items.push_back(item);
    }
    return true;
}

std::string Describe(const TemplateItem& item) {
    return "control " + std::to_string(item.id) + " \"" + item.text + "\"";
}

void ExpectTemplate(HMODULE module, int id, const char* caption, const std::vector<TemplateItem>& expected) {
    DialogTemplate dialog;
    ASSERT_TRUE(ReadDialogTemplate(module, id, &dialog)) << "dialog " << id;
    EXPECT_NE(0xFFFF, dialog.style >> 16) << "a DIALOG template is read here";
    EXPECT_EQ(PAGE_STYLE, dialog.style);
    EXPECT_EQ(0, dialog.size.left);
    EXPECT_EQ(0, dialog.size.top);
    EXPECT_EQ(242, dialog.size.right);
    EXPECT_EQ(108, dialog.size.bottom);
    EXPECT_EQ(caption, dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("MS Sans Serif", dialog.face);

    ASSERT_EQ(expected.size(), dialog.items.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const TemplateItem& want = expected[i];
        const TemplateItem& got = dialog.items[i];
        SCOPED_TRACE(Describe(want));
        EXPECT_EQ(want.id, got.id);
        EXPECT_STRCASEEQ(want.className.c_str(), got.className.c_str());
        EXPECT_EQ(want.text, got.text);
        EXPECT_EQ(want.style | WS_CHILD | WS_VISIBLE, got.style) << std::hex << (want.style ^ got.style);
        EXPECT_EQ(want.position.left, got.position.left);
        EXPECT_EQ(want.position.top, got.position.top);
        EXPECT_EQ(want.position.right, got.position.right);
        EXPECT_EQ(want.position.bottom, got.position.bottom);
    }
}

// The created page's children, in creation order, against the template's controls.
void ExpectPageShows(HWND page, const std::vector<TemplateItem>& expected) {
    ASSERT_NE(nullptr, page);
    std::vector<HWND> children;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_EQ(expected.size(), children.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const TemplateItem& want = expected[i];
        HWND control = children[i];
        SCOPED_TRACE(Describe(want));
        char className[64] = {};
        GetClassNameA(control, className, sizeof className);
        EXPECT_STRCASEEQ(want.className.c_str(), className);
        EXPECT_EQ(want.id, static_cast<short>(GetDlgCtrlID(control)));
        if (want.id != RATE_LABEL) {  // it shows the rate
            EXPECT_EQ(want.text, sheet::WindowText(control));
        }

        // The dialog manager converts the position and the size each on its own (as MapDialogRect
        // converts each field), so the far edge is compared as a width and a height.
        RECT expected = want.position;
        MapDialogRect(page, &expected);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.top, actual.top);
        EXPECT_EQ(expected.right, actual.right - actual.left) << "width";
        EXPECT_EQ(expected.bottom, actual.bottom - actual.top) << "height";
    }
}

std::string TabText(HWND tabs, int index) {
    char text[64] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

// Where espeak-ng runs, its voices are installed too, so the pictures show the voices a user has.
class SettingsSheetLayout : public SheetTest {
protected:
    void SetUp() override {
        host::HostOptions options = SheetOptions();
        options.offerEspeakVoice = true;
        LoadPlugin(options);
    }
};

TEST_F(SettingsSheetLayout, PageTemplatesInTheLibrary) {
    {
        SCOPED_TRACE("dialog 101");
        ExpectTemplate(host_->Library(), VOICE_PAGE_TEMPLATE, "Voice", VOICE_PAGE_ITEMS);
    }
    {
        SCOPED_TRACE("dialog 103");
        ExpectTemplate(host_->Library(), HOT_KEY_PAGE_TEMPLATE, "Hot Key", HOT_KEY_PAGE_ITEMS);
    }
}

TEST_F(SettingsSheetLayout, SheetShowsBothPagesWithOkAndCancelOnly) {
    host_->Init();
    OpenSheet([&](HWND sheet) {
        EXPECT_EQ(sheet::SHEET_CAPTION, sheet::WindowText(sheet));
        EXPECT_EQ(host_->MainWindow(), GetWindow(sheet, GW_OWNER)) << "modal to the window Config was given";
        EXPECT_FALSE(IsWindowEnabled(host_->MainWindow()));

        HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
        ASSERT_EQ(2, SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ("Voice", TabText(tabs, 0));
        EXPECT_EQ("Hot Key", TabText(tabs, 1));
        EXPECT_EQ(0, SendMessageA(tabs, TCM_GETCURSEL, 0, 0)) << "opens on the Voice tab";

        HWND ok = GetDlgItem(sheet, IDOK), cancel = GetDlgItem(sheet, IDCANCEL);
        EXPECT_TRUE(ok && IsWindowVisible(ok));
        EXPECT_TRUE(cancel && IsWindowVisible(cancel));
        HWND apply = GetDlgItem(sheet, 0x3021);
        EXPECT_FALSE(apply && IsWindowVisible(apply)) << "no Apply button";

        ExpectPageShows(sheet::Page(sheet, sheet::VOICE_PAGE), VOICE_PAGE_ITEMS);
        sheet::ShowTab(sheet, sheet::HOT_KEY_PAGE);
        ExpectPageShows(sheet::Page(sheet, sheet::HOT_KEY_PAGE), HOT_KEY_PAGE_ITEMS);
        sheet::SaveScreenshot("hotkey-page", sheet);
        sheet::ShowTab(sheet, sheet::VOICE_PAGE);
        sheet::SaveScreenshot("voice-page", sheet);
    });
    EXPECT_TRUE(IsWindowEnabled(host_->MainWindow())) << "the player's window works again after the sheet";
}

}  // namespace
