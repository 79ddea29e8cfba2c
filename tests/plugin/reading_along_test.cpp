// Reading along: the Text info window of the real in_txt.dll selects the sentence the output is
// playing, as the tone voice's predictable boundaries and a real-time output let a test know it; and
// it holds a whole book.
#include <windows.h>
#include <richedit.h>
#include <sapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/speech_text.h"
#include "host/output_module.h"
#include "plugin_fixture.h"
#include "tests/book_files.h"
#include "sheet_driver.h"
#include "text_info_probe.h"
#include "tests/test_support.h"
#include "base/scoped.h"
#include "infowindow/text_decoding.h"

namespace {

// The tone voice at its slowest: 192 frames, 4 ms, a character at 48000 Hz.
constexpr long SLOW_RATE = -10;
// The plug-in's default format: 48000 Hz, 16 bits, mono.
const WAVEFORMATEX SOUND = {WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

struct Span {
    long start;
    long end;
    bool operator==(const Span& other) const { return start == other.start && end == other.end; }
};
void PrintTo(const Span& span, std::ostream* os) { *os << "[" << span.start << ", " << span.end << ")"; }

// Where a span of the file's text lies in the control, which keeps each CR LF as one character.
Span InControl(const std::string& text, unsigned position, unsigned length) {
    const auto pairsBefore = [&](unsigned at) {
        long pairs = 0;
        for (size_t i = 0; i + 1 < at && i + 1 < text.size(); ++i)
            if (text[i] == '\r' && text[i + 1] == '\n') ++pairs;
        return pairs;
    };
    return {static_cast<long>(position) - pairsBefore(position),
            static_cast<long>(position + length) - pairsBefore(position + length)};
}

struct Heard {
    Span span;
    long startMs;  // when the output has played this long, the span is being heard
};

// The sentences the tone voice reports for the file, where the window selects them, and when.
std::vector<Heard> SentencesOf(const std::string& bytes, bool isXml) {
    std::vector<Heard> heard;
    for (const engine::TextEvent& event :
         engine::ToneSentenceEvents(std::vector<unsigned char>(bytes.begin(), bytes.end()), isXml, SLOW_RATE, SOUND))
        heard.push_back({InControl(bytes, event.position, event.length),
                         static_cast<long>(event.audioOffset * 1000 / SOUND.nAvgBytesPerSec)});
    return heard;
}

// The words of a plain text, as a voice that reports no sentences reports them.
std::vector<Heard> WordsOf(const std::string& text) {
    const unsigned characterBytes = engine::FramesPerCharacter(SLOW_RATE) * SOUND.nBlockAlign;
    std::vector<Heard> heard;
    for (const engine::TextSpan& word : engine::FindWords(Wide(text)))
        heard.push_back({InControl(text, word.position, word.length),
                         static_cast<long>(1000ull * word.position * characterBytes / SOUND.nAvgBytesPerSec)});
    return heard;
}

class ReadingAlong : public PluginTest {
protected:
    void SetUp() override {
        host::HostOptions options = WithSettings("[in_txt]\r\nRate=" + std::to_string(SLOW_RATE) + "\r\n");
        options.output.drain = host::DrainMode::Clock;  // the device plays in real time
        ASSERT_NO_FATAL_FAILURE(LoadAndInit(options));
        window_ = FindTextInfoWindow();
        ASSERT_NE(nullptr, window_);
    }

    HWND Text() const { return GetDlgItem(window_, INFO_TEXT); }
    Span Selection() const {
        CHARRANGE range = {-1, -1};
        SendMessageA(Text(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return {range.cpMin, range.cpMax};
    }
    static long Played() { return host::OutputModule()->GetOutputTime(); }
    // The control's text, or its selection, as UTF-16.
    static std::wstring ControlText(HWND control, DWORD flags) {
        std::wstring text(4096, L'\0');
        GETTEXTEX request = {static_cast<DWORD>(text.size() * sizeof(wchar_t)), flags, 1200, nullptr, nullptr};
        SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(&text[0]));
        return text.c_str();
    }

    // Waits until the window selects the span, and checks it did not do so before the output had
    // begun to play it.
    void ExpectSelectedInTime(const Heard& heard) {
        ASSERT_TRUE(host_->PumpUntil([&] { return Selection() == heard.span; }, 20000))
            << "never selected: " << ::testing::PrintToString(heard.span) << ", selection "
            << ::testing::PrintToString(Selection());
        EXPECT_GE(Played(), heard.startMs) << "selected before it was heard";
    }


    // ---- The text's context menu ----

    struct MenuItem {
        std::string text;
        UINT state;  // MF_GRAYED, MF_CHECKED, ...
    };
    // Opens the text's menu at a character, as a right-click there does, and picks the item of that
    // text (none: closes the menu); returns the items as the menu showed them. The menu runs its own
    // loop, in which a thread timer looks at it and sends it keys.
    std::vector<MenuItem> ChooseFromMenu(long character, const char* item, const char* picture = nullptr) {
        MenuTest = this;
        menuItems_.clear();
        menuWanted_ = item;
        menuPicture_ = picture;
        menuDone_ = false;
        POINTL at = {0, 0};
        SendMessageA(Text(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), character);
        POINT screen = {at.x + 2, at.y + 4};
        ClientToScreen(Text(), &screen);
        SetCursorPos(0, 0);  // the pointer over the menu would choose its own item
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, OnMenuTimerTick);
        PostMessageA(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Text()), MAKELPARAM(screen.x, screen.y));
        EXPECT_TRUE(host_->PumpUntil([&] { return menuDone_; }, 10000)) << "no menu";
        KillTimer(nullptr, timer);
        host_->PumpMessages(50);
        return menuItems_;
    }
    static ReadingAlong* MenuTest;
    static void CALLBACK OnMenuTimerTick(HWND, UINT, UINT_PTR, DWORD) { MenuTest->OnMenuTimer(); }
    static BOOL CALLBACK MatchMenu(HWND window, LPARAM found) {
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, "#32768") != 0 || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    void OnMenuTimer() {
        HWND menu = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), MatchMenu, reinterpret_cast<LPARAM>(&menu));
        if (!menu || menuDone_) return;
        if (menuPicture_) sheet::SaveScreenshot(menuPicture_, window_);
        HMENU items = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
        menuItems_.clear();
        int downs = 0, pick = 0;
        for (int i = 0; i < GetMenuItemCount(items); ++i) {
            char text[64] = {};
            GetMenuStringA(items, i, text, sizeof text, MF_BYPOSITION);
            const UINT state = GetMenuState(items, i, MF_BYPOSITION);
            if (state & MF_SEPARATOR) continue;
            menuItems_.push_back({text, state & (MF_GRAYED | MF_CHECKED)});
            ++downs;
            if (menuWanted_ && menuWanted_ == std::string(text)) pick = downs;
        }
        for (int i = 0; i < pick; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, pick ? VK_RETURN : VK_ESCAPE, 0);
        menuDone_ = true;
    }
    // The text the voice was last given, and how (the Speak flags).
    static std::wstring LastSpoken(int* flags) {
        const std::vector<std::wstring> speaks = LogLines(L"Speak(");
        for (auto line = speaks.rbegin(); line != speaks.rend(); ++line) {
            if (line->compare(0, 10, L"Speak(NULL") == 0) continue;
            const size_t comma = line->rfind(L", ");
            *flags = std::stoi(line->substr(comma + 2));
            return line->substr(6, comma - 6);
        }
        return L"";
    }
    std::string PlacesFile() const { return host_->PluginFolder() + "\\in_txt_places.txt"; }

    std::vector<MenuItem> menuItems_;
    const char* menuWanted_ = nullptr;
    const char* menuPicture_ = nullptr;
    bool menuDone_ = false;
    HWND window_ = nullptr;
};
ReadingAlong* ReadingAlong::MenuTest = nullptr;

