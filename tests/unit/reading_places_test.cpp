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

// A fresh folder in the temporary folder, given in the long-path form, which every call below takes.
std::wstring MakeTempFolder(const char* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = L"\\\\?\\" + std::wstring(temp) + Wide(name) + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring path = folder + L"\\" + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(path.c_str());
        else if (found.cFileName[0] != L'.') RemoveFolder(path);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    RemoveDirectoryW(folder.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file.IsValid() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A path of the folder as the plug-in is given one: without the long-path form.
std::string Plain(const std::wstring& path) { return Narrow(path.substr(4)); }

TEST(RememberedPlaces, NamesCompareAsTheFileSystemDoesAndAPlacesPathMayBeLong) {
    const struct {
        const char* a;
        const char* b;
        unsigned codePage;
        bool same;
    } cases[] = {
        {"C:\\Caf\xC9.txt", "c:\\caf\xE9.TXT", 1252, true},
        {"C:\\\x83\x41.txt", "C:\\\x83\x61.txt", 932, false},  // katakana A and DI: trail bytes 'A' and 'a'
        {"C:\\\x83\x41.txt", "c:\\\x83\x41.TXT", 932, true},
    };
    for (const auto& c : cases) EXPECT_EQ(c.same, SameFileName(c.a, c.b, c.codePage)) << c.a << " " << c.b;

    // A plug-in folder so deep that the places file's path passes MAX_PATH.
    const std::wstring top = MakeTempFolder("in_txt_long_places_");
    std::wstring deep = top;
    for (int level = 0; level < 3; ++level) CreateDirectoryW((deep += L"\\" + std::wstring(90, L'd')).c_str(), nullptr);
    const std::string played = Plain(top) + "\\a.txt";
    ASSERT_TRUE(WriteFileBytes(Wide(played), "Text."));
    UsePlacesFile((Plain(deep) + "\\" + PLACES_FILE_NAME).c_str());
    RememberPlace(played.c_str(), 7);
    uint32_t position = 0;
    EXPECT_TRUE(RememberedPlaceOf(played.c_str(), &position));
    EXPECT_EQ(7u, position);
    UsePlacesFile("");
    RemoveFolder(top);
}

// Two players keep their places in one file at once (this program run twice more, as the players):
// each keeps places of files of its own, and none is lost.
TEST(RememberedPlaces, TwoPlayersKeepingPlacesAtOnceLoseNone) {
    constexpr int PLACES_EACH = 60;
    const char ROLE[] = "IN_TXT_PLACES_PLAYER";  // "<player> <folder>" in a player
    char role[MAX_PATH + 8] = {};
    if (GetEnvironmentVariableA(ROLE, role, sizeof role)) {
        const std::string folder = role + 2;
        UsePlacesFile((folder + "\\" + PLACES_FILE_NAME).c_str());
        ScopedHandle go(OpenEventA(SYNCHRONIZE, FALSE, ("in_txt_places_go_" + folder.substr(folder.size() - 6)).c_str()));
        WaitForSingleObject(go.Get(), 30000);
        for (int n = 0; n < PLACES_EACH; ++n)
            RememberPlace((folder + "\\" + role[0] + std::to_string(n) + ".txt").c_str(), n + 1);
        return;
    }
    const std::wstring folder = MakeTempFolder("in_txt_two_players_");
    const std::string plain = Plain(folder);
    for (char player : {'a', 'b'})
        for (int n = 0; n < PLACES_EACH; ++n)
            ASSERT_TRUE(WriteFileBytes(Wide(plain + "\\" + player + std::to_string(n) + ".txt"), "Text."));
    ScopedHandle go(CreateEventA(nullptr, TRUE, FALSE, ("in_txt_places_go_" + plain.substr(plain.size() - 6)).c_str()));
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string command = std::string("\"") + program + "\" --gtest_filter=RememberedPlaces.TwoPlayers*";
    std::vector<ScopedHandle> players;
    for (char player : {'a', 'b'}) {
        SetEnvironmentVariableA(ROLE, (std::string(1, player) + " " + plain).c_str());
        STARTUPINFOA startup = {sizeof startup};
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
        CloseHandle(started.hThread);
        players.emplace_back(started.hProcess);
    }
    SetEnvironmentVariableA(ROLE, nullptr);
    SetEvent(go.Get());
    for (ScopedHandle& player : players) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(player.Get(), 60000)) << "a player hung";
        DWORD code = 1;
        GetExitCodeProcess(player.Get(), &code);
        EXPECT_EQ(0u, code);
    }
    UsePlacesFile((plain + "\\" + PLACES_FILE_NAME).c_str());
    int kept = 0;
    for (char player : {'a', 'b'}) {
        for (int n = 0; n < PLACES_EACH; ++n) {
            uint32_t position = 0;
            kept += RememberedPlaceOf((plain + "\\" + player + std::to_string(n) + ".txt").c_str(), &position) &&
                    position == static_cast<uint32_t>(n + 1);
        }
    }
    EXPECT_EQ(2 * PLACES_EACH, kept);
    UsePlacesFile("");
    RemoveFolder(folder);
}

}  // namespace
