// Files and settings a user (or a broken disk) can hand the plug-in: empty, binary, huge, half a mark,
// locked, missing, with long or non-ASCII names; and plugin.ini files edited by hand or damaged. The
// plug-in neither crashes nor hangs, shows and speaks what the rules give, and keeps working after.
#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "infowindow/text_decoding.h"
#include "tests/plugin/named_lock.h"
#include "base/scoped.h"
#include "tests/plugin/text_info_probe.h"
#include "tests/plugin/plugin_fixture.h"
#include "tests/book_files.h"

namespace {

constexpr DWORD CALL_BOUND_MS = 10000;

// What the Text info window shows of a file that is not UTF-16: its ANSI text up to the first 0 byte.
std::wstring ShownAsAnsi(const std::string& bytes) {
    return Wide(bytes.c_str());
}

class HostileInput : public PluginTest {
protected:
    void LoadWithInfoWindow(host::HostOptions options = DefaultOptions()) {
        LoadAndInit(options);
        infoWindow_ = FindTextInfoWindow();
        ASSERT_NE(nullptr, infoWindow_);
    }

    // The Text info window's text, whole, as UTF-16.
    std::wstring ShownText() const {
        HWND text = GetDlgItem(infoWindow_, INFO_TEXT);
        GETTEXTLENGTHEX length = {GTL_NUMCHARS | GTL_PRECISE, 1200};
        LRESULT units = SendMessageW(text, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
        std::wstring shown(static_cast<size_t>(units) + 1, L'\0');
        GETTEXTEX request = {static_cast<DWORD>(shown.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
        SendMessageW(text, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(&shown[0]));
        shown.resize(lstrlenW(shown.c_str()));
        return shown;
    }

    int TimedPlay(const std::string& path) {
        DWORD start = GetTickCount();
        int result = host_->Play(path);
        EXPECT_LT(GetTickCount() - start, CALL_BOUND_MS) << "Play of " << path;
        return result;
    }

    // Stop, a Play of an ordinary file to its end, and start-up's undoing all still work.
    void ExpectStillWorking() {
        DWORD start = GetTickCount();
        host_->Stop();
        EXPECT_LT(GetTickCount() - start, CALL_BOUND_MS) << "Stop";
        ASSERT_NO_FATAL_FAILURE(PlayToEnd(MakeFile("after.txt", "Still speaking.")));
        EXPECT_EQ(L"Still speaking.", ShownText());
        host_->Quit();
        host_->Unload();
        ExpectEngineObjectsGivenBack();
    }

    HWND infoWindow_ = nullptr;
};

struct FileCase {
    const char* name;
    const char* fileName;
    std::string bytes;
    std::wstring shown;  // the Text info window's text after Play
    // The voice is given the decoded text (UTF-8, big-endian UTF-16), not the file's name, which a
    // voice reads only as UTF-16 little-endian or ANSI.
    bool givenAsText = false;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

std::string Garbage() {
    std::mt19937 random(7);
    std::string bytes(4096, '\0');
    // No 0 byte until the one at 3000; no line breaks, which the control keeps in its own form, and no
    // blanks, where the window breaks a long paragraph into display lines.
    for (char& byte : bytes) {
        do byte = static_cast<char>(random() % 255 + 1);
        while (byte == '\r' || byte == '\n' || byte == ' ' || byte == '\t');
    }
    bytes[3000] = '\0';
    return bytes;
}

size_t FirstDifference(const std::wstring& a, const std::wstring& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
}

class HostileFiles : public HostileInput, public ::testing::WithParamInterface<FileCase> {};

// Each file is spoken to its end (whatever its bytes say) and shown by the rules: UTF-16 after FF FE
// or FE FF with an odd last byte dropped, UTF-8 after EF BB BF or when all its bytes are UTF-8 with a
// multi-byte sequence among them, anything else as ANSI text up to the first 0 byte. The voice is
// given what the window shows.
TEST_P(HostileFiles, AreSpokenToTheirEndAndShownByTheRules) {
    const FileCase& c = GetParam();
    LoadWithInfoWindow();
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    std::string path = MakeFile(c.fileName, c.bytes);
    ASSERT_EQ(0, TimedPlay(path));
    EXPECT_TRUE(host_->WaitForEndOfFile(20000));
    std::wstring shown = ShownText();
    EXPECT_TRUE(c.shown == shown) << "shown " << shown.size() << " units, expected " << c.shown.size()
                                  << "; first difference at " << FirstDifference(c.shown, shown);
    const bool markup = std::string(c.fileName).find(".xml") != std::string::npos;
    const std::wstring given = c.givenAsText ? L"Speak(" + c.shown + (markup ? L", 9)" : L", 17)")
                                             : L"Speak(" + Wide(path) + (markup ? L", 13)" : L", 21)");
    EXPECT_EQ(1, LogCount(given)) << "the voice was not given " << Narrow(given);
    EXPECT_EQ(0u, boxes.Count());
    ExpectStillWorking();
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFiles,
    ::testing::Values(FileCase{"Empty", "empty.txt", "", L""},
                      FileCase{"Utf16MarkOnly", "mark.txt", "\xFF\xFE", L""},
                      FileCase{"OneByte", "one.txt", "\xFF", ShownAsAnsi("\xFF")},
                      FileCase{"OddLengthUtf16", "odd.txt", std::string("\xFF\xFEh\0i\0!", 7), L"hi"},
                      FileCase{"BigEndianUtf16", "be.txt", std::string("\xFE\xFF\0h\0i\x04\x1F!", 9), L"hi\u041F", true},
                      FileCase{"Utf8Mark", "utf8.txt", "\xEF\xBB\xBFhello", L"hello", true},
                      FileCase{"Utf8WithoutMark", "curly.xml", "<speak>caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D</speak>",
                               L"<speak>caf\u00E9 \u201Cquoted\u201D</speak>", true},
                      FileCase{"Utf8MarkThenABadByte", "bad.txt", "\xEF\xBB\xBF" "a\xFF" "b", L"a\uFFFDb", true},
                      FileCase{"InvalidUtf8IsAnsi", "mixed.txt", "caf\xC3\xA9 na\xEFve", ShownAsAnsi("caf\xC3\xA9 na\xEFve")},
                      FileCase{"AsciiIsAnsi", "ascii.txt", "plain words", L"plain words"},
                      FileCase{"BinaryGarbage", "garbage.txt", Garbage(), ShownAsAnsi(Garbage())},
                      FileCase{"MarkupThatIsNotWellFormed", "broken.xml", "<speak><voice <<&&& text</", 
                               L"<speak><voice <<&&& text</"},
                      FileCase{"Latin1Name", "Gr\xFC\xDF" "e caf\xE9.txt", "Gr\xFC\xDF" "e", ShownAsAnsi("Gr\xFC\xDF" "e")}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// Files the voice cannot open: a failure of Speak, reported once with its code; the window keeps
// the text it had, because the file could not be read there either.
class UnreadableFiles : public HostileInput {
    NamedTestLock clipboard_{"in_txt_tests_clipboard"};
};

TEST_F(UnreadableFiles, MissingFileIsReportedAsSpeakFailure) {
    LoadWithInfoWindow();
    ASSERT_EQ(0, host_->Play(MakeFile("before.txt", "Before.")));
    ASSERT_TRUE(host_->WaitForEndOfFile(10000));
    host_->Stop();
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    EXPECT_EQ(-1, TimedPlay(folder_ + "\\not there.txt"));
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    EXPECT_EQ("Error result 80070002, facility 7, code 2, line 648", boxes.Seen()[0].text);
    EXPECT_EQ(L"Before.", ShownText());
    ExpectStillWorking();
    EXPECT_EQ(1u, boxes.Count());
}

TEST_F(UnreadableFiles, FileLockedByAnotherProgramIsReportedAsSpeakFailure) {
    LoadWithInfoWindow();
    std::string path = MakeFile("locked.txt", "Locked words.");
    ScopedHandle lock(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    EXPECT_EQ(-1, TimedPlay(path));
    ASSERT_TRUE(boxes.WaitForCount(1, 5000));
    EXPECT_EQ("Error result 80070020, facility 7, code 32, line 648", boxes.Seen()[0].text);
    EXPECT_EQ(L"", ShownText());
    lock.Reset();
    ExpectStillWorking();
}

// A protected book and a damaged one, with documents played: each refused by Play with a box that
// names the file and what is wrong, small or read off the player's thread; the player goes on.
TEST_F(UnreadableFiles, ProtectedOrDamagedBooksAreReportedByName) {
    LoadWithInfoWindow(WithSettings("[in_txt]\r\nDocuments=1\r\n"));
    std::vector<books::ZipItem> items = books::EpubItems("T", "A", {"<p>Secret words.</p>"});
    items.push_back({"META-INF/rights.xml", "<rights/>"});
    // Stored, not deflated: larger than what Play reads on its own thread.
    std::vector<books::ZipItem> large = books::EpubItems("T", "A", {"<p>" + std::string(600 << 10, 'x') + "</p>"}, false);
    large.back().wrongChecksum = true;
    const struct {
        std::string path, message;
        int play;  // a book read here fails Play; one read off the thread starts, then ends the file
    } table[] = {
        {MakeFile("locked.epub", books::Zip(items)), "This book is protected by DRM and cannot be read aloud", -1},
        {MakeFile("broken.epub", books::Zip(large)), "The file is damaged: an entry fails its checksum", 0},
    };
    for (const auto& book : table) {
        SCOPED_TRACE(book.path);
        host::MessageBoxWatcher boxes({"Text Speech Error"});
        EXPECT_EQ(book.play, TimedPlay(book.path));
        ASSERT_TRUE(boxes.WaitForCount(1, 10000));
        EXPECT_EQ(book.path + "\n\n" + book.message, boxes.Seen()[0].text);
        if (book.play == 0) {
            EXPECT_TRUE(host_->WaitForEndOfFile(10000));
        }
        host_->Stop();
    }
    ExpectStillWorking();
}

TEST_F(HostileInput, PathOfThreeHundredCharactersIsRefusedQuietly) {
    LoadWithInfoWindow();
    host::MessageBoxWatcher boxes({"Text Speech Error"});
    EXPECT_EQ(-1, TimedPlay(folder_ + "\\" + std::string(300, 'n') + ".txt"));
    host_->PumpMessages(200);
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_EQ(0, LogCount(L"Speak("));
    ExpectStillWorking();
}

// A name outside the ANSI code page reaches the player only as its short (8.3) name.
TEST_F(HostileInput, NameOutsideTheCodePageIsPlayedByItsShortName) {
    LoadWithInfoWindow();
    std::wstring wide = Wide(folder_) + L"\\\u0422\u0435\u043A\u0441\u0442 \u03BA\u03B5\u03AF.txt";
    {
        ScopedHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.IsValid());
        DWORD written = 0;
        WriteFile(file.Get(), "Short name.", 11, &written, nullptr);
    }
    wchar_t shortName[MAX_PATH] = {};
    DWORD length = GetShortPathNameW(wide.c_str(), shortName, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    char ansi[MAX_PATH] = {};
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, 0, shortName, -1, ansi, MAX_PATH, nullptr, &lost);
    ASSERT_FALSE(lost) << "the short name is plain ASCII";
    ASSERT_EQ(0, TimedPlay(ansi));
    EXPECT_TRUE(host_->WaitForEndOfFile(10000));
    EXPECT_EQ(L"Short name.", ShownText());
    ExpectStillWorking();
}

// What the voice was given in pieces of plain text, in order and joined.
std::wstring JoinedPlainPieces(const std::vector<std::wstring>& calls, size_t* pieces) {
    std::wstring joined;
    *pieces = 0;
    for (const std::wstring& call : calls) {
        const size_t flags = call.rfind(L", 17)");
        if (call.compare(0, 6, L"Speak(") != 0 || flags == std::wstring::npos) continue;
        joined += call.substr(6, flags - 6);
        ++*pieces;
    }
    return joined;
}

// A long UTF-8 book is read off the player's thread and given to the voice in pieces that end at
// sentence ends: all of it, in order, with one end of file. Stopped between pieces, nothing more of it
// is given, and the next file works as ever.
TEST_F(HostileInput, LongUtf8BookIsGivenInPiecesWholeAndInOrderWithOneEnd) {
    LoadWithInfoWindow();
    const std::string line = "Caf\xC3\xA9 \xE2\x80\x9Cnoir\xE2\x80\x9D is spoken here. And so is this!\r\n";
    std::string bytes;
    while (bytes.size() < (300u << 10)) bytes += line;
    std::wstring text(bytes.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                    static_cast<int>(text.size())));
    const std::string path = MakeFile("book-utf8.txt", bytes);
    ASSERT_EQ(0, TimedPlay(path));
    ASSERT_TRUE(host_->WaitForEndOfFile(120000)) << "the book is heard to its end";
    size_t pieces = 0;
    EXPECT_TRUE(JoinedPlainPieces(LogLines(L"Speak("), &pieces) == text) << "the pieces do not make the book";
    EXPECT_GT(pieces, 2u);
    EXPECT_EQ(1, host_->EndOfFileCount());
    host_->Stop();

    const int before = LogCount(L"Speak(");
    ASSERT_EQ(0, TimedPlay(path));
    ASSERT_TRUE(host_->PumpUntil([&] { return LogCount(L"Speak(") >= before + 2; }, 20000)) << "a second piece is queued";
    host_->Stop();
    const int given = LogCount(L"Speak(");
    host_->PumpMessages(300);  // what a piece the voice had already taken would lead to
    EXPECT_EQ(given, LogCount(L"Speak(")) << "nothing is given after Stop";
    EXPECT_EQ(1, host_->EndOfFileCount());
    ExpectStillWorking();
}

// 50 MB of text: the voice starts on it, the window shows its start at once and fills on from the
// player's message loop, and Stop ends it. The long form waits for the whole of what the window shows,
// which ends with the note of how much it does not.
TEST_F(HostileInput, FiftyMegabyteFileIsShownWholeAndStopsAtOnce) {
    host::HostOptions options = DefaultOptions();
    options.recordEngineOutput = false;
    LoadWithInfoWindow(options);
    host::SetRecordWrittenBytes(false);
    host::SetCallLogging(false);  // a million chunks: the test's record of them is not what is tested
    const std::string line = "All work and no play makes a long text file.\r\n";
    std::string bytes;
    bytes.reserve(50u << 20);
    while (bytes.size() + line.size() <= (50u << 20)) bytes += line;
    std::string path = MakeFile("huge.txt", bytes);
    ASSERT_EQ(0, TimedPlay(path));
    EXPECT_TRUE(host_->PumpUntil([] { return host::OutputSnapshot().written > 0; }, 10000)) << "the voice starts";
    EXPECT_EQ(0, host_->EndOfFileCount());
    const auto shown = [&] {
        GETTEXTLENGTHEX length = {GTL_NUMCHARS, 1200};
        return static_cast<long>(SendMessageW(GetDlgItem(infoWindow_, INFO_TEXT), EM_GETTEXTLENGTHEX,
                                              reinterpret_cast<WPARAM>(&length), 0));
    };
    EXPECT_TRUE(host_->PumpUntil([&] { return shown() > 0; }, 10000)) << "the start of the text shows";

    const char* stress = std::getenv("IN_TXT_STRESS");
    if (stress && std::string(stress) == "long") {
        // The control keeps each line break as one character.
        const std::string shownPart = bytes.substr(0, MAX_SHOWN_TEXT_UNITS);
        long lineBreaks = 0;
        for (size_t at = shownPart.find("\r\n"); at != std::string::npos; at = shownPart.find("\r\n", at + 2))
            ++lineBreaks;
        const long whole = static_cast<long>(MAX_SHOWN_TEXT_UNITS) - lineBreaks;
        const std::string note = "\r\r[" + std::to_string(bytes.size() - MAX_SHOWN_TEXT_UNITS) +
                                 " more characters are not shown here.]";
        ASSERT_TRUE(host_->PumpUntil([&] { return shown() >= whole + static_cast<long>(note.size()); }, 100000));
        std::string end(note.size() + 1, '\0');
        TEXTRANGEA range = {{whole, whole + static_cast<long>(note.size())}, &end[0]};
        SendMessageA(GetDlgItem(infoWindow_, INFO_TEXT), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(note, end.c_str());
    }
    ExpectStillWorking();
}

// A long file whose reading fails after its start is shown, as memory that runs out on the reading
// thread or a read of the file that fails (both injected): the player runs on, the file plays, and the
// window keeps the start with a closing line that says the rest could not be read.
TEST_F(HostileInput, FailedReadAfterTheStartKeepsTheStartAndSaysSo) {
    host::HostOptions options = DefaultOptions();
    options.recordEngineOutput = false;
    const std::string line = "A line of a file that cannot be read to its end.\r\n";
    std::string bytes;
    while (bytes.size() < (400u << 10)) bytes += line;
    const std::wstring closing = L"\r\r[The rest of the text could not be read.]";
    for (const char* failure : {"allocation", "read"}) {
        // The plug-in looks at the failure asked for once, when it starts.
        ASSERT_TRUE(SetEnvironmentVariableA("IN_TXT_TEST_READER_FAILURE", failure));
        ClosePlayer();
        LoadWithInfoWindow(options);
        ASSERT_EQ(0, TimedPlay(MakeFile(std::string(failure) + ".txt", bytes))) << failure;
        EXPECT_TRUE(host_->PumpUntil([] { return host::OutputSnapshot().written > 0; }, 10000)) << failure;
        const auto closed = [&] {
            const std::wstring shown = ShownText();
            return shown.size() > closing.size() && shown.compare(shown.size() - closing.size(), closing.size(), closing) == 0;
        };
        EXPECT_TRUE(host_->PumpUntil(closed, 20000)) << failure << ": " << ShownText().size() << " units shown";
        const std::wstring shown = ShownText();
        const std::wstring start = shown.substr(0, shown.size() - closing.size());
        std::wstring lines;
        while (lines.size() < start.size()) lines += Wide(line.substr(0, line.size() - 2)) + L"\r";
        EXPECT_GT(start.size(), 2048u) << failure << ": the whole start is kept";
        EXPECT_EQ(lines.substr(0, start.size()), start) << failure;
        host_->Stop();
    }
    // A UTF-8 file, which the plug-in decodes for the voice: what was read is spoken, and the failed
    // read is said, not taken for the text's end; also when the read failed before Play returned (a
    // short file is read on the player's thread).
    const std::string shortBytes = bytes.substr(0, 128u << 10);
    for (const std::string* utf8 : {static_cast<const std::string*>(&bytes), &shortBytes}) {
        host::MessageBoxWatcher boxes({"Text Speech Error"});
        ASSERT_EQ(0, TimedPlay(MakeFile("read-utf8.txt", "\xEF\xBB\xBF" + *utf8)));
        ASSERT_TRUE(boxes.WaitForCount(1, 20000)) << utf8->size();
        EXPECT_EQ("Error result 8007001E, facility 7, code 30, line 648", boxes.Seen()[0].text);
        EXPECT_TRUE(host_->WaitForEndOfFile(60000)) << "what was read is spoken to its end";
        host_->Stop();
    }
    SetEnvironmentVariableA("IN_TXT_TEST_READER_FAILURE", nullptr);
    ClosePlayer();
    LoadWithInfoWindow(options);
    ExpectStillWorking();
}

}  // namespace

namespace {

// ---- plugin.ini edited by hand or damaged ------------------------------------------------------------

class HostileSettings : public HostileInput {
protected:
    // Plays a short file and checks the output was opened in a format of the table and the voice got a
    // rate of its range.
    void ExpectPlaysInATableFormat() {
        ASSERT_NO_FATAL_FAILURE(PlayShortText());
        auto opens = host::LoggedCalls(host::Call::Open);
        ASSERT_EQ(1u, opens.size());
        const intptr_t rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
        EXPECT_NE(std::end(rates), std::find(std::begin(rates), std::end(rates), opens[0].args[0]));
        EXPECT_TRUE(opens[0].args[1] == 1 || opens[0].args[1] == 2) << opens[0].args[1];
        EXPECT_TRUE(opens[0].args[2] == 8 || opens[0].args[2] == 16) << opens[0].args[2];
        long rate = engine::CurrentRate();
        EXPECT_TRUE(rate >= -10 && rate <= 10) << rate;
    }
    // After Quit the stored modes are rows of their tables and the rate is in range.
    void ExpectSavedValuesInRange() {
        const std::string ini = host_->IniPath();
        int rate = IniInt(ini, "SampleRateMode"), bits = IniInt(ini, "BitsPerSampleMode"),
            channels = IniInt(ini, "NumChannelsMode"), speed = IniInt(ini, "Rate");
        EXPECT_TRUE(rate >= 0 && rate < 9) << rate;
        EXPECT_TRUE(bits == 0 || bits == 1) << bits;
        EXPECT_TRUE(channels == 0 || channels == 1) << channels;
        EXPECT_TRUE(speed >= -10 && speed <= 10) << speed;
    }
};

struct GarbageCase {
    const char* name;
    const char* value;
};

void PrintTo(const GarbageCase& c, std::ostream* os) { *os << c.name; }

class GarbageSettingValues : public HostileSettings, public ::testing::WithParamInterface<GarbageCase> {};

// The same text in every numeric key: whatever the platform's reader makes of it, the plug-in plays in a
// format of its table and stores values in range.
TEST_P(GarbageSettingValues, PlayInATableFormatAndAreStoredInRange) {
    const std::string v = GetParam().value;
    LoadWithInfoWindow(WithSettings("[in_txt]\r\nSampleRateMode=" + v + "\r\nBitsPerSampleMode=" + v +
                                    "\r\nNumChannelsMode=" + v + "\r\nRate=" + v + "\r\nUseHotKey=" + v +
                                    "\r\nHotKey=" + v + "\r\n"));
    ExpectPlaysInATableFormat();
    host_->Quit();
    ExpectSavedValuesInRange();
    int hotKey = IniInt(host_->IniPath(), "HotKey");
    EXPECT_TRUE(hotKey >= 0 && hotKey <= 0xFFFF) << hotKey;
}

INSTANTIATE_TEST_SUITE_P(
    Values, GarbageSettingValues,
    ::testing::Values(GarbageCase{"Letters", "abc"}, GarbageCase{"Empty", ""}, GarbageCase{"NumberThenText", "7x"},
                      GarbageCase{"Hex", "0x7FFFFFFF"}, GarbageCase{"Huge", "99999999999999999999"},
                      GarbageCase{"HugeNegative", "-99999999999999999999"}, GarbageCase{"MinInt", "-2147483648"},
                      GarbageCase{"Spaces", "   12   "}, GarbageCase{"Binary", "\x01\x7F\xFF\xFE"}),
    [](const ::testing::TestParamInfo<GarbageCase>& info) { return std::string(info.param.name); });

// A VoiceID longer than the reader's buffer is not taken: the first voice speaks, and the value is
// rewritten only as what the plug-in holds (no voice chosen: the line goes).
TEST_F(HostileSettings, VoiceIdOfSixHundredBytesIsIgnored) {
    LoadWithInfoWindow(WithSettings("[in_txt]\r\nVoiceID=" + std::string(600, 'V') + "\r\n"));
    ExpectPlaysInATableFormat();
    EXPECT_EQ(0, LogCount(L"SetVoice("));
    host_->Quit();
    char value[16] = {};
    GetPrivateProfileStringA("in_txt", "VoiceID", "(missing)", value, sizeof value, host_->IniPath().c_str());
    EXPECT_STREQ("(missing)", value);
}

// Four megabytes of other plug-ins' sections around ours: read, used, and saved with every other
// section's keys and values as they were.
TEST_F(HostileSettings, HugeFileIsReadAndSavedWithTheOtherSectionsKept) {
    std::string ini;
    for (int i = 0; i < 45000; ++i) {
        ini += "[other" + std::to_string(i) + "]\r\nname=plug-in number " + std::to_string(i) +
               "\r\npath=C:\\Program Files\\Player\\Plugins\\other.dll\r\nlevel=" + std::to_string(i % 97) + "\r\n";
        if (i == 22500) ini += "[in_txt]\r\nSampleRateMode=3\r\nNumChannelsMode=1\r\nRate=4\r\n";
    }
    ASSERT_GT(ini.size(), 4u << 20);
    LoadWithInfoWindow(WithSettings(ini));
    const std::string path = host_->IniPath();
    const std::string first = IniSection(path, "other0"), middle = IniSection(path, "other22500"),
                      last = IniSection(path, "other44999");
    ASSERT_NO_FATAL_FAILURE(PlayShortText());
    auto opens = host::LoggedCalls(host::Call::Open);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(16000, opens[0].args[0]);
    EXPECT_EQ(2, opens[0].args[1]);
    EXPECT_EQ(4, engine::CurrentRate());

    host_->Quit();
    EXPECT_EQ(first, IniSection(path, "other0"));
    EXPECT_EQ(middle, IniSection(path, "other22500"));
    EXPECT_EQ(last, IniSection(path, "other44999"));
    EXPECT_EQ(3, IniInt(path, "SampleRateMode"));
    EXPECT_EQ(4, IniInt(path, "Rate"));
    std::string names(8 << 20, '\0');
    DWORD length = GetPrivateProfileSectionNamesA(&names[0], static_cast<DWORD>(names.size()), path.c_str());
    EXPECT_EQ(45001, std::count(names.begin(), names.begin() + length, '\0'));
}

}  // namespace