TEST_F(ReadingAlong, SelectionFollowsWhatTheOutputPlaysAndAPauseHoldsIt) {
    const std::string text =
        "The first sentence is read aloud here. The second one is long on purpose, so that a paused output "
        "holds it for a good while: it goes on and on, word after word, past every comma, until the listener "
        "wonders whether it will ever end at all.\r\nA third sentence stands on a line of its own.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_EQ(3u, sentences.size());
    ASSERT_EQ(0, host_->Play(MakeFile("read.txt", text)));

    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
    host_->Pause();
    host_->PumpMessages(800);  // longer than the rest of the second sentence would have taken to play
    EXPECT_EQ(sentences[1].span, Selection()) << "a paused output holds the selection";
    host_->UnPause();
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[2]));

    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    host_->Stop();
    host_->PumpMessages(200);
    EXPECT_EQ(sentences[2].span, Selection()) << "Stop leaves the last sentence selected";
}

TEST_F(ReadingAlong, ReadersClickEndsFollowingUntilTheNextFile) {
    const std::string text =
        "Click me while I am being read. You chose your own place, so I stay out of your way. "
        "Even this third sentence is not selected for you.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_EQ(3u, sentences.size());
    ASSERT_EQ(0, host_->Play(MakeFile("click.txt", text)));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));

    SendMessageA(Text(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageA(Text(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    const Span readers = Selection();
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_GT(Played(), sentences[2].startMs);
    EXPECT_EQ(readers, Selection()) << "the reader's place is never taken over";

    host_->Stop();
    const std::string next = "The next file is followed again. From its first sentence on.";
    ASSERT_EQ(0, host_->Play(MakeFile("next.txt", next)));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(SentencesOf(next, false)[1]));
}

// Markup: the voice counts positions in the source, tags included, which is what the window shows.
// A voice that reports words but no sentences is followed word by word.
TEST_F(ReadingAlong, MarkupPositionsAndVoicesWithoutSentences) {
    const std::string markup =
        "<speak>The <emph>first</emph> sentence has tags.\r\n<rate speed=\"0\">The second</rate> has more.</speak>";
    const std::vector<Heard> sentences = SentencesOf(markup, true);
    ASSERT_EQ(2u, sentences.size());
    ASSERT_EQ(0, host_->Play(MakeFile("tags.xml", markup)));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
    host_->Stop();

    // Long words, each heard long enough for the window to select it.
    engine::SetSentenceEvents(false);
    const std::string plain = "Incomprehensibilities\r\nuncharacteristically counterrevolutionaries. Ends";
    const std::vector<Heard> words = WordsOf(plain);
    ASSERT_EQ(4u, words.size());
    ASSERT_EQ(0, host_->Play(MakeFile("words.txt", plain)));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(words[1]));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(words[3]));
}

