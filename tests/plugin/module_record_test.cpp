// The module record and the small callbacks, through the real in_txt.dll in the player host.
#include <windows.h>

#include <cstring>
#include <string>

#include "host/output_module.h"
#include "base/winamp.h"
#include "tests/plugin/plugin_fixture.h"

namespace {

class ModuleRecord : public PluginTest {
protected:
    // The record as the library hands it out: loaded, but the host fields not yet filled; no engine.
    void SetUp() override {
        host::HostOptions options = DefaultOptions();
        options.registerEngine = false;
        options.attachHost = false;
        options.output.drain = host::DrainMode::Stalled;
        ASSERT_NO_FATAL_FAILURE(LoadPlugin(options));
        module_ = host_->Module();
        ASSERT_NE(nullptr, module_);
    }
    void AttachOutput() {
        host_->AttachHost();
        ASSERT_EQ(host::OutputModule(), module_->outMod);
    }
    std::string Title(const char* file) {
        char title[MAX_PATH];
        std::memset(title, 'x', sizeof title);
        int length = 0;
        module_->GetFileInfo(const_cast<char*>(file), title, &length);
        EXPECT_EQ(-1000, length);
        return title;
    }

    In_Module* module_ = nullptr;
};

TEST_F(ModuleRecord, FixedFields) {
    EXPECT_EQ(0x100, module_->version);
    EXPECT_STREQ("Tavrin Text Speech plug-in v1.01 (x86)", module_->description);
    EXPECT_EQ(0, module_->is_seekable);
    EXPECT_EQ(1, module_->UsesOutputPlug);
}

TEST_F(ModuleRecord, ExtensionListIsTwoPairsAndAnEmptyString) {
    const char expected[] =
        "TXT\0Plain Text Files (*.TXT)\0XML\0Extensible Markup Language Files (*.XML)\0";
    static_assert(sizeof expected == 75, "4 + 25 + 4 + 41 + 1 bytes");
    EXPECT_EQ(0, std::memcmp(expected, module_->FileExtensions, 75));
}

TEST_F(ModuleRecord, HostFieldsAreNullAndPluginFieldsAreFilled) {
    EXPECT_EQ(nullptr, module_->hMainWindow);
    EXPECT_EQ(nullptr, module_->hDllInstance);
    EXPECT_EQ(nullptr, module_->SAVSAInit);
    EXPECT_EQ(nullptr, module_->SAVSADeInit);
    EXPECT_EQ(nullptr, module_->SAAddPCMData);
    EXPECT_EQ(nullptr, module_->SAGetMode);
    EXPECT_EQ(nullptr, module_->SAAdd);
    EXPECT_EQ(nullptr, module_->VSAAddPCMData);
    EXPECT_EQ(nullptr, module_->VSAGetMode);
    EXPECT_EQ(nullptr, module_->VSAAdd);
    EXPECT_EQ(nullptr, module_->VSASetInfo);
    EXPECT_EQ(nullptr, module_->dsp_isactive);
    EXPECT_EQ(nullptr, module_->dsp_dosamples);
    EXPECT_EQ(nullptr, module_->SetInfo);
    EXPECT_EQ(nullptr, module_->outMod);

    EXPECT_NE(nullptr, module_->EQSet);
    void* callbacks[] = {
        reinterpret_cast<void*>(module_->Config),    reinterpret_cast<void*>(module_->About),
        reinterpret_cast<void*>(module_->Init),      reinterpret_cast<void*>(module_->Quit),
        reinterpret_cast<void*>(module_->GetFileInfo), reinterpret_cast<void*>(module_->InfoBox),
        reinterpret_cast<void*>(module_->IsOurFile), reinterpret_cast<void*>(module_->Play),
        reinterpret_cast<void*>(module_->Pause),     reinterpret_cast<void*>(module_->UnPause),
        reinterpret_cast<void*>(module_->IsPaused),  reinterpret_cast<void*>(module_->Stop),
        reinterpret_cast<void*>(module_->GetLength), reinterpret_cast<void*>(module_->GetOutputTime),
        reinterpret_cast<void*>(module_->SetOutputTime), reinterpret_cast<void*>(module_->SetVolume),
        reinterpret_cast<void*>(module_->SetPan)};
    for (void* callback : callbacks) EXPECT_NE(nullptr, callback);
}

TEST_F(ModuleRecord, EveryCallReturnsTheSameRecordWithTheHostsWrites) {
    module_->hMainWindow = reinterpret_cast<HWND>(0x1234);
    auto get = reinterpret_cast<GetInModuleFunc>(GetProcAddress(host_->Library(), "winampGetInModule2"));
    In_Module* again = get();
    EXPECT_EQ(module_, again);
    EXPECT_EQ(reinterpret_cast<HWND>(0x1234), again->hMainWindow);
}

TEST_F(ModuleRecord, FileInfoTitleIsTheLastBackslashComponent) {
    EXPECT_EQ("story.txt", Title("C:\\Texts\\story.txt"));
    EXPECT_EQ("story.txt", Title("story.txt"));
    EXPECT_EQ("", Title("C:\\Texts\\"));
    EXPECT_EQ("C:/x/y.txt", Title("C:/x/y.txt"));
    EXPECT_EQ("", Title(""));  // nothing played yet
}

TEST_F(ModuleRecord, FileInfoWritesOnlyWhatIsAskedFor) {
    char title[16] = "unchanged";
    module_->GetFileInfo(const_cast<char*>("C:\\a.txt"), title, nullptr);
    EXPECT_STREQ("a.txt", title);

    int length = 7;
    module_->GetFileInfo(const_cast<char*>("C:\\a.txt"), nullptr, &length);
    EXPECT_EQ(-1000, length);
}

TEST_F(ModuleRecord, IsOurFileClaimsNothingAndLengthIsUnknown) {
    EXPECT_EQ(0, module_->IsOurFile(const_cast<char*>("C:\\story.txt")));
    EXPECT_EQ(0, module_->IsOurFile(const_cast<char*>("C:\\talk.xml")));
    EXPECT_EQ(0, module_->IsOurFile(const_cast<char*>("")));
    EXPECT_EQ(-1000, module_->GetLength());
}

TEST_F(ModuleRecord, VolumePanAndOutputTimeGoToTheOutputUnchanged) {
    AttachOutput();
    module_->SetVolume(173);
    EXPECT_EQ(173, host::OutputSnapshot().volume);
    module_->SetPan(-42);
    EXPECT_EQ(-42, host::OutputSnapshot().pan);

    // An output that has played 98765 ms (and, stalled, stays there).
    Out_Module* out = host::OutputModule();
    ASSERT_GE(out->Open(8000, 1, 8, -1, -1), 0);
    out->Flush(98765);
    EXPECT_EQ(98765, module_->GetOutputTime());
    out->Close();

    const auto volumes = host::LoggedCalls(host::Call::SetVolume);
    ASSERT_EQ(1u, volumes.size());
    EXPECT_EQ(host_->MainThread(), volumes[0].thread);
}

TEST_F(ModuleRecord, SetOutputTimeAndEqSetChangeNothing) {
    AttachOutput();
    In_Module before = *module_;
    char bands[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    module_->SetOutputTime(5000);
    module_->EQSet(1, bands, 20);
    EXPECT_EQ(0, std::memcmp(&before, module_, sizeof before));
    EXPECT_EQ(-1000, module_->GetLength());
}

// The About box: found by its caption from a watcher thread, read and dismissed.
TEST_F(ModuleRecord, AboutShowsTheDescriptionAndACredit) {
    host::MessageBoxWatcher watcher({"About plugin"});
    module_->About(host_->MainWindow());
    ASSERT_EQ(1u, watcher.Count()) << "no About box appeared";
    const std::string text = watcher.Seen()[0].text;
    ASSERT_EQ(0u, text.find("Tavrin Text Speech plug-in v1.01\n"));
    EXPECT_GT(text.size(), std::strlen("Tavrin Text Speech plug-in v1.01\n"));
}

}  // namespace
