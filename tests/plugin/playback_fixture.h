// Shared set-up of the playback tests: the real in_txt.dll in the player host, with the engine
// stand-in registered on the test's thread and text files made on the spot.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "host/call_log.h"
#include "host/files.h"
#include "host/message_box_watcher.h"
#include "host/plugin_host.h"

class PlaybackTest : public ::testing::Test {
public:
    static host::HostOptions DefaultOptions() {
        host::HostOptions options;
        options.output.drain = host::DrainMode::Instant;
        options.showMainWindow = false;
        return options;
    }

protected:
    // Loads the plug-in with these options and settings file contents; the test calls Init itself.
    void LoadPlugin(host::HostOptions options = DefaultOptions()) {
        engine::Reset();
        host::ClearCallLog();
        host_ = std::make_unique<host::PluginHost>(options);
        ASSERT_TRUE(host_->Load()) << host_->Error();
        folder_ = host::CreateUniqueTempFolder("in_txt_texts_");
        ASSERT_FALSE(folder_.empty());
    }
    void LoadAndInit(host::HostOptions options = DefaultOptions()) {
        LoadPlugin(options);
        host_->Init();
    }
    void TearDown() override {
        host_.reset();
        if (!folder_.empty()) host::RemoveFolderTree(folder_);
        folder_.clear();
    }

    static host::HostOptions WithSettings(const std::string& ini) {
        host::HostOptions options = DefaultOptions();
        options.iniContents = ini;
        return options;
    }

    // A file of the given bytes in the test's folder.
    std::string MakeFile(const std::string& name, const std::string& bytes) {
        std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(host::WriteWholeFile(path, bytes));
        return path;
    }

    // Everything the output module was given to play, in order.
    static std::vector<unsigned char> OutputBytes() {
        std::vector<unsigned char> all;
        for (const host::HostCall& call : host::LoggedCalls(host::Call::Write))
            all.insert(all.end(), call.data.begin(), call.data.end());
        return all;
    }
    static std::vector<int> OutputWriteSizes() {
        std::vector<int> sizes;
        for (const host::HostCall& call : host::LoggedCalls(host::Call::Write)) sizes.push_back(call.args[1]);
        return sizes;
    }
    static bool LogHas(const std::wstring& entry) {
        for (const std::wstring& line : engine::CallLog())
            if (line == entry) return true;
        return false;
    }
    static int LogCount(const std::wstring& prefix) {
        int count = 0;
        for (const std::wstring& line : engine::CallLog())
            if (line.compare(0, prefix.size(), prefix) == 0) ++count;
        return count;
    }
    // Every object of the engine is gone and every reference taken on one was given back.
    static void ExpectEngineObjectsGivenBack() {
        for (engine::ObjectKind kind : {engine::ObjectKind::Voice, engine::ObjectKind::Translator,
                                        engine::ObjectKind::Category, engine::ObjectKind::Enumerator,
                                        engine::ObjectKind::Token, engine::ObjectKind::PayloadObject}) {
            engine::RefCounts counts = engine::Counts(kind);
            EXPECT_EQ(0, counts.live) << "objects of kind " << static_cast<int>(kind) << " left alive";
            EXPECT_EQ(counts.addRefs, counts.releases) << "references of kind " << static_cast<int>(kind);
        }
    }
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

    std::unique_ptr<host::PluginHost> host_;
    std::string folder_;
};
