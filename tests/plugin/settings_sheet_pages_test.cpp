// The properties sheet's two pages through the real in_txt.dll in the player host, driven as a user
// drives them: what they show of the stored settings, the rate preview on the running voice, what
// OK stores and Cancel leaves, and the voice tokens the Voice page borrows from the engine.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/book_files.h"
#include "tests/plugin/sheet_fixture.h"

namespace {

using engine::ObjectKind;
using sheet::HOT_KEY_PAGE;
using sheet::VOICE_PAGE;

const std::vector<std::string> SAMPLE_RATE_ROWS = {"8 kHz",  "11 kHz", "12 kHz", "16 kHz", "22 kHz",
                                                   "24 kHz", "32 kHz", "44 kHz", "48 kHz"};

std::wstring VoiceId(int index) {
    return engine::DefaultVoices()[index].id;
}

// What the Voice and Hot Key pages show.
struct PageState {
    std::vector<std::string> rateRows;
    int rateRow = -2;
    bool eightBit = false, sixteenBit = false, mono = false, stereo = false;
    int voiceRows = 0;
    int voiceRow = -2;
    int slider = 99, sliderMin = 99, sliderMax = 99;
    std::string rateLabel;
    bool useHotKey = false;
    WORD hotKey = 0xFFFF;
    bool documents = false, seekable = false;
};

PageState ReadPages(HWND sheet) {
    PageState state;
    HWND rates = sheet::Control(sheet, VOICE_PAGE, SAMPLE_RATE_LIST);
    for (int row = 0; row < sheet::RowCount(rates); ++row) state.rateRows.push_back(sheet::RowText(rates, row));
    state.rateRow = sheet::SelectedRow(rates);
    state.eightBit = sheet::IsChecked(sheet::Control(sheet, VOICE_PAGE, EIGHT_BIT_BUTTON));
    state.sixteenBit = sheet::IsChecked(sheet::Control(sheet, VOICE_PAGE, SIXTEEN_BIT_BUTTON));
    state.mono = sheet::IsChecked(sheet::Control(sheet, VOICE_PAGE, MONO_BUTTON));
    state.stereo = sheet::IsChecked(sheet::Control(sheet, VOICE_PAGE, STEREO_BUTTON));
    HWND voices = sheet::Control(sheet, VOICE_PAGE, VOICE_LIST);
    state.voiceRows = sheet::RowCount(voices);
    state.voiceRow = sheet::SelectedRow(voices);
    HWND slider = sheet::Control(sheet, VOICE_PAGE, RATE_SLIDER);
    state.slider = sheet::SliderPosition(slider);
    state.sliderMin = static_cast<int>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
    state.sliderMax = static_cast<int>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
    state.rateLabel = sheet::WindowText(sheet::Control(sheet, VOICE_PAGE, RATE_LABEL));
    state.useHotKey = sheet::IsChecked(sheet::Control(sheet, HOT_KEY_PAGE, USE_HOT_KEY_BOX));
    state.hotKey = sheet::HotKeyValue(sheet::Control(sheet, HOT_KEY_PAGE, HOT_KEY_CONTROL));
    state.documents = sheet::IsChecked(sheet::Control(sheet, HOT_KEY_PAGE, DOCUMENTS_BOX));
    state.seekable = sheet::IsChecked(sheet::Control(sheet, HOT_KEY_PAGE, SEEKABLE_BOX));
    return state;
}

class SettingsSheet : public SheetTest {
protected:
    void Start(const std::string& ini = "", bool init = true) {
        ASSERT_NO_FATAL_FAILURE(LoadPlugin(SheetOptions(ini)));
        if (init) host_->Init();
    }
    PageState Reopened() {
        PageState state;
        OpenSheet([&](HWND sheet) { state = ReadPages(sheet); });
        return state;
    }
    // The voice rows' tokens went back to the engine; the running voice stays.
    static void ExpectEveryTokenGivenBack() {
        ExpectGivenBack(ObjectKind::Token);
        EXPECT_EQ(0, engine::Counts(ObjectKind::Enumerator).live);
        EXPECT_EQ(0, engine::Counts(ObjectKind::Category).live);
    }
};

TEST_F(SettingsSheet, ShowsTheStoredSettings) {
    Start("[in_txt]\r\nSampleRateMode=3\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=3\r\nVoiceID=" +
          Narrow(VoiceId(1)) + "\r\nUseHotKey=0\r\nHotKey=1089\r\n");
    const PageState shown = Reopened();
    EXPECT_EQ(SAMPLE_RATE_ROWS, shown.rateRows);
    EXPECT_EQ(3, shown.rateRow);
    EXPECT_TRUE(shown.eightBit);
    EXPECT_FALSE(shown.sixteenBit);
    EXPECT_FALSE(shown.mono);
    EXPECT_TRUE(shown.stereo);
    EXPECT_EQ(static_cast<int>(engine::DefaultVoices().size()), shown.voiceRows);
    EXPECT_EQ(1, shown.voiceRow) << "the stored voice";
    EXPECT_EQ(-10, shown.sliderMin);
    EXPECT_EQ(10, shown.sliderMax);
    EXPECT_EQ(3, shown.slider);
    EXPECT_EQ("Rate: 3", shown.rateLabel);
    EXPECT_FALSE(shown.useHotKey);
    EXPECT_EQ(0x441, shown.hotKey) << "read from the Hot Key page before its tab was ever shown";
    ExpectEveryTokenGivenBack();
}

TEST_F(SettingsSheet, ShowsTheDefaultsWithoutASettingsFile) {
    Start();
    const PageState shown = Reopened();
    EXPECT_EQ(8, shown.rateRow) << "48 kHz";
    EXPECT_FALSE(shown.eightBit);
    EXPECT_TRUE(shown.sixteenBit);
    EXPECT_TRUE(shown.mono);
    EXPECT_FALSE(shown.stereo);
    EXPECT_EQ(0, shown.voiceRow);
    EXPECT_EQ(0, shown.slider);
    EXPECT_EQ("Rate: 0", shown.rateLabel);
    EXPECT_TRUE(shown.useHotKey);
    EXPECT_EQ(0x353, shown.hotKey) << "Ctrl+Shift+S";
}

TEST_F(SettingsSheet, UnknownVoiceLeavesTheFirstSelectedAndOkStoresIt) {
    Start("[in_txt]\r\nVoiceID=HKEY_LOCAL_MACHINE\\SOFTWARE\\Nobody\r\n");
    OpenSheet([&](HWND sheet) {
        EXPECT_EQ(0, sheet::SelectedRow(sheet::Control(sheet, VOICE_PAGE, VOICE_LIST)));
        sheet::PressOk(sheet);
    });
    PlayShortText();
    EXPECT_EQ(L"SetVoice(" + VoiceId(0) + L")", LastVoiceSet());
    EXPECT_EQ(Narrow(VoiceId(0)), IniValue(IniAfterQuit(), "VoiceID"));
}

TEST_F(SettingsSheet, DraggingTheSliderIsHeardAtOnceAndCancelTakesItBack) {
    Start("[in_txt]\r\nRate=2\r\n");
    OpenSheet([&](HWND sheet) {
        HWND slider = sheet::Control(sheet, VOICE_PAGE, RATE_SLIDER);
        sheet::DragSliderTo(slider, -5);
        EXPECT_EQ("Rate: -5", sheet::WindowText(sheet::Control(sheet, VOICE_PAGE, RATE_LABEL)));
        EXPECT_EQ(-5, engine::CurrentRate()) << "the voice has the new rate while the sheet is open";

        // Keys on the slider: the trackbar reports the step itself, without a thumb position.
        sheet::PressSliderKey(slider, VK_RIGHT);
        EXPECT_EQ(-4, sheet::SliderPosition(slider));
        EXPECT_EQ("Rate: -4", sheet::WindowText(sheet::Control(sheet, VOICE_PAGE, RATE_LABEL)));
        EXPECT_EQ(-4, engine::CurrentRate());
        sheet::PressSliderKey(slider, VK_END);
        EXPECT_EQ("Rate: 10", sheet::WindowText(sheet::Control(sheet, VOICE_PAGE, RATE_LABEL)));
        EXPECT_EQ(10, engine::CurrentRate());
        sheet::PressCancel(sheet);
    });
    EXPECT_EQ(2, engine::CurrentRate()) << "cancel puts the stored rate back on the voice";
    ASSERT_FALSE(RateCalls().empty());
    EXPECT_EQ(L"SetRate(2)", RateCalls().back());
    const PageState again = Reopened();
    EXPECT_EQ(2, again.slider);
    EXPECT_EQ("Rate: 2", again.rateLabel);
    EXPECT_EQ("2", IniValue(IniAfterQuit(), "Rate"));
}

TEST_F(SettingsSheet, OkStoresFormatAndVoiceForTheNextFile) {
    Start();
    OpenSheet([&](HWND sheet) {
        sheet::SelectRow(sheet::Control(sheet, VOICE_PAGE, SAMPLE_RATE_LIST), 2);
        sheet::Click(sheet::Control(sheet, VOICE_PAGE, EIGHT_BIT_BUTTON));
        sheet::Click(sheet::Control(sheet, VOICE_PAGE, STEREO_BUTTON));
        sheet::SelectRow(sheet::Control(sheet, VOICE_PAGE, VOICE_LIST), 2);
        sheet::PressOk(sheet);
    });
    EXPECT_EQ("12000/2/8", PlayShortText());
    EXPECT_EQ(L"SetVoice(" + VoiceId(2) + L")", LastVoiceSet());

    const PageState again = Reopened();
    EXPECT_EQ(2, again.rateRow);
    EXPECT_TRUE(again.eightBit && !again.sixteenBit);
    EXPECT_TRUE(again.stereo && !again.mono);
    EXPECT_EQ(2, again.voiceRow);
}

TEST_F(SettingsSheet, OkWithoutASampleRateRowStores48kHz) {
    Start("[in_txt]\r\nSampleRateMode=2\r\n");
    OpenSheet([&](HWND sheet) {
        sheet::SelectRow(sheet::Control(sheet, VOICE_PAGE, SAMPLE_RATE_LIST), -1);
        sheet::PressOk(sheet);
    });
    EXPECT_EQ("48000/1/16", PlayShortText());
    EXPECT_EQ(8, Reopened().rateRow);
}

TEST_F(SettingsSheet, CancelStoresNothing) {
    Start("[in_txt]\r\nSampleRateMode=4\r\nVoiceID=" + Narrow(VoiceId(1)) + "\r\n");
    OpenSheet([&](HWND sheet) {
        sheet::SelectRow(sheet::Control(sheet, VOICE_PAGE, SAMPLE_RATE_LIST), 0);
        sheet::Click(sheet::Control(sheet, VOICE_PAGE, EIGHT_BIT_BUTTON));
        sheet::Click(sheet::Control(sheet, VOICE_PAGE, STEREO_BUTTON));
        sheet::SelectRow(sheet::Control(sheet, VOICE_PAGE, VOICE_LIST), 2);
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, USE_HOT_KEY_BOX));
        sheet::SetHotKeyValue(sheet::Control(sheet, HOT_KEY_PAGE, HOT_KEY_CONTROL), 0x441);
        sheet::PressCancel(sheet);
    });
    EXPECT_EQ("22050/1/16", PlayShortText());
    EXPECT_EQ(L"SetVoice(" + VoiceId(1) + L")", LastVoiceSet());
    const PageState again = Reopened();
    EXPECT_EQ(4, again.rateRow);
    EXPECT_TRUE(again.sixteenBit && again.mono);
    EXPECT_EQ(1, again.voiceRow);
    EXPECT_TRUE(again.useHotKey);
    EXPECT_EQ(0x353, again.hotKey);
}