// The window shown while a file plays: the sentence heard is selected where the reader sees it, far
// down the text. The picture goes to <build>/artifacts/reading-along.png (the README's).
TEST_F(ReadingAlong, HeardSentenceIsKeptInViewAndPictured) {
    std::string story;
    for (int paragraph = 1; paragraph <= 12; ++paragraph)
        story += "Paragraph " + std::to_string(paragraph) +
                 " of the lighthouse keeper's evening. He climbed the steps and wound the clock.\r\n";
    const std::vector<Heard> sentences = SentencesOf(story, false);
    ASSERT_EQ(24u, sentences.size());
    const std::string path = MakeFile("story.txt", story);
    SetWindowPos(window_, nullptr, 0, 0, 460, 240, SWP_NOMOVE | SWP_NOZORDER);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[16]));
    host_->Pause();

    POINTL start = {0, 0};
    SendMessageA(Text(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&start), sentences[16].span.start);
    RECT client;
    GetClientRect(Text(), &client);
    EXPECT_TRUE(start.y >= 0 && start.y < client.bottom) << "the heard sentence is in view: " << start.y;
    host_->PumpMessages(100);  // painted before the picture
    sheet::SaveScreenshot("reading-along", window_);
}

// Read from here: the speech starts again at the sentence clicked, without an end of file for what was
// cut off; the window follows from there. On a file that is not playing the item is greyed.
TEST_F(ReadingAlong, ReadFromHereRestartsAtTheClickedSentence) {
    const std::string text = "First we hear this one. Then a second one comes along. The third is read again now.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_EQ(3u, sentences.size());
    const std::string path = MakeFile("here.txt", text);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));
    host_->Pause();  // a paused file is read from a place too, and stays paused there
    const std::vector<MenuItem> items = ChooseFromMenu(sentences[2].span.start + 6, nullptr, "reading-menu");
    ASSERT_EQ(4u, items.size());
    EXPECT_EQ("Read from here", items[0].text);
    EXPECT_EQ("Read from the beginning", items[1].text);
    EXPECT_EQ("Continue where I stopped", items[2].text);
    EXPECT_EQ("Seek by sentence with the seek bar", items[3].text);
    EXPECT_EQ(0u, items[3].state) << "not checked by default";
    EXPECT_EQ(0u, items[0].state);
    EXPECT_EQ(0u, items[2].state) << "not checked by default";
    ChooseFromMenu(sentences[2].span.start + 6, "Read from here");

    int flags = 0;
    EXPECT_TRUE(host_->PumpUntil([&] { return LastSpoken(&flags) == Wide(text.substr(sentences[2].span.start)); }, 10000));
    EXPECT_EQ(SPF_ASYNC | SPF_IS_NOT_XML, flags);
    EXPECT_EQ(2u, host::LoggedCalls(host::Call::Open).size()) << "the output is opened again";
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[2].span; }, 20000)) << "where it goes on";
    EXPECT_TRUE(host::OutputSnapshot().paused) << "the output opened again stays paused";
    host_->UnPause();
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(1, host_->EndOfFileCount()) << "the part cut off ends nothing";
    host_->Stop();
    EXPECT_EQ(MF_GRAYED, ChooseFromMenu(0, "Read from here").at(0).state) << "greyed while nothing plays";
    EXPECT_EQ(2, LogCount(L"Speak(") - LogCount(L"Speak(NULL"));
}

