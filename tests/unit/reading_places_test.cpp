// Reading from a place: where the sentence holding a position starts, the elements of speech markup
// open there, and the file of remembered places.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/scoped.h"
#include "infowindow/reading_start.h"
#include "playback/remembered_places.h"
#include "tests/test_support.h"

namespace {

struct StartCase {
    const wchar_t* text;
    const wchar_t* at;      // the position: the first occurrence of this
    const wchar_t* starts;  // what the text reads from the sentence's start
    bool markup;
};

TEST(ReadingStart, SentenceStartIsWhereTheVoiceStartsTheSentence) {
    const StartCase cases[] = {
        {L"One here. Two there! Three?", L"there", L"Two there! Three?", false},
        {L"One here. Two there! Three?", L"One", L"One here. Two there! Three?", false},
        {L"  Lead in. Next", L"Lead", L"Lead in. Next", false},
        {L"He said \"stop.\" Then went.", L"went", L"Then went.", false},
        {L"Version 2.5 is out. Yes", L"out", L"Version 2.5 is out. Yes", false},
        {L"A title\r\n\r\nBody text goes on", L"goes", L"Body text goes on", false},
        {L"One line\r\nand its next", L"next", L"One line\r\nand its next", false},
        {L"After the end.   ", L"  ", L"After the end.   ", false},
        {L"<speak>One.</emph> <rate speed=\"2\">Two is here.</rate></speak>", L"is", L"Two is here.</rate></speak>", true},
        {L"<speak><p>Tag.<emph>x</emph> y</p></speak>", L"y<", L"Tag.<emph>x</emph> y</p></speak>", true},
        {L"One line\r\r\nand its next", L"next", L"One line\r\r\nand its next", false},
        {L"A title\r\r\n\r\r\nBody", L"Body", L"Body", false},
        {L"<speak>A <!-- a > b. c --> d. Here</speak>", L"d.", L"A <!-- a > b. c --> d. Here</speak>", true},
        {L"<speak>Salt &amp; pepper. Here</speak>", L"pepper", L"Salt &amp; pepper. Here</speak>", true},
    };
    for (const StartCase& c : cases) {
        const std::wstring text = c.text;
        const size_t start = SentenceStartAt(text.c_str(), text.size(), text.find(c.at), c.markup);
        EXPECT_EQ(c.starts, text.substr(start)) << "at \"" << std::string(c.at, c.at + wcslen(c.at)) << "\"";
    }
}

TEST(ReadingStart, ElementsOpenAtAPlaceAreOpenedAgainInOrder) {
    const struct {
        const wchar_t* markup;
        const wchar_t* prefix;
    } cases[] = {
        {L"<speak><voice required=\"Gender=Male\"><rate speed=\"-2\">Here",
         L"<speak><voice required=\"Gender=Male\"><rate speed=\"-2\">"},
        {L"<?xml version=\"1.0\"?><speak><!-- <emph> --><silence msec=\"9\"/><pitch middle=\"5\">a</pitch><emph>Here",
         L"<speak><emph>"},
        {L"<volume level=\"50\"><lang langid=\"408\"><emph>x</EMPH></lang>Here", L"<volume level=\"50\">"},
        {L"<voice a=\"1\"><rate speed=\"3\">x</voice>Here", L""},  // an end tag closes what is open inside it
        {L"</rate>Here", L""},
        // Empty elements that change the voice hold until their enclosing element ends.
        {L"<speak><p><rate absspeed=\"5\"/><silence msec=\"9\"/>x</p><volume level=\"50\"/><s>"
         L"<voice required=\"Age=30\"/>Here",
         L"<speak><volume level=\"50\"/><s><voice required=\"Age=30\"/>"},
        {L"<speak><rate speed=\"2\">a<pitch middle=\"1\"/></rate><!-- <lang langid=\"9\"/> -> -->Here",
         L"<speak>"},
    };
    for (const auto& c : cases) {
        const std::wstring markup = c.markup;
        EXPECT_EQ(c.prefix, OpenElementsAt(markup.c_str(), markup.find(L"Here"))) << markup.size();
        // Found going forward in steps, as for a text given in pieces, the elements are the same at
        // every step, also one that ends inside a tag.
        OpenElementTracker tracker;
        for (size_t step = 1; step <= markup.size(); step += 3) {
            tracker.Advance(markup.c_str(), step);
            EXPECT_EQ(OpenElementsAt(markup.c_str(), step), tracker.Prefix(markup.c_str())) << markup.size() << " at " << step;
        }
    }
}

TEST(ReadingStart, VoicePositionsShiftBackIntoTheText) {
    const std::wstring markup = L"<speak><rate speed=\"-2\">One. Two</rate></speak>";
    const ReadingStart start = ReadingStartAt(markup.c_str(), markup.size(), markup.find(L"Two"), true);
    const std::wstring speech = SpeechFrom(markup.c_str(), markup.size(), start);
    EXPECT_EQ(L"<speak><rate speed=\"-2\">Two</rate></speak>", speech);
    EXPECT_EQ(markup.find(L"Two"), speech.find(L"Two") + start.Shift());
    // The control holds "a\r\nb" as "a\rb": its position 2 is the text's 3.
    EXPECT_EQ(3u, TextPositionOf({2}, 2));
    EXPECT_EQ(1u, TextPositionOf({2}, 1));
    EXPECT_EQ(6u, TextPositionOf({2, 5}, 4));
}

TEST(RememberedPlaces, FileTextRoundTripsAndSurvivesDamage) {
    std::vector<RememberedPlace> places;
    PutPlaceFirst(places, {"C:\\b.txt", 20, 7, 5});
    PutPlaceFirst(places, {"C:\\a.txt", 10, 9, 3});
    PutPlaceFirst(places, {"c:\\B.TXT", 21, 8, 6});  // the same file, newer place
    const std::string text = FormatPlaces(places);
    EXPECT_EQ("6 21 8 c:\\B.TXT\r\n3 10 9 C:\\a.txt\r\n", text);
    ASSERT_EQ(2u, ParsePlaces(text).size());
    EXPECT_EQ(6u, FindPlace(ParsePlaces(text), "C:\\b.txt")->position);

    // A write cut short, and lines that are not places, lose only themselves.
    EXPECT_EQ(1u, ParsePlaces(text.substr(0, text.size() - 5)).size());
    const std::vector<RememberedPlace> kept =
        ParsePlaces("garbage\r\n\x01\x02 3 4\r\n9 1 2 C:\\c.txt\r\n-1 2 3 C:\\d.txt\r\n1 2 C:\\e.txt\r\n" + text);
    ASSERT_EQ(3u, kept.size());
    EXPECT_EQ("C:\\c.txt", kept[0].file);
    EXPECT_TRUE(DropPlace(places, "C:\\A.txt"));
    EXPECT_FALSE(DropPlace(places, "C:\\A.txt"));
    for (int n = 0; n < 250; ++n) PutPlaceFirst(places, {"C:\\" + std::to_string(n), 1, 1, 1});
    EXPECT_EQ(MAX_REMEMBERED_PLACES, ParsePlaces(FormatPlaces(places)).size());
    EXPECT_EQ("C:\\249", places.front().file);
}

// ---- The places file ----
// A fresh folder in the temporary folder, its name padded to any length; made in the long-path form.
std::string MakeTempFolder(const char* name, size_t padding) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = temp + (name + std::to_string(GetCurrentProcessId())) + std::string(padding, 'd');
    CreateDirectoryW(Wide("\\\\?\\" + folder).c_str(), nullptr);
    return folder;
}

