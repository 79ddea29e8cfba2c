// The module record and the small callbacks, through the real in_txt.dll.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "plugin/winamp.h"

namespace {

// Output module that records what the small callbacks pass through.
struct RecordingOutput {
    static int volume, pan, outputTime;
    static void __cdecl SetVolume(int v) { volume = v; }
    static void __cdecl SetPan(int p) { pan = p; }
    static int __cdecl GetOutputTime() { return outputTime; }
};
int RecordingOutput::volume = 0, RecordingOutput::pan = 0, RecordingOutput::outputTime = 0;

class ModuleRecord : public ::testing::Test {
protected:
    void SetUp() override {
        dll_ = LoadLibraryA("in_txt.dll");
        ASSERT_NE(nullptr, dll_) << "in_txt.dll must lie beside the test program";
        auto get = reinterpret_cast<GetInModuleFunc>(GetProcAddress(dll_, "winampGetInModule2"));
        ASSERT_NE(nullptr, get);
        module_ = get();
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override {
        if (dll_) FreeLibrary(dll_);
    }
    void AttachOutput() {
        out_ = {};
        out_.SetVolume = RecordingOutput::SetVolume;
        out_.SetPan = RecordingOutput::SetPan;
        out_.GetOutputTime = RecordingOutput::GetOutputTime;
        module_->outMod = &out_;
    }
    std::string Title(const char* file) {
        char title[MAX_PATH];
        std::memset(title, 'x', sizeof title);
        int length = 0;
        module_->GetFileInfo(const_cast<char*>(file), title, &length);
        EXPECT_EQ(-1000, length);
        return title;
    }

    HMODULE dll_ = nullptr;
    In_Module* module_ = nullptr;
    Out_Module out_ = {};
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
    auto get = reinterpret_cast<GetInModuleFunc>(GetProcAddress(dll_, "winampGetInModule2"));
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
    EXPECT_EQ(173, RecordingOutput::volume);
    module_->SetPan(-42);
    EXPECT_EQ(-42, RecordingOutput::pan);
    RecordingOutput::outputTime = 98765;
    EXPECT_EQ(98765, module_->GetOutputTime());
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
    std::string text;
    bool found = false;
    std::thread watcher([&] {
        for (int i = 0; i < 500 && !found; ++i) {
            HWND box = FindWindowA("#32770", "About plugin");
            if (box) {
                char buffer[512] = {};
                GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
                text = buffer;
                found = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(10);
        }
    });
    module_->About(nullptr);
    watcher.join();
    ASSERT_TRUE(found) << "no About box appeared";
    ASSERT_EQ(0u, text.find("Tavrin Text Speech plug-in v1.01\n"));
    EXPECT_GT(text.size(), std::strlen("Tavrin Text Speech plug-in v1.01\n"));
}

}  // namespace