// The sample rate changed on the Voice page while a file plays: reading from a sentence opens the
// output again in the new format and gives it to the voice again, so the sound is in that format.
TEST_F(ReadingAlong, ReadFromHereAfterTheFormatChangedSpeaksInTheNewFormat) {
    const std::string text = "One sentence goes first. Another follows it here. The last is read in the new format.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_EQ(3u, sentences.size());
    const std::string path = MakeFile("format.txt", text);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));
    {
        sheet::ForegroundLock foreground;
        ASSERT_TRUE(sheet::WithSheet([&] { host_->Module()->Config(host_->MainWindow()); }, [](HWND sheet) {
            sheet::SelectRow(sheet::Control(sheet, sheet::VOICE_PAGE, SAMPLE_RATE_LIST), 2);  // 12 kHz
            sheet::PressOk(sheet);
        }));
    }
    ChooseFromMenu(sentences[2].span.start + 6, "Read from here");
    int flags = 0;
    const std::string rest = text.substr(sentences[2].span.start);
    ASSERT_TRUE(host_->PumpUntil([&] { return LastSpoken(&flags) == Wide(rest); }, 10000));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    const std::vector<host::HostCall> opens = host::LoggedCalls(host::Call::Open);
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ(12000, opens.back().args[0]) << "the output is opened again in the new format";
    EXPECT_EQ(L"SetOutput(PCM 12000 Hz 16 bit 1 ch)", LogLines(L"SetOutput(").back());
    const std::vector<unsigned char> expected =
        engine::RenderTone(Wide(rest), SLOW_RATE, engine::CurrentVoiceId(), PcmFormat(12000, 16, 1));
    EXPECT_TRUE(expected == engine::DeliveredPcm(engine::LastStreamNumber())) << "the voice speaks in the new format";
}

// In markup the elements open at the sentence (a voice and a rate here) are opened again before it.
TEST_F(ReadingAlong, ReadFromHereInMarkupReopensTheOpenElements) {
    const std::string markup = "<speak><voice required=\"Gender=Male\"><rate speed=\"-2\">The first sentence here. "
                               "The second sentence there.</rate></voice> And a third.</speak>";
    const std::vector<Heard> sentences = SentencesOf(markup, true);
    ASSERT_EQ(3u, sentences.size());
    const std::string path = MakeFile("here.xml", markup);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));
    ChooseFromMenu(sentences[1].span.start + 5, "Read from here");
    int flags = 0;
    const std::string rest = markup.substr(markup.find("The second"));
    EXPECT_TRUE(host_->PumpUntil(
        [&] { return LastSpoken(&flags) == Wide("<speak><voice required=\"Gender=Male\"><rate speed=\"-2\">" + rest); },
        10000));
    EXPECT_EQ(SPF_ASYNC | SPF_IS_XML, flags);
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[1].span; }, 20000));
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[2].span; }, 20000));
}

// Continue where I stopped, turned on from the menu: a file stopped, or left playing when the player
// quit, starts at the sentence heard last, in this player and in the next one, also after a write of
// the places file was cut short.
TEST_F(ReadingAlong, ContinuesWhereStoppedAfterStopQuitAndANewPlayer) {
    std::string story;
    for (int n = 1; n <= 6; ++n) story += "Sentence number " + std::to_string(n) + " of the book goes here. ";
    const std::vector<Heard> sentences = SentencesOf(story, false);
    const std::string path = MakeFile("book.txt", story);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    EXPECT_EQ(0u, ChooseFromMenu(0, "Continue where I stopped").at(2).state);
    EXPECT_EQ(MF_CHECKED, ChooseFromMenu(0, nullptr).at(2).state);

    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
    host_->Stop();
    ASSERT_EQ(0, host_->Play(path));
    int flags = 0;
    EXPECT_EQ(Wide(story.substr(sentences[1].span.start)), LastSpoken(&flags)) << "after Stop";
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[1].span; }, 20000));
    ASSERT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[3].span; }, 20000));
    EXPECT_EQ("1", IniValue(IniAfterQuit(), "ResumeFiles"));

    // The next player: the settings and places the last one left, and a write of the places cut short.
    const std::string ini = host_->ReadIni(), places = host::ReadWholeFile(PlacesFile()), texts = folder_;
    host_.reset();
    host::HostOptions options = WithSettings(ini);
    options.output.drain = host::DrainMode::Clock;
    ASSERT_NO_FATAL_FAILURE(LoadPlugin(options));
    ASSERT_TRUE(host::WriteWholeFile(PlacesFile(), places));
    ASSERT_TRUE(host::WriteWholeFile(PlacesFile() + ".new", places.substr(0, places.size() / 2)));
    host_->Init();
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(Wide(story.substr(sentences[3].span.start)), LastSpoken(&flags)) << "after Quit, in a new player";
    host_->Stop();
    host::RemoveFolderTree(texts);
}

