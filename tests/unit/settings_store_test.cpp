// The settings store against real plugin.ini files, read and written by the platform's profile functions.
#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "settings/plugin_settings.h"

namespace {

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Narrow(const wchar_t* text) {
    if (!text) return "(none)";
    char bytes[2048];
    WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

// Each test gets a folder of its own with a plugin.ini in it, not yet created.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "in_txt_settings_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        path_ = folder_ + "plugin.ini";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    void Load(const std::string& contents) {
        WriteWholeFile(path_, contents);
        ReadSettingsFile(path_.c_str());
    }
    std::string Save() {
        WriteSettingsFile(path_.c_str());
        return ReadWholeFile(path_);
    }
    std::string Value(const char* key) {
        char value[1024];
        GetPrivateProfileStringA("in_txt", key, "(missing)", value, sizeof value, path_.c_str());
        return value;
    }

    std::string folder_;
    std::string path_;
};

std::string Repeated(char c, size_t count) { return std::string(count, c); }

}  // namespace

// ---- Where the file is ----

TEST(SettingsPath, ModuleInPluginsFolderUsesThatFolder) {
    char out[MAX_PATH];
    ASSERT_TRUE(SettingsPathForModule("C:\\Player\\Plugins\\in_txt.dll", out));
    EXPECT_STREQ("C:\\Player\\Plugins\\plugin.ini", out);
}

TEST(SettingsPath, ExecutableInAnyCaseLeadsToItsPluginsFolder) {
    char out[MAX_PATH];
    ASSERT_TRUE(SettingsPathForModule("C:\\Player\\player.EXE", out));
    EXPECT_STREQ("C:\\Player\\Plugins\\plugin.ini", out);
    ASSERT_TRUE(SettingsPathForModule("C:\\Player\\player.exe", out));
    EXPECT_STREQ("C:\\Player\\Plugins\\plugin.ini", out);
    // Only the last three characters count, not the dot.
    ASSERT_TRUE(SettingsPathForModule("C:\\Player\\playerExE", out));
    EXPECT_STREQ("C:\\Player\\Plugins\\plugin.ini", out);
    ASSERT_TRUE(SettingsPathForModule("C:\\Player\\player.exe.dll", out));
    EXPECT_STREQ("C:\\Player\\plugin.ini", out);
}

TEST(SettingsPath, ShortAndBareNames) {
    char out[MAX_PATH];
    ASSERT_TRUE(SettingsPathForModule("in_txt.dll", out));
    EXPECT_STREQ("plugin.ini", out);
    ASSERT_TRUE(SettingsPathForModule("xe", out));
    EXPECT_STREQ("plugin.ini", out);
    ASSERT_TRUE(SettingsPathForModule("exe", out));
    EXPECT_STREQ("Plugins\\plugin.ini", out);
    ASSERT_TRUE(SettingsPathForModule("C:\\", out));
    EXPECT_STREQ("C:\\plugin.ini", out);
}

TEST(SettingsPath, ResultThatDoesNotFitGivesNoPath) {
    char out[MAX_PATH];
    // Folder of 249 characters + "plugin.ini" (10) = 259 characters: the longest that fits.
    const std::string fits = "C:\\" + Repeated('d', 245) + "\\";
    ASSERT_EQ(249u, fits.size());
    ASSERT_TRUE(SettingsPathForModule((fits + "in_txt.dll").c_str(), out));
    EXPECT_EQ(fits + "plugin.ini", out);

    const std::string tooLong = "C:\\" + Repeated('d', 246) + "\\";
    out[0] = 'x';
    EXPECT_FALSE(SettingsPathForModule((tooLong + "in_txt.dll").c_str(), out));
    EXPECT_STREQ("", out);

    // An executable's path needs the 8 more characters of "Plugins\".
    const std::string exeFolder = "C:\\" + Repeated('e', 238) + "\\";
    EXPECT_FALSE(SettingsPathForModule((exeFolder + "player.exe").c_str(), out));
    EXPECT_STREQ("", out);
    ASSERT_TRUE(SettingsPathForModule((exeFolder + "player.dll").c_str(), out));
    EXPECT_EQ(exeFolder + "plugin.ini", out);
}