// OK and Cancel, from either tab: the voice rows' token references all go back to the engine, and
// a cancel takes back the previewed rate, also when the Hot Key tab was showing.
TEST_F(SettingsSheet, EveryWayOfClosingGivesBackTheTokensAndTheRate) {
    Start("[in_txt]\r\nRate=1\r\n");
    struct Closing {
        const char* name;
        int tab;
        bool ok;
    };
    for (const Closing& closing : {Closing{"Cancel on Voice", VOICE_PAGE, false},
                                   Closing{"Cancel on Hot Key", HOT_KEY_PAGE, false},
                                   Closing{"OK on Hot Key", HOT_KEY_PAGE, true},
                                   Closing{"OK on Voice", VOICE_PAGE, true}}) {
        SCOPED_TRACE(closing.name);
        OpenSheet([&](HWND sheet) {
            EXPECT_EQ(static_cast<long>(engine::DefaultVoices().size()), engine::Counts(ObjectKind::Token).live)
                << "one token per voice row";
            sheet::DragSliderTo(sheet::Control(sheet, VOICE_PAGE, RATE_SLIDER), -5);
            sheet::ShowTab(sheet, closing.tab);
            if (closing.ok)
                sheet::PressOk(sheet);
            else
                sheet::PressCancel(sheet);
        });
        ExpectEveryTokenGivenBack();
        // The cancels come first, while 1 is stored; OK stores -5.
        EXPECT_EQ(closing.ok ? -5 : 1, engine::CurrentRate());
    }
}