// The book's place is kept by what is heard, whatever the window shows meanwhile: looking at another
// file's text while the book plays does not freeze it.
TEST_F(ReadingAlong, PlaceIsKeptWhileAnotherFilesTextIsShown) {
    std::string story;
    for (int n = 1; n <= 6; ++n) story += "Sentence number " + std::to_string(n) + " of the book goes here. ";
    const std::vector<Heard> sentences = SentencesOf(story, false);
    const std::string path = MakeFile("kept.txt", story), other = MakeFile("other.txt", "Another file's text.");
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ChooseFromMenu(0, "Continue where I stopped");
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
    host_->Module()->InfoBox(const_cast<char*>(other.c_str()), host_->MainWindow());
    ASSERT_TRUE(host_->PumpUntil([&] { return Played() > sentences[4].startMs; }, 20000));
    host_->Stop();
    ASSERT_EQ(0, host_->Play(path));
    int flags = 0;
    EXPECT_EQ(Wide(story.substr(sentences[4].span.start)), LastSpoken(&flags)) << "continued where it was heard";
    host_->Stop();
}

// A file that another program holds open for writing is read as the voice reads it: the window shows
// its text (not the one before) and reading from a place speaks it.
TEST_F(ReadingAlong, ReadFromHereSpeaksAFileOthersWriteNotTheOneBefore) {
    const std::string before = MakeFile("before.txt", "The text before. It stays behind.");
    const std::string text = "Written while it plays. Read from here on. To the end.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    const std::string path = MakeFile("written.txt", text);
    host_->Module()->InfoBox(const_cast<char*>(before.c_str()), host_->MainWindow());
    ScopedHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.IsValid());
    ASSERT_EQ(0, host_->Play(path));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[0]));
    EXPECT_EQ(Wide(text), ControlText(Text(), GT_DEFAULT));
    ChooseFromMenu(sentences[1].span.start + 3, "Read from here");
    int flags = 0;
    EXPECT_TRUE(host_->PumpUntil([&] { return LastSpoken(&flags) == Wide(text.substr(sentences[1].span.start)); }, 10000));
    host_->Stop();
}

// The voice is given the file's own text from a place on, also past what the window shows: a book
// longer than the window's limit, continued just before that limit.
TEST_F(ReadingAlong, ContinuingPastWhatTheWindowShowsGivesTheFilesOwnText) {
    std::string book;
    for (int n = 0; book.size() < MAX_SHOWN_TEXT_UNITS + (64u << 10); ++n)
        book += "Sentence " + std::to_string(n) + " of the long book.\r\n";
    const size_t place = book.rfind("Sentence", MAX_SHOWN_TEXT_UNITS - 100);
    const std::string path = MakeFile("past.txt", book);
    ChooseFromMenu(0, "Continue where I stopped");
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file));
    const unsigned long long written =
        (static_cast<unsigned long long>(file.ftLastWriteTime.dwHighDateTime) << 32) | file.ftLastWriteTime.dwLowDateTime;
    ASSERT_TRUE(host::WriteWholeFile(PlacesFile(), std::to_string(place) + " " + std::to_string(book.size()) + " " +
                                                       std::to_string(written) + " " + path + "\r\n"));
    ASSERT_EQ(0, host_->Play(path));
    std::wstring given;
    ASSERT_TRUE(host_->PumpUntil(
        [&] {
            given.clear();
            for (const std::wstring& call : LogLines(L"Speak(")) {
                const size_t flags = call.rfind(L", 17)");
                if (flags != std::wstring::npos) given += call.substr(6, flags - 6);
            }
            return place + given.size() > MAX_SHOWN_TEXT_UNITS + 1000;
        },
        20000));
    EXPECT_TRUE(Wide(book.substr(place, given.size())) == given) << "the voice is given the book from its place";
    host_->Stop();
}

// With documents played, an EPUB is its text: titled by its metadata, shown and spoken as one text in
// reading order, followed sentence by sentence, and continued where it was stopped.
TEST_F(ReadingAlong, EpubIsShownSpokenFollowedAndContinued) {
    ClosePlayer();
    host::HostOptions options = WithSettings("[in_txt]\r\nRate=-10\r\nDocuments=1\r\nResumeFiles=1\r\n");
    options.output.drain = host::DrainMode::Clock;
    ASSERT_NO_FATAL_FAILURE(LoadAndInit(options));
    window_ = FindTextInfoWindow();
    std::string paragraphs[2], text;
    for (int n = 1; n <= 6; ++n) paragraphs[n / 4] += "Sentence number " + std::to_string(n) + " of the book goes here. ";
    const std::string chapters[2] = {"<html><body><h1>Chapter One</h1><p>" + paragraphs[0] + "</p></body></html>",
                                     "<html><body><h1>Chapter Two</h1><p>" + paragraphs[1] + "</p></body></html>"};
    for (int i = 0; i < 2; ++i) {
        paragraphs[i].pop_back();  // the space after the last sentence is no text
        text += std::string(i ? "\r\n\r\n" : "") + (i ? "Chapter Two" : "Chapter One") + "\r\n\r\n" + paragraphs[i];
    }
    const std::string path = MakeFile("book.epub", books::Epub("The Story", "Ann Author", {chapters[0], chapters[1]}));
    SetWindowPos(window_, nullptr, 0, 0, 460, 240, SWP_NOMOVE | SWP_NOZORDER);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    char title[MAX_PATH] = "";
    host_->Module()->GetFileInfo(const_cast<char*>(path.c_str()), title, nullptr);
    EXPECT_STREQ("Ann Author - The Story", title);

    const std::vector<engine::TextEvent> events = engine::ToneSentenceEvents(
        std::vector<unsigned char>(text.begin(), text.end()), false, SLOW_RATE, SOUND);
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_GE(sentences.size(), 4u);
    ASSERT_EQ(0, host_->Play(path));

    int flags = 0;
    EXPECT_EQ(Wide(text), LastSpoken(&flags));
    EXPECT_TRUE(host_->PumpUntil([&] { return ControlText(Text(), GT_USECRLF) == Wide(text); }, 20000)) << "shown";
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[2]));
    host_->Pause();
    RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);  // painted for the README's picture
    sheet::SaveScreenshot("epub-reading", window_);
    host_->Stop();
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(Wide(text.substr(events[2].position)), LastSpoken(&flags)) << "continued";
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[2].span; }, 20000));
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences[3].span; }, 20000)) << "followed on";
    host_->Stop();
}