TEST(SettingsPath, RealModuleHandles) {
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    std::string expected(exe);
    expected = expected.substr(0, expected.rfind('\\') + 1) + "Plugins\\plugin.ini";

    LocateSettingsFile(GetModuleHandleA(nullptr));
    EXPECT_EQ(expected, SettingsFilePath);

    // A handle the system does not know gives no name, so no path.
    LocateSettingsFile(reinterpret_cast<HINSTANCE>(0x12340000));
    EXPECT_STREQ("", SettingsFilePath);
}

// ---- Reading and writing ----

TEST_F(SettingsFile, NoFileGivesDefaultsAndTheSaveCreatesSixKeysInOrder) {
    ASSERT_FALSE(FileExists(path_));
    ReadSettingsFile(path_.c_str());
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(1, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(0, PluginSettings.NumChannelsMode);
    EXPECT_EQ(0, PluginSettings.Rate);
    EXPECT_FALSE(PluginSettings.VoiceID.IsSet());
    EXPECT_TRUE(PluginSettings.UseHotKey);
    EXPECT_EQ(851, PluginSettings.HotKey);

    EXPECT_EQ("[in_txt]\r\n"
              "SampleRateMode=8\r\n"
              "BitsPerSampleMode=1\r\n"
              "NumChannelsMode=0\r\n"
              "Rate=0\r\n"
              "UseHotKey=1\r\n"
              "HotKey=851\r\n",
              Save());
}

TEST_F(SettingsFile, StoredValuesAreReadAndWrittenBack) {
    Load("[in_txt]\r\nSampleRateMode=3\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
         "VoiceID=HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Anna\r\n"
         "UseHotKey=0\r\nHotKey=1601\r\n");
    EXPECT_EQ(3, PluginSettings.SampleRateMode);
    EXPECT_EQ(0, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(1, PluginSettings.NumChannelsMode);
    EXPECT_EQ(-7, PluginSettings.Rate);
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Anna", Narrow(PluginSettings.VoiceID.Get()));
    EXPECT_FALSE(PluginSettings.UseHotKey);
    EXPECT_EQ(1601, PluginSettings.HotKey);

    DeleteFileA(path_.c_str());
    EXPECT_EQ("[in_txt]\r\n"
              "SampleRateMode=3\r\n"
              "BitsPerSampleMode=0\r\n"
              "NumChannelsMode=1\r\n"
              "Rate=-7\r\n"
              "VoiceID=HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Anna\r\n"
              "UseHotKey=0\r\n"
              "HotKey=1601\r\n",
              Save());
}

TEST_F(SettingsFile, HotKeyKeepsItsLowSixteenBitsAndUseHotKeyAnyNonZero) {
    Load("[in_txt]\r\nHotKey=70000\r\nUseHotKey=5\r\n");
    EXPECT_EQ(4464, PluginSettings.HotKey);
    EXPECT_TRUE(PluginSettings.UseHotKey);
    Save();
    EXPECT_EQ("4464", Value("HotKey"));
    EXPECT_EQ("1", Value("UseHotKey"));

    Load("[in_txt]\r\nHotKey=65535\r\nUseHotKey=-1\r\n");
    EXPECT_EQ(65535, PluginSettings.HotKey);
    EXPECT_TRUE(PluginSettings.UseHotKey);
    Save();
    EXPECT_EQ("65535", Value("HotKey"));
}

TEST_F(SettingsFile, ModesOutsideTheirTablesFallBackToTheDefaults) {
    Load("[in_txt]\r\nSampleRateMode=9\r\nBitsPerSampleMode=2\r\nNumChannelsMode=-1\r\n");
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(1, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(0, PluginSettings.NumChannelsMode);

    Load("[in_txt]\r\nSampleRateMode=-1\r\nBitsPerSampleMode=-5\r\nNumChannelsMode=2\r\n");
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(1, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(0, PluginSettings.NumChannelsMode);

    // The edges of each table are kept.
    Load("[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\n");
    EXPECT_EQ(0, PluginSettings.SampleRateMode);
    EXPECT_EQ(0, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(1, PluginSettings.NumChannelsMode);
}

TEST_F(SettingsFile, RateOutsideTheVoiceRangeIsClamped) {
    Load("[in_txt]\r\nRate=15\r\n");
    EXPECT_EQ(10, PluginSettings.Rate);
    Load("[in_txt]\r\nRate=-70000\r\n");
    EXPECT_EQ(-10, PluginSettings.Rate);
    Load("[in_txt]\r\nRate=-10\r\n");
    EXPECT_EQ(-10, PluginSettings.Rate);
}

TEST_F(SettingsFile, VoiceIdUpTo510BytesIsTakenLongerOrEmptyIsIgnored) {
    const std::string id510 = "HKEY_LOCAL_MACHINE\\" + Repeated('v', 491);
    ASSERT_EQ(510u, id510.size());
    Load("[in_txt]\r\nVoiceID=" + id510 + "\r\n");
    EXPECT_EQ(id510, Narrow(PluginSettings.VoiceID.Get()));

    PluginSettings.VoiceID.Release();
    Load("[in_txt]\r\nVoiceID=" + id510 + "w\r\n");
    EXPECT_FALSE(PluginSettings.VoiceID.IsSet());
    Load("[in_txt]\r\nVoiceID=" + Repeated('x', 900) + "\r\n");
    EXPECT_FALSE(PluginSettings.VoiceID.IsSet());
    Load("[in_txt]\r\nVoiceID=\r\n");
    EXPECT_FALSE(PluginSettings.VoiceID.IsSet());
}

TEST_F(SettingsFile, IgnoredVoiceIdKeepsTheVoiceHeldBefore) {
    PluginSettings.VoiceID.AssignAnsi("Earlier");
    Load("[in_txt]\r\nVoiceID=\r\n");
    EXPECT_EQ("Earlier", Narrow(PluginSettings.VoiceID.Get()));
    Load("[in_txt]\r\nVoiceID=" + Repeated('x', 511) + "\r\n");
    EXPECT_EQ("Earlier", Narrow(PluginSettings.VoiceID.Get()));
}

TEST_F(SettingsFile, VoiceIdRoundTripsThroughTheAnsiCodePage) {
    ASSERT_EQ(1252u, GetACP()) << "the bytes below are written for code page 1252";
    // "Zoë" and "Ångström" with their bytes in code page 1252.
    const std::string stored = "Tokens\\Zo\xEB-\xC5ngstr\xF6m";
    Load("[in_txt]\r\nVoiceID=" + stored + "\r\n");
    ASSERT_TRUE(PluginSettings.VoiceID.IsSet());
    EXPECT_EQ(std::wstring(L"Tokens\\Zo\u00EB-\u00C5ngstr\u00F6m"), PluginSettings.VoiceID.Get());
    DeleteFileA(path_.c_str());
    Save();
    EXPECT_EQ(stored, Value("VoiceID"));
}

// The platform's writer rewrites the whole file in its own canonical form (no blank lines, no blanks
// around '='), so the files here are written in that form: then every byte outside "in_txt" is kept.
TEST_F(SettingsFile, SavingWithoutVoiceRemovesTheLineAndKeepsOtherSections) {
    const std::string head = "[Winamp]\r\noutname=out_wave.dll\r\n";
    const std::string tail = "[in_mp3]\r\nvolume=50\r\nVoiceID=not ours\r\n";
    WriteWholeFile(path_, head + "[in_txt]\r\nSampleRateMode=2\r\nVoiceID=Tokens\\Old\r\nHotKey=851\r\n" + tail);
    ReadSettingsFile(path_.c_str());
    ASSERT_EQ("Tokens\\Old", Narrow(PluginSettings.VoiceID.Get()));
    PluginSettings.VoiceID.Release();
    const std::string after = Save();

    EXPECT_EQ("(missing)", Value("VoiceID"));
    EXPECT_EQ("2", Value("SampleRateMode"));
    EXPECT_EQ(std::string::npos, after.find("Tokens\\Old")) << after;
    EXPECT_EQ(0u, after.find(head + "[in_txt]\r\n")) << after;
    ASSERT_GE(after.size(), tail.size());
    EXPECT_EQ(tail, after.substr(after.size() - tail.size())) << after;
}

TEST_F(SettingsFile, OtherSectionsOfTheSharedFileStayByteForByte) {
    const std::string others =
        "; Player settings\r\n"
        "[Winamp]\r\n"
        "outname=out_ds.dll\r\n"
        "Rate=3\r\n"
        "[in_vorbis]\r\n"
        ";tuned by hand\r\n"
        "HotKey=70000\r\n"
        "SampleRateMode=99\r\n";
    WriteWholeFile(path_, others);
    ReadSettingsFile(path_.c_str());
    EXPECT_EQ(8, PluginSettings.SampleRateMode);  // another section's key is not ours
    EXPECT_EQ(0, PluginSettings.Rate);
    EXPECT_EQ(851, PluginSettings.HotKey);
    const std::string after = Save();
    EXPECT_EQ(others + "[in_txt]\r\n", after.substr(0, others.size() + 10)) << after;
}

TEST_F(SettingsFile, HandFormattedSectionsKeepTheirKeysAndValues) {
    WriteWholeFile(path_, "[Winamp]\r\n outname = out_ds.dll \r\n\r\n[in_txt]\r\nExtra=kept\r\nRate = 4\r\n\r\n"
                          "[gen_ml]\r\nquoted=\"a b\"\r\n");
    ReadSettingsFile(path_.c_str());
    EXPECT_EQ(4, PluginSettings.Rate);
    Save();
    char value[64];
    GetPrivateProfileStringA("Winamp", "outname", "", value, sizeof value, path_.c_str());
    EXPECT_STREQ("out_ds.dll", value);
    GetPrivateProfileStringA("gen_ml", "quoted", "", value, sizeof value, path_.c_str());
    EXPECT_STREQ("a b", value);
    EXPECT_EQ("kept", Value("Extra"));
    EXPECT_EQ("4", Value("Rate"));
}

// ---- Load and save through the module handle ----

TEST(SettingsModule, NoPathGivesDefaultsAndTheSaveWritesNothing) {
    char winIni[MAX_PATH];
    GetWindowsDirectoryA(winIni, MAX_PATH);
    lstrcatA(winIni, "\\win.ini");
    const std::string winIniBefore = ReadWholeFile(winIni);

    PluginSettings.HotKey = 0;
    LoadSettings(reinterpret_cast<HINSTANCE>(0x12340000));
    EXPECT_STREQ("", SettingsFilePath);
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(851, PluginSettings.HotKey);
    EXPECT_TRUE(PluginSettings.UseHotKey);

    PluginSettings.Rate = 4;
    SaveSettings();
    char value[16];
    GetPrivateProfileStringA("in_txt", "Rate", "(missing)", value, sizeof value, "plugin.ini");
    EXPECT_STREQ("(missing)", value);
    GetPrivateProfileStringA("in_txt", "Rate", "(missing)", value, sizeof value, "win.ini");
    EXPECT_STREQ("(missing)", value);
    EXPECT_EQ(winIniBefore, ReadWholeFile(winIni));
}

TEST(SettingsModule, SaveBeforeAnyLoadWritesNothing) {
    ASSERT_STREQ("", SettingsFilePath);
    SaveSettings();
    char value[16];
    GetPrivateProfileStringA("in_txt", "HotKey", "(missing)", value, sizeof value, "plugin.ini");
    EXPECT_STREQ("(missing)", value);
}
