// The settings store against real plugin.ini files, read and written by the platform's profile functions.
#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/plugin_settings.h"
#include "voices/task_wide_string.h"
#include "tests/test_support.h"

namespace {

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char chunk[4096];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return bytes;
}

std::string PathFor(const std::string& moduleFileName) {
    char out[MAX_PATH] = "untouched";
    return SettingsPathForModule(moduleFileName.c_str(), out) ? out : "(none: " + std::string(out) + ")";
}

// Each test reads and writes a plugin.ini of its own.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "in_txt_plugin_" + std::to_string(GetCurrentProcessId()) + ".ini";
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    void Load(const std::string& contents) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(file);
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

    std::string path_;
};

}  // namespace

TEST(SettingsPath, FromTheModuleFileName) {
    EXPECT_EQ("C:\\Player\\Plugins\\plugin.ini", PathFor("C:\\Player\\Plugins\\in_txt.dll"));
    // Only the last three characters count, in any case, without looking for a dot.
    EXPECT_EQ("C:\\Player\\Plugins\\plugin.ini", PathFor("C:\\Player\\player.EXE"));
    EXPECT_EQ("C:\\Player\\Plugins\\plugin.ini", PathFor("C:\\Player\\playerExe"));
    EXPECT_EQ("C:\\Player\\plugin.ini", PathFor("C:\\Player\\player.exe.dll"));
    EXPECT_EQ("plugin.ini", PathFor("in_txt.dll"));
    EXPECT_EQ("plugin.ini", PathFor("xe"));
    EXPECT_EQ("Plugins\\plugin.ini", PathFor("exe"));

    // 249 characters of folder + "plugin.ini" is the longest path that fits 260 with its terminator.
    const std::string folder249 = "C:\\" + std::string(245, 'd') + "\\";
    EXPECT_EQ(folder249 + "plugin.ini", PathFor(folder249 + "in_txt.dll"));
    EXPECT_EQ("(none: )", PathFor("C:\\" + std::string(246, 'd') + "\\in_txt.dll"));
    EXPECT_EQ("(none: )", PathFor("C:\\" + std::string(238, 'e') + "\\player.exe")) << "8 more for Plugins\\";
}

TEST(SettingsPath, FromRealModuleHandles) {
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    const std::string name(exe);
    LocateSettingsFile(GetModuleHandleA(nullptr));
    EXPECT_EQ(name.substr(0, name.rfind('\\') + 1) + "Plugins\\plugin.ini", SettingsFilePath);

    // A handle with no file name gives no path, defaults, and a save that writes nothing anywhere.
    char winIni[MAX_PATH];
    GetWindowsDirectoryA(winIni, MAX_PATH);
    lstrcatA(winIni, "\\win.ini");
    const std::string winIniBefore = ReadWholeFile(winIni);
    PluginSettings.Rate = 5;
    LoadSettings(reinterpret_cast<HINSTANCE>(0x12340000));
    EXPECT_STREQ("", SettingsFilePath);
    EXPECT_EQ(0, PluginSettings.Rate);
    EXPECT_EQ(851, PluginSettings.HotKey);
    PluginSettings.Rate = 4;
    SaveSettings();
    char value[16];
    GetPrivateProfileStringA("in_txt", "Rate", "(missing)", value, sizeof value, "plugin.ini");
    EXPECT_STREQ("(missing)", value);
    EXPECT_EQ(winIniBefore, ReadWholeFile(winIni));
}

TEST_F(SettingsFile, HotKeyKeepsItsLowSixteenBitsUseHotKeyIsAnyNonZeroRateIsSigned) {
    Load("[in_txt]\r\nHotKey=70000\r\nUseHotKey=5\r\nRate=-7\r\n");
    EXPECT_EQ(4464, PluginSettings.HotKey);
    EXPECT_TRUE(PluginSettings.UseHotKey);
    EXPECT_EQ(-7, PluginSettings.Rate);
    Save();
    EXPECT_EQ("4464", Value("HotKey"));
    EXPECT_EQ("1", Value("UseHotKey"));
    EXPECT_EQ("-7", Value("Rate"));
}