// A file changed since its place was kept starts from its top; one heard to its end is forgotten.
TEST_F(ReadingAlong, ChangedFileOrOneHeardToItsEndStartsFromTheTop) {
    const std::string story = "One sentence to start. Another follows it. A third ends it.";
    const std::vector<Heard> sentences = SentencesOf(story, false);
    const std::string path = MakeFile("changes.txt", story);
    host_->Module()->InfoBox(const_cast<char*>(path.c_str()), host_->MainWindow());
    ChooseFromMenu(0, "Continue where I stopped");
    const auto playStopAtSecond = [&] {
        ASSERT_EQ(0, host_->Play(path));
        ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
        host_->Stop();
    };
    int flags = 0;
    ASSERT_NO_FATAL_FAILURE(playStopAtSecond());
    ASSERT_TRUE(host::WriteWholeFile(path, story + " More."));
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(L"Speak(" + Wide(path) + L", 21)", LogLines(L"Speak(").back().substr(0, path.size() + 11)) << "changed";
    host_->Stop();

    ASSERT_TRUE(host::WriteWholeFile(path, story));
    ASSERT_NO_FATAL_FAILURE(playStopAtSecond());
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(Wide(story.substr(sentences[1].span.start)), LastSpoken(&flags)) << "kept";
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    host_->Stop();
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(L"Speak(" + Wide(path) + L", 21)", LogLines(L"Speak(").back().substr(0, path.size() + 11)) << "heard";
}

// Every kind of line end, and characters outside the basic plane: for each row, the text the window
// selects is the sentence the voice reports, as the control holds it.
struct LineEndCase {
    const char* name;
    std::wstring text;
    bool asUtf8 = false;  // the file holds UTF-8 without a mark; the voice is given its decoded text
};

std::string Utf8Bytes(const std::wstring& text) {
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

TEST_F(ReadingAlong, SelectedTextIsTheReportedSentenceWhateverTheLineEnds) {
    const auto sentences = [](const wchar_t* a, const wchar_t* b, const wchar_t* c) {
        return std::wstring(L"First comes this one.") + a + L"Second sentence starts now." + b +
               L"Third \U0001F600 goes on." + c + L"Last words here.";
    };
    const LineEndCase cases[] = {
        {"CR LF", sentences(L"\r\n", L"\r\n", L"\r\n")},     {"CR CR LF", sentences(L"\r\r\n", L"\r\r\n", L"\r\r\n")},
        {"lone CR", sentences(L"\r", L"\r", L"\r")},         {"lone LF", sentences(L"\n", L"\n", L"\n")},
        {"mixed", sentences(L"\r\r\n", L"\n\r", L"\r\r\r\n")}, {"blank lines", sentences(L"\r\n\r\n", L"\n\n", L" ")},
        {"UTF-8", L"Premi\u00E8re phrase, \u201Cici\u201D.\r\nDeuxi\u00E8me \u00E0 venir.\r\nTroisi\u00E8me \U0001F600 "
                  L"suit.\r\nFin \u2014 enfin.",
         true},
    };
    // What the control makes of a text: the window's text must read the same.
    HWND reference = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE, 0, 0, 300, 200, nullptr, nullptr,
                                     nullptr, nullptr);
    ASSERT_NE(nullptr, reference);
    const auto asControlHolds = [&](const std::wstring& text) {
        SETTEXTEX set = {ST_DEFAULT, 1200};
        SendMessageW(reference, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set), reinterpret_cast<LPARAM>(text.c_str()));
        return ControlText(reference, GT_DEFAULT);
    };
    for (const LineEndCase& c : cases) {
        std::string bytes = "\xFF\xFE";
        for (wchar_t unit : c.text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        const std::vector<engine::TextEvent> events =
            engine::ToneSentenceEvents(std::vector<unsigned char>(bytes.begin(), bytes.end()), false, SLOW_RATE, SOUND);
        ASSERT_EQ(4u, events.size()) << c.name;
        ASSERT_EQ(0, host_->Play(MakeFile("ends.txt", c.asUtf8 ? Utf8Bytes(c.text) : bytes))) << c.name;
        for (size_t k = 1; k < events.size(); ++k) {
            const std::wstring expected = asControlHolds(c.text.substr(events[k].position, events[k].length));
            EXPECT_TRUE(host_->PumpUntil([&] { return ControlText(Text(), GT_SELECTION) == expected; }, 20000))
                << c.name << ", sentence " << k << ": selected \"" << Narrow(ControlText(Text(), GT_SELECTION))
                << "\", reported \"" << Narrow(expected) << "\"";
        }
        host_->Stop();
    }
    DestroyWindow(reference);
}

