// Reading along: the Text info window of the real in_txt.dll selects the sentence the output is
// playing, as the tone voice's predictable boundaries and a real-time output let a test know it; and
// it holds a whole book.
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "engine/speech_text.h"
#include "host/output_module.h"
#include "plugin_fixture.h"
#include "sheet_driver.h"
#include "text_info_probe.h"

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

    HWND window_ = nullptr;
};

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
