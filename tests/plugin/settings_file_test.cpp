// plugin.ini through the real in_txt.dll in the player host: read at Init, written at Quit, in the
// Plugins folder the DLL was loaded from, used by Play in between.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "engine/engine.h"
#include "host/call_log.h"
#include "host/files.h"
#include "host/message_box_watcher.h"
#include "host/plugin_host.h"

namespace {

const char DEFAULTS_AS_CREATED[] =
    "[in_txt]\r\n"
    "SampleRateMode=8\r\n"
    "BitsPerSampleMode=1\r\n"
    "NumChannelsMode=0\r\n"
    "Rate=0\r\n"
    "UseHotKey=1\r\n"
    "HotKey=851\r\n";

class PluginSettingsFile : public ::testing::Test {
protected:
    void Start(const std::string& ini) {
        engine::Reset();
        host::ClearCallLog();
        host::HostOptions options;
        options.iniContents = ini;
        options.showMainWindow = false;
        options.output.drain = host::DrainMode::Instant;
        host_ = std::make_unique<host::PluginHost>(options);
        ASSERT_TRUE(host_->Load()) << host_->Error();
        ASSERT_FALSE(host::FileExists(host_->IniPath()) && ini.empty());
        host_->Init();
    }
    void TearDown() override {
        host_.reset();
        if (!folder_.empty()) host::RemoveFolderTree(folder_);
    }

    // Plays a short text to its end and returns the output's Open arguments: rate, channels, bits.
    std::string PlayAndReportFormat() {
        if (folder_.empty()) folder_ = host::CreateUniqueTempFolder("in_txt_settings_");
        const std::string file = folder_ + "\\short.txt";
        EXPECT_TRUE(host::WriteWholeFile(file, "Hi."));
        EXPECT_EQ(0, host_->Play(file));
        EXPECT_TRUE(host_->WaitForEndOfFile(10000));
        host_->Stop();
        auto opens = host::LoggedCalls(host::Call::Open);
        if (opens.empty()) return "(not opened)";
        const host::HostCall& open = opens.back();
        return std::to_string(open.args[0]) + " Hz, " + std::to_string(open.args[1]) + " ch, " +
               std::to_string(open.args[2]) + " bit";
    }

    std::unique_ptr<host::PluginHost> host_;
    std::string folder_;
};

}  // namespace

TEST_F(PluginSettingsFile, RunWithoutFileCreatesItWithTheDefaultsInOrder) {
    host::MessageBoxWatcher boxes;
    Start("");
    EXPECT_EQ("48000 Hz, 1 ch, 16 bit", PlayAndReportFormat());
    EXPECT_EQ("", host_->ReadIni()) << "nothing is written before Quit";
    host_->Quit();
    EXPECT_EQ(DEFAULTS_AS_CREATED, host_->ReadIni());
    EXPECT_EQ(host_->PluginFolder() + "\\plugin.ini", host_->IniPath());
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(PluginSettingsFile, StoredValuesAreUsedAndWrittenBackWithTheOtherSectionsKept) {
    const std::string before =
        "[Winamp]\r\noutname=out_ds.dll\r\n"
        "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
        "UseHotKey=5\r\nHotKey=70000\r\n"
        "[in_mp3]\r\nHotKey=12\r\n";
    Start(before);
    EXPECT_EQ("8000 Hz, 2 ch, 8 bit", PlayAndReportFormat());
    host_->Quit();
    EXPECT_EQ("[Winamp]\r\noutname=out_ds.dll\r\n"
              "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
              "UseHotKey=1\r\nHotKey=4464\r\n"
              "[in_mp3]\r\nHotKey=12\r\n",
              host_->ReadIni());
}

TEST_F(PluginSettingsFile, HandEditedModesOutOfRangePlayWithTheDefaultFormat) {
    Start("[in_txt]\r\nSampleRateMode=12\r\nBitsPerSampleMode=7\r\nNumChannelsMode=-3\r\nRate=40\r\n");
    EXPECT_EQ("48000 Hz, 1 ch, 16 bit", PlayAndReportFormat());
    host_->Quit();
    EXPECT_EQ("[in_txt]\r\nSampleRateMode=8\r\nBitsPerSampleMode=1\r\nNumChannelsMode=0\r\nRate=10\r\n"
              "UseHotKey=1\r\nHotKey=851\r\n",
              host_->ReadIni());
}

TEST_F(PluginSettingsFile, StoredVoiceIsChosenAndItsIdWrittenBackUnchanged) {
    const std::wstring wideId = engine::DefaultVoices().at(1).id;
    const std::string id(wideId.begin(), wideId.end());
    Start("[in_txt]\r\nVoiceID=" + id + "\r\nHotKey=851\r\n");
    PlayAndReportFormat();
    EXPECT_EQ(wideId, engine::CurrentVoiceId());
    host_->Quit();
    EXPECT_NE(std::string::npos, host_->ReadIni().find("\r\nVoiceID=" + id + "\r\n")) << host_->ReadIni();
}

TEST_F(PluginSettingsFile, StartUpStoppedBeforeLoadingWritesNothing) {
    host::MessageBoxWatcher boxes;
    engine::Reset();
    engine::InjectFailure(engine::Op::CreateVoice, engine::EveryCall, E_FAIL);
    host::HostOptions options;
    options.showMainWindow = false;
    host_ = std::make_unique<host::PluginHost>(options);
    ASSERT_TRUE(host_->Load()) << host_->Error();
    host_->Init();
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    host_->Quit();
    EXPECT_FALSE(host::FileExists(host_->IniPath()));
}