// The player's window goes while the sheet is open: neither OK nor Cancel reaches the Voice page.
TEST_F(SettingsSheet, GoingWithThePlayersWindowGivesBackTheTokensAndTheRate) {
    Start("[in_txt]\r\nRate=1\r\n");
    OpenSheet([&](HWND sheet) {
        sheet::DragSliderTo(sheet::Control(sheet, VOICE_PAGE, RATE_SLIDER), -5);
        PostMessageA(host_->MainWindow(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(sheet::WaitUntilClosed(sheet));
    });
    ExpectEveryTokenGivenBack();
    EXPECT_EQ(1, engine::CurrentRate());
}

TEST_F(SettingsSheet, WithoutVoicesTheListStaysEmptyAndOkKeepsTheStoredVoice) {
    Start("[in_txt]\r\nVoiceID=" + Narrow(VoiceId(1)) + "\r\n");
    engine::SetInstalledVoices({});
    OpenSheet([&](HWND sheet) {
        HWND voices = sheet::Control(sheet, VOICE_PAGE, VOICE_LIST);
        EXPECT_EQ(0, sheet::RowCount(voices));
        EXPECT_EQ(LB_ERR, sheet::SelectedRow(voices));
        sheet::PressOk(sheet);
    });
    engine::SetCategoryMissing(true);
    OpenSheet([&](HWND sheet) {
        EXPECT_EQ(0, sheet::RowCount(sheet::Control(sheet, VOICE_PAGE, VOICE_LIST)));
        sheet::PressOk(sheet);
    });
    EXPECT_EQ(Narrow(VoiceId(1)), IniValue(IniAfterQuit(), "VoiceID"));
}

TEST_F(SettingsSheet, WorksWithoutAVoiceObject) {
    host::MessageBoxWatcher boxes;
    Start("", false);
    engine::InjectFailure(engine::Op::CreateVoice, engine::EveryCall, E_FAIL);
    host_->Init();
    ASSERT_TRUE(boxes.WaitForCount(1, 10000)) << "start-up reports the missing engine";
    OpenSheet([&](HWND sheet) {
        sheet::DragSliderTo(sheet::Control(sheet, VOICE_PAGE, RATE_SLIDER), 4);
        EXPECT_EQ("Rate: 4", sheet::WindowText(sheet::Control(sheet, VOICE_PAGE, RATE_LABEL)));
        sheet::PressOk(sheet);
    });
    EXPECT_TRUE(RateCalls().empty());
    EXPECT_EQ(4, Reopened().slider);
}

TEST_F(SettingsSheet, OkStoresTheHotKeyPageAlsoFromTheVoiceTab) {
    Start();
    OpenSheet([&](HWND sheet) {
        EXPECT_EQ(sheet, GetForegroundWindow()) << "the sheet comes to the front";
        // The Voice tab stays in front: the Hot Key page takes part in OK all the same.
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, USE_HOT_KEY_BOX));
        sheet::SetHotKeyValue(sheet::Control(sheet, HOT_KEY_PAGE, HOT_KEY_CONTROL), 0x441);
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, DOCUMENTS_BOX));
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, SEEKABLE_BOX));
        sheet::PressOk(sheet);
    });
    const PageState again = Reopened();
    EXPECT_FALSE(again.useHotKey);
    EXPECT_EQ(0x441, again.hotKey);
    EXPECT_TRUE(again.documents && again.seekable) << "the stored choices are shown checked";
    const std::string ini = IniAfterQuit();
    EXPECT_EQ("0", IniValue(ini, "UseHotKey"));
    EXPECT_EQ("1089", IniValue(ini, "HotKey"));
    EXPECT_EQ("1", IniValue(ini, "Documents")) << "the boxes, checked on the page, are stored";
    EXPECT_EQ("1", IniValue(ini, "Seekable"));
}

