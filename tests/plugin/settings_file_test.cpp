// plugin.ini through the real in_txt.dll in the player host: found beside the DLL, read at Init,
// used by Play, written at Quit.
#include <cstring>
#include <string>

#include "tests/plugin/plugin_fixture.h"

namespace {

class PluginSettingsFile : public PluginTest {};

}  // namespace

TEST_F(PluginSettingsFile, RunWithoutFileCreatesItBesideTheDllWithTheDefaultsInOrder) {
    host::MessageBoxWatcher boxes;
    LoadAndInit();
    EXPECT_EQ("48000/1/16", PlayShortText());
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
    const std::string voiceId = Narrow(voice);
    LoadAndInit(WithSettings("[Winamp]\r\noutname=out_ds.dll\r\n"
                             "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
                             "VoiceID=" + voiceId + "\r\nUseHotKey=5\r\nHotKey=70000\r\n"
                             "[in_mp3]\r\nHotKey=12\r\n"));
    EXPECT_EQ("8000/2/8", PlayShortText());
    EXPECT_EQ(voice, engine::CurrentVoiceId());
    EXPECT_EQ(-7, engine::CurrentRate());
    host_->Quit();
    EXPECT_EQ("[Winamp]\r\noutname=out_ds.dll\r\n"
              "[in_txt]\r\nSampleRateMode=0\r\nBitsPerSampleMode=0\r\nNumChannelsMode=1\r\nRate=-7\r\n"
              "VoiceID=" + voiceId + "\r\nUseHotKey=1\r\nHotKey=4464\r\n"
              "[in_mp3]\r\nHotKey=12\r\n",
              host_->ReadIni());
}

// Documents=1 offers the document types after the text types, and is written back; off, it is left
// out of the file (RunWithoutFile...) and the list stays the two text types (ModuleRecord).
TEST_F(PluginSettingsFile, DocumentsSettingOffersTheDocumentTypesAndIsKept) {
    LoadAndInit(WithSettings("[in_txt]\r\nDocuments=1\r\n"));
    const char expected[] =
        "TXT\0Plain Text Files (*.TXT)\0XML\0Extensible Markup Language Files (*.XML)\0EPUB\0EPUB E-Books (*.EPUB)\0"
        "FB2\0FictionBook E-Books (*.FB2)\0HTM;HTML;XHTML\0Web Pages (*.HTM;*.HTML;*.XHTML)\0"
        "RTF\0Rich Text Format Documents (*.RTF)\0DOCX\0Word Documents (*.DOCX)\0";
    EXPECT_EQ(0, std::memcmp(expected, host_->Module()->FileExtensions, sizeof expected));
    EXPECT_EQ(1, host_->Module()->IsOurFile(const_cast<char*>("C:\\Books\\war.FB2.zip")));
    EXPECT_EQ(0, host_->Module()->IsOurFile(const_cast<char*>("C:\\Books\\photos.zip")));
    host_->Quit();
    EXPECT_NE(std::string::npos, host_->ReadIni().find("\r\nDocuments=1\r\n"));
}

TEST_F(PluginSettingsFile, HandEditedModesOutOfRangePlayInTheDefaultFormat) {
    LoadAndInit(WithSettings("[in_txt]\r\nSampleRateMode=12\r\nBitsPerSampleMode=7\r\nNumChannelsMode=-3\r\n"));
    EXPECT_EQ("48000/1/16", PlayShortText());
}

TEST_F(PluginSettingsFile, StartUpStoppedBeforeLoadingWritesNothing) {
    host::MessageBoxWatcher boxes;
    LoadPlugin();
    engine::InjectFailure(engine::Op::CreateVoice, engine::EveryCall, E_FAIL);
    host_->Init();
    ASSERT_TRUE(boxes.WaitForCount(1, 10000));
    host_->Quit();
    EXPECT_FALSE(host::FileExists(host_->IniPath()));
}