// A paragraph of thousands of characters is shown in lines broken at blanks: each heard sentence is
// still selected exactly, and a copy from the window gives the file's text.
TEST_F(ReadingAlong, LongOneLineTextIsSelectedExactlyAndCopiedAsItIs) {
    const auto sentence = [](const char* start, int words) {
        std::string text = start;
        for (int i = 0; i < words; ++i) text += " and on";
        return text + ".";
    };
    const std::string text = sentence("The first sentence goes", 100) + " " + sentence("The second goes", 90) + " " +
                             sentence("The last one ends", 20);
    const std::vector<Heard> sentences = SentencesOf(text, false);
    ASSERT_GE(sentences.size(), 3u);
    ASSERT_EQ(0, host_->Play(MakeFile("one-line.txt", text)));
    for (const Heard& heard : sentences) {
        ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(heard));
        std::wstring selected = ControlText(Text(), GT_SELECTION);
        std::replace(selected.begin(), selected.end(), L'\r', L' ');  // a line shown ends at a blank
        EXPECT_EQ(Wide(text.substr(heard.span.start, heard.span.end - heard.span.start)), selected);
    }
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    host_->Stop();
    EXPECT_NE(std::wstring::npos, ControlText(Text(), GT_DEFAULT).find(L'\r')) << "shown in lines";

    SendMessageA(Text(), EM_SETSEL, 0, -1);
    SendMessageA(Text(), WM_COPY, 0, 0);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* copied = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    const std::wstring got = copied ? copied : L"<nothing>";
    if (copied) GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ(Wide(text), got);
}

// A book of four million characters: the start shows at once, and the whole of it in the end.
TEST_F(ReadingAlong, BookOfFourMillionUnitsIsShownWhole) {
    const std::string line = "A line of a very long book, read from its start to its end.\r\n";
    std::string book;
    while (book.size() + line.size() <= 4000000) book += line;
    const long lines = static_cast<long>(book.size() / line.size());
    const long whole = lines * static_cast<long>(line.size() - 1);  // each line break one character
    host_->Module()->InfoBox(const_cast<char*>(MakeFile("book.txt", book).c_str()), host_->MainWindow());
    GETTEXTLENGTHEX count = {GTL_NUMCHARS, 1200};
    const auto shown = [&] {
        return static_cast<long>(SendMessageA(Text(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&count), 0));
    };
    EXPECT_TRUE(host_->PumpUntil([&] { return shown() > 0; }, 10000)) << "the start of the text shows";
    ASSERT_TRUE(host_->PumpUntil([&] { return shown() >= whole; }, 100000)) << shown() << " of " << whole;
    EXPECT_EQ(whole, shown());

    // Its first, middle and last lines, each in its place.
    const long lineCharacters = static_cast<long>(line.size() - 1);
    const std::string expected = line.substr(0, line.size() - 2) + "\r";
    for (long at : {0L, lines / 2, lines - 1}) {
        std::string got(line.size() + 1, '\0');
        TEXTRANGEA range = {{at * lineCharacters, (at + 1) * lineCharacters}, &got[0]};
        SendMessageA(Text(), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(expected, got.c_str()) << "line " << at;
    }
}

}  // namespace

namespace {

// The player's seek bar on a text: the tone voice's even pace makes every time predictable.
class SeekBar : public ReadingAlong {
protected:
    void SetUp() override {
        host::HostOptions options =
            WithSettings("[in_txt]\r\nRate=" + std::to_string(SLOW_RATE) + "\r\nSeekable=1\r\n");
        options.output.drain = host::DrainMode::Clock;
        ASSERT_NO_FATAL_FAILURE(LoadAndInit(options));
        window_ = FindTextInfoWindow();
        ASSERT_NE(nullptr, window_);
        for (int n = 10; n < 40; ++n) book_ += "Sentence number " + std::to_string(n) + " of the book goes here. ";
        sentences_ = SentencesOf(book_, false);
        ASSERT_EQ(30u, sentences_.size());
        path_ = MakeFile("seek.txt", book_);
        host_->Module()->InfoBox(const_cast<char*>(path_.c_str()), host_->MainWindow());
    }
    void Seek(long ms) { host_->Module()->SetOutputTime(static_cast<int>(ms)); }
    // The voice was last given the book from sentence k.
    bool SpeaksFrom(size_t k) {
        int flags = 0;
        return LastSpoken(&flags).compare(0, 40, Wide(book_.substr(sentences_[k].span.start, 40))) == 0;
    }
    int LastFlush() const {
        const std::vector<host::HostCall> flushes = host::LoggedCalls(host::Call::Flush);
        return flushes.empty() ? -1 : flushes.back().args[0];
    }