// The player goes on sending the document types it was offered at start-up: turned off, documents are
// still played as their text (not as the bytes of an archive) until the next start.
TEST_F(SettingsSheet, DocumentsTurnedOffArePlayedAsTextUntilTheNextStart) {
    Start("[in_txt]\r\nDocuments=1\r\n");
    OpenSheet([&](HWND sheet) {
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, DOCUMENTS_BOX));
        sheet::PressOk(sheet);
    });
    EXPECT_FALSE(Reopened().documents);
    const std::string book = MakeFile("book.epub", books::Epub("T", "A", {"<html><body><p>Words of the book.</p></body></html>"}));
    ASSERT_EQ(0, host_->Play(book));
    EXPECT_TRUE(host_->PumpUntil([&] { return LogCount(L"Speak(Words of the book., 17)") == 1; }, 10000))
        << Narrow(LogLines(L"Speak(").empty() ? L"no Speak" : LogLines(L"Speak(").back());
    host_->Stop();
}

TEST_F(SettingsSheet, ClearedHotKeyStoresZero) {
    Start("[in_txt]\r\nUseHotKey=0\r\nHotKey=1089\r\n");
    OpenSheet([&](HWND sheet) {
        sheet::ShowTab(sheet, HOT_KEY_PAGE);
        sheet::Click(sheet::Control(sheet, HOT_KEY_PAGE, USE_HOT_KEY_BOX));
        sheet::SetHotKeyValue(sheet::Control(sheet, HOT_KEY_PAGE, HOT_KEY_CONTROL), 0);
        sheet::PressOk(sheet);
    });
    const PageState again = Reopened();
    EXPECT_TRUE(again.useHotKey);
    EXPECT_EQ(0, again.hotKey);
    const std::string ini = IniAfterQuit();
    EXPECT_EQ("1", IniValue(ini, "UseHotKey"));
    EXPECT_EQ("0", IniValue(ini, "HotKey"));
}

