// plugin.ini through the real in_txt.dll in the player host: found beside the DLL, read at Init,
// used by Play, written at Quit.
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
        host_->Init();
    }
    void TearDown() override {
        host_.reset();
        if (!folder_.empty()) host::RemoveFolderTree(folder_);
    }

    // Plays a short text to its end; the output's Open arguments as "rate, channels, bits".
    std::string PlayedFormat() {
        folder_ = host::CreateUniqueTempFolder("in_txt_settings_");
        const std::string file = folder_ + "\\short.txt";
        EXPECT_TRUE(host::WriteWholeFile(file, "Hi."));
        EXPECT_EQ(0, host_->Play(file));
        EXPECT_TRUE(host_->WaitForEndOfFile(10000));
        host_->Stop();
        const auto opens = host::LoggedCalls(host::Call::Open);
        if (opens.empty()) return "(not opened)";
        return std::to_string(opens.back().args[0]) + ", " + std::to_string(opens.back().args[1]) + ", " +
               std::to_string(opens.back().args[2]);
    }

    std::unique_ptr<host::PluginHost> host_;
    std::string folder_;
};

}  // namespace

TEST_F(PluginSettingsFile, RunWithoutFileCreatesItBesideTheDllWithTheDefaultsInOrder) {
    host::MessageBoxWatcher boxes;
    Start("");
    EXPECT_EQ("48000, 1, 16", PlayedFormat());
    EXPECT_FALSE(host::FileExists(host_->IniPath())) << "nothing is written before Quit";
    host_->Quit();
    EXPECT_EQ(host_->PluginFolder() + "\\plugin.ini", host_->IniPath());
    EXPECT_EQ("[in_txt]\r\nSampleRateMode=8\r\nBitsPerSampleMode=1\r\nNumChannelsMode=0\r\nRate=0\r\n"
              "UseHotKey=1\r\nHotKey=851\r\n",
              host_->ReadIni());
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(PluginSettingsFile, StoredValuesAreUsedAndWrittenBackWithTheOtherSectionsKept) {
    const std::wstring voice = engine::DefaultVoices().at(1).id;
    const std::string voiceId(voice.begin(), voice.end());
    Start("[Winamp]\r\noutname=out_ds.dll\r\n"
          "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
          "VoiceID=" + voiceId + "\r\nUseHotKey=5\r\nHotKey=70000\r\n"
          "[in_mp3]\r\nHotKey=12\r\n");
    EXPECT_EQ("8000, 2, 8", PlayedFormat());
    EXPECT_EQ(voice, engine::CurrentVoiceId());
    EXPECT_EQ(-7, engine::CurrentRate());
    host_->Quit();
    EXPECT_EQ("[Winamp]\r\noutname=out_ds.dll\r\n"
              "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
              "VoiceID=" + voiceId + "\r\nUseHotKey=1\r\nHotKey=4464\r\n"
              "[in_mp3]\r\nHotKey=12\r\n",
              host_->ReadIni());
}

TEST_F(PluginSettingsFile, HandEditedModesOutOfRangePlayInTheDefaultFormat) {
    Start("[in_txt]\r\nSampleRateMode=12\r\nBitsPerSampleMode=7\r\nNumChannelsMode=-3\r\n");
    EXPECT_EQ("48000, 1, 16", PlayedFormat());
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