    std::string book_, path_;
    std::vector<Heard> sentences_;
};

// Back to a heard sentence: exactly its start, and the player's clock shows the time it was heard.
TEST_F(SeekBar, SeekBackLandsOnTheHeardSentenceAndTheClockShowsItsTime) {
    ASSERT_EQ(0, host_->Play(path_));
    EXPECT_EQ(1, host_->Module()->is_seekable);
    ASSERT_TRUE(host_->PumpUntil([&] { return Played() > sentences_[5].startMs; }, 20000));
    EXPECT_GT(host_->Module()->GetLength(), sentences_[5].startMs);
    Seek(sentences_[2].startMs + 60);
    ASSERT_TRUE(host_->PumpUntil([&] { return SpeaksFrom(2); }, 10000));
    EXPECT_EQ(sentences_[2].startMs, LastFlush()) << "the clock goes on from the sentence's time";
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences_[2].span; }, 20000));
    EXPECT_EQ(1u, host::LoggedCalls(host::Call::Open).size()) << "the output stays open";
    host_->Stop();
}

// Forward, past what was heard: the sentence the pace measured so far puts there.
TEST_F(SeekBar, SeekForwardLandsOnTheEstimatedSentence) {
    ASSERT_EQ(0, host_->Play(path_));
    ASSERT_TRUE(host_->PumpUntil([&] { return Played() > sentences_[20].startMs; }, 20000));
    Seek(sentences_[27].startMs + 40);
    ASSERT_TRUE(host_->PumpUntil([&] { return SpeaksFrom(27); }, 10000)) << Narrow(LogLines(L"Speak(").back());
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences_[27].span; }, 20000));
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(1, host_->EndOfFileCount()) << "the part cut off ends nothing";
    host_->Stop();
}

// A paused file stays paused at its new place; of many seeks in a row, the last one wins.
TEST_F(SeekBar, SeeksWhilePausedStayPausedAndTheLastOfManyWins) {
    ASSERT_EQ(0, host_->Play(path_));
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences_[1]));
    host_->Pause();
    for (int k = 0; k < 20; ++k) {
        Seek(sentences_[(k * 7) % 30].startMs + 10);
        host_->PumpMessages(50);
    }
    const size_t last = (19 * 7) % 30;
    ASSERT_TRUE(host_->PumpUntil([&] { return SpeaksFrom(last); }, 10000));
    EXPECT_EQ(sentences_[last].startMs, LastFlush());
    const int spoken = LogCount(L"Speak(");
    host_->PumpMessages(300);
    EXPECT_EQ(spoken, LogCount(L"Speak(")) << "no earlier seek speaks after the last";
    EXPECT_TRUE(host::OutputSnapshot().paused);
    EXPECT_EQ(1, host_->Module()->IsPaused());
    host_->UnPause();
    EXPECT_TRUE(host_->PumpUntil([&] { return Selection() == sentences_[last].span; }, 20000));
    host_->Stop();
}

// With the seek bar off (the default) a text has no length and cannot be sought.
TEST_F(ReadingAlong, WithoutTheSeekBarATextHasNoLengthAndIsNotSought) {
    const std::string text = "One sentence here. Another one there. And a third.";
    const std::vector<Heard> sentences = SentencesOf(text, false);
    const std::string path = MakeFile("still.txt", text);
    ASSERT_EQ(0, host_->Play(path));
    EXPECT_EQ(0, host_->Module()->is_seekable);
    EXPECT_EQ(-1000, host_->Module()->GetLength());
    int length = 0;
    host_->Module()->GetFileInfo(const_cast<char*>(path.c_str()), nullptr, &length);
    EXPECT_EQ(-1000, length);
    ASSERT_NO_FATAL_FAILURE(ExpectSelectedInTime(sentences[1]));
    const int spoken = LogCount(L"Speak(");
    host_->Module()->SetOutputTime(0);
    ASSERT_TRUE(host_->WaitForEndOfFile(20000));
    EXPECT_EQ(spoken, LogCount(L"Speak("));
    EXPECT_TRUE(host::LoggedCalls(host::Call::Flush).empty());
    host_->Stop();
}

}  // namespace