TEST_F(SettingsFile, OutOfRangeModesFallBackToTheDefaultsAndTheRateIsClamped) {
    Load("[in_txt]\r\nSampleRateMode=9\r\nBitsPerSampleMode=2\r\nNumChannelsMode=-1\r\nRate=15\r\n");
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(1, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(0, PluginSettings.NumChannelsMode);
    EXPECT_EQ(10, PluginSettings.Rate);
    Load("[in_txt]\r\nSampleRateMode=-1\r\nBitsPerSampleMode=0\r\nNumChannelsMode=2\r\nRate=-70000\r\n");
    EXPECT_EQ(8, PluginSettings.SampleRateMode);
    EXPECT_EQ(0, PluginSettings.BitsPerSampleMode);
    EXPECT_EQ(0, PluginSettings.NumChannelsMode);
    EXPECT_EQ(-10, PluginSettings.Rate);
    Load("[in_txt]\r\nSampleRateMode=0\r\nNumChannelsMode=1\r\nRate=10\r\n");
    EXPECT_EQ(0, PluginSettings.SampleRateMode);
    EXPECT_EQ(1, PluginSettings.NumChannelsMode);
    EXPECT_EQ(10, PluginSettings.Rate);
}

TEST_F(SettingsFile, VoiceIdOfUpTo510BytesRoundTripsThroughTheAnsiCodePage) {
    ASSERT_EQ(1252u, GetACP()) << "the bytes below are written for code page 1252";
    const std::string id510 = "Tokens\\Zo\xEB-\xC5ngstr\xF6m" + std::string(491, 'v');
    ASSERT_EQ(510u, id510.size());
    Load("[in_txt]\r\nVoiceID=" + id510 + "\r\n");
    ASSERT_TRUE(PluginSettings.VoiceID.IsValid());
    EXPECT_EQ(0, std::wstring(PluginSettings.VoiceID.Get()).find(L"Tokens\\Zo\u00EB-\u00C5ngstr\u00F6mvv"));
    DeleteFileA(path_.c_str());
    Save();
    EXPECT_EQ(id510, Value("VoiceID"));

    // Longer (perhaps cut) or empty values are ignored: the voice held before stays.
    AssignAnsi(PluginSettings.VoiceID, "Earlier");
    for (const std::string& ignored : {id510 + "w", std::string(900, 'x'), std::string()}) {
        Load("[in_txt]\r\nVoiceID=" + ignored + "\r\n");
        EXPECT_EQ("Earlier", Narrow(PluginSettings.VoiceID.Get())) << ignored.size();
    }
}

// The platform's writer rewrites the whole file in its canonical form (no blank lines, no blanks
// around '='); in that form every byte outside "in_txt" stays as it was.
TEST_F(SettingsFile, SavingWithoutVoiceRemovesItsLineAndKeepsTheOtherSections) {
    const std::string head = "; player\r\n[Winamp]\r\noutname=out_ds.dll\r\nRate=3\r\n";
    const std::string tail = "[in_mp3]\r\nHotKey=70000\r\nVoiceID=not ours\r\n";
    Load(head + "[in_txt]\r\nSampleRateMode=2\r\nVoiceID=Tokens\\Old\r\n" + tail);
    ASSERT_EQ("Tokens\\Old", Narrow(PluginSettings.VoiceID.Get()));
    EXPECT_EQ(0, PluginSettings.Rate) << "another section's key is not ours";
    PluginSettings.VoiceID.Reset();
    const std::string after = Save();

    EXPECT_EQ("(missing)", Value("VoiceID"));
    EXPECT_EQ("2", Value("SampleRateMode"));
    EXPECT_EQ(0u, after.find(head + "[in_txt]\r\n")) << after;
    ASSERT_GE(after.size(), tail.size());
    EXPECT_EQ(tail, after.substr(after.size() - tail.size())) << after;
}