void RemoveFolder(const std::string& folder) {
    const std::wstring whole = Wide("\\\\?\\" + folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((whole + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        DeleteFileW((whole + L"\\" + found.cFileName).c_str());
    FindClose(search);
    RemoveDirectoryW(whole.c_str());
}

// "<folder>\<player><n>.txt", made empty when `make`.
std::string TextFile(const std::string& folder, char player, int n, bool make = false) {
    const std::string path = folder + "\\" + player + std::to_string(n) + ".txt";
    if (make) ScopedHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return path;
}
// The players start together: each says it is ready, then waits for the word to go.
std::string SignalName(const char* kind, const std::string& folder) { return kind + folder.substr(folder.rfind('\\') + 1); }

TEST(RememberedPlaces, NamesCompareAsTheFileSystemDoesAndAPlacesPathMayBeLong) {
    EXPECT_TRUE(SameFileName("C:\\Caf\xC9.txt", "c:\\caf\xE9.TXT", 1252));
    EXPECT_FALSE(SameFileName("C:\\\x83\x41.txt", "C:\\\x83\x61.txt", 932));  // katakana A and DI
    EXPECT_TRUE(SameFileName("C:\\\x83\x41.txt", "c:\\\x83\x41.TXT", 932));

    const std::string folder = MakeTempFolder("in_txt_long_places_", 220);  // the places file's path passes MAX_PATH
    const std::string played = TextFile(folder.substr(0, folder.rfind('\\')), 'p', GetCurrentProcessId(), true);
    UsePlacesFile((folder + "\\" + PLACES_FILE_NAME).c_str());
    RememberPlace(played.c_str(), 7);
    uint32_t position = 0;
    EXPECT_TRUE(RememberedPlaceOf(played.c_str(), &position) && position == 7);
    RemoveFolder(folder);
    DeleteFileA(played.c_str());
}

// Two players (this program run twice more) keep places of files of their own in one file at once.
TEST(RememberedPlaces, TwoPlayersKeepingPlacesAtOnceLoseNone) {
    constexpr int EACH = 60;
    char role[MAX_PATH + 1] = {};  // in a player: its letter, then the folder
    if (GetEnvironmentVariableA("IN_TXT_PLACES_PLAYER", role, sizeof role)) {
        const std::string folder(role + 1);
        UsePlacesFile((folder + "\\" + PLACES_FILE_NAME).c_str());
        ScopedHandle ready(OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, SignalName("ready", folder).c_str()));
        ScopedHandle go(OpenEventA(SYNCHRONIZE, FALSE, SignalName("go", folder).c_str()));
        ReleaseSemaphore(ready.Get(), 1, nullptr);
        WaitForSingleObject(go.Get(), 30000);
        for (int n = 0; n < EACH; ++n) RememberPlace(TextFile(folder, role[0], n).c_str(), n + 1);
        return;
    }
    const std::string folder = MakeTempFolder("in_txt_two_players_", 0);
    ScopedHandle ready(CreateSemaphoreA(nullptr, 0, 2, SignalName("ready", folder).c_str()));
    ScopedHandle go(CreateEventA(nullptr, TRUE, FALSE, SignalName("go", folder).c_str()));
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string command = "\"" + std::string(program) + "\" --gtest_filter=RememberedPlaces.TwoPlayers*";
    std::vector<ScopedHandle> players;
    for (char player : {'a', 'b'}) {
        for (int n = 0; n < EACH; ++n) TextFile(folder, player, n, true);
        SetEnvironmentVariableA("IN_TXT_PLACES_PLAYER", (player + folder).c_str());
        STARTUPINFOA startup = {sizeof startup};
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
        CloseHandle(started.hThread);
        players.emplace_back(started.hProcess);
    }
    SetEnvironmentVariableA("IN_TXT_PLACES_PLAYER", nullptr);
    for (int started = 0; started < 2; ++started) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    SetEvent(go.Get());
    for (ScopedHandle& player : players) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(player.Get(), 60000));
    UsePlacesFile((folder + "\\" + PLACES_FILE_NAME).c_str());
    int kept = 0;
    uint32_t position = 0;
    for (int n = 0; n < 2 * EACH; ++n)
        kept += RememberedPlaceOf(TextFile(folder, "ab"[n / EACH], n % EACH).c_str(), &position) && position == n % EACH + 1u;
    EXPECT_EQ(2 * EACH, kept);
    RemoveFolder(folder);
}

}  // namespace