// A window of the player's thread that asks for the sheet when told to, as a second Config or the
// hot key would while the sheet is up.
LRESULT CALLBACK RequesterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        auto* module = reinterpret_cast<In_Module*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        module->Config(module->hMainWindow);
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(SettingsSheet, AskingAgainWhileItIsOpenDoesNothing) {
    Start();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RequesterProc;
    windowClass.lpszClassName = "SheetRequester";
    RegisterClassA(&windowClass);
    HWND requester = CreateWindowA("SheetRequester", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, requester);
    SetWindowLongPtrA(requester, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host_->Module()));

    OpenSheet([&](HWND sheet) {
        DWORD_PTR answer = 0;
        const LRESULT done = SendMessageTimeoutA(requester, WM_APP, 0, 0, SMTO_NORMAL, 5000, &answer);
        EXPECT_NE(0, done) << "the second request came back at once";
        const std::vector<HWND> sheets = sheet::OpenSheets();
        EXPECT_EQ(1u, sheets.size());
        // Close whatever a faulty second request opened, innermost first, so the test ends.
        for (HWND other : sheets)
            if (other != sheet) sheet::PressCancel(other);
    });
    EXPECT_TRUE(sheet::WithSheet([&] { SendMessageA(requester, WM_APP, 0, 0); }, [](HWND) {}))
        << "the next request after closing opens it";
    DestroyWindow(requester);
}

}  // namespace
