// The fixture of every end-to-end test: the real in_txt.dll loaded in the player host, with the
// engine stand-in registered on the test's thread, a folder of text files made on the spot, and
// what the player, the output and the engine were told, read back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "host/call_log.h"
#include "host/files.h"
#include "host/message_box_watcher.h"
#include "host/plugin_host.h"
#include "tests/test_support.h"

class PluginTest : public ::testing::Test {
public:
    // The player's window hidden, and an output that plays whatever it is given at once.
    static host::HostOptions DefaultOptions() {
        host::HostOptions options;
        options.output.drain = host::DrainMode::Instant;
        options.showMainWindow = false;
        return options;
    }
    // With this plugin.ini beside the plug-in.
    static host::HostOptions WithSettings(const std::string& ini) {
        host::HostOptions options = DefaultOptions();
        options.iniContents = ini;
        return options;
    }
    // A plugin.ini that names this voice.
    static std::string SettingsWithVoice(const std::wstring& id) {
        return "[in_txt]\r\nVoiceID=" + Narrow(id) + "\r\n";
    }
    // With the player's window up, for the windows the plug-in shows over it and the keys it hears.
    static host::HostOptions WithShownWindow(host::HostOptions options) {
        options.showMainWindow = true;
        return options;
    }

protected:
    // A fresh engine and call log, then the player loads the plug-in; the test calls Init itself.
    void LoadPlugin(host::HostOptions options = DefaultOptions()) {
        engine::Reset();
        host::ClearCallLog();
        host_ = std::make_unique<host::PluginHost>(options);
        ASSERT_TRUE(host_->Load()) << host_->Error();
        folder_ = host::CreateUniqueTempFolder("in_txt_texts_");
        ASSERT_FALSE(folder_.empty());
    }
    void LoadAndInit(host::HostOptions options = DefaultOptions()) {
        ASSERT_NO_FATAL_FAILURE(LoadPlugin(options));
        host_->Init();
    }
    // The player closes (stopping, quitting and unloading the plug-in) before the files it played go.
    void ClosePlayer() {
        host_.reset();
        if (!folder_.empty()) host::RemoveFolderTree(folder_);
        folder_.clear();
    }
    void TearDown() override { ClosePlayer(); }

    // A file of the given bytes in the test's folder.
    std::string MakeFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(host::WriteWholeFile(path, bytes));
        return path;
    }
    // Plays the file to its end and stops, as the player answers the end.
    void PlayToEnd(const std::string& path) {
        ASSERT_EQ(0, host_->Play(path));
        EXPECT_TRUE(host_->WaitForEndOfFile(10000));
        host_->Stop();
    }
    // Plays a short text to its end; returns the format the output was last opened in.
    std::string PlayShortText() {
        PlayToEnd(MakeFile("short.txt", "Hi."));
        return LastOpenedFormat();
    }
    // The output's last Open arguments as "rate/channels/bits".
    static std::string LastOpenedFormat() {
        const std::vector<host::HostCall> opens = host::LoggedCalls(host::Call::Open);
        if (opens.empty()) return "(not opened)";
        const host::HostCall& open = opens.back();
        return std::to_string(open.args[0]) + "/" + std::to_string(open.args[1]) + "/" + std::to_string(open.args[2]);
    }

    // ---- plugin.ini, read back ----

    // The value of a key in the text of an ini file, or "<absent>".
    static std::string IniValue(const std::string& ini, const std::string& key) {
        const std::string prefix = "\r\n" + key + "=";
        const std::string text = "\r\n" + ini;
        const size_t at = text.find(prefix);
        if (at == std::string::npos) return "<absent>";
        const size_t start = at + prefix.size();
        return text.substr(start, text.find("\r\n", start) - start);
    }
    // The plug-in's settings file as Quit leaves it.
    std::string IniAfterQuit() {
        host_->Quit();
        return host_->ReadIni();
    }
    // A key of the [in_txt] section as the platform's reader takes it; -12345 when it is missing.
    static int IniInt(const std::string& path, const char* key) {
        return static_cast<int>(GetPrivateProfileIntA("in_txt", key, -12345, path.c_str()));
    }
    // A whole section as the platform's reader gives it: "key=value" strings, each ended by a 0.
    static std::string IniSection(const std::string& path, const char* section) {
        std::string values(1 << 16, '\0');
        DWORD length = GetPrivateProfileSectionA(section, &values[0], static_cast<DWORD>(values.size()), path.c_str());
        values.resize(length);
        return values;
    }

    // ---- Sound ----

    // The format of the voice's sound for these settings (the plug-in's default: 48000, 16, 1).
    static WAVEFORMATEX PcmFormat(int rate, int bits, int channels) {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = static_cast<WORD>(channels);
        format.nSamplesPerSec = rate;
        format.wBitsPerSample = static_cast<WORD>(bits);
        format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
        format.nAvgBytesPerSec = rate * format.nBlockAlign;
        return format;
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
    // The voice spoke the whole text as the stream, in the default format, and that sound is the last
    // the output was given: nothing of a file played before cut into it.
    static void ExpectSpokenWholeAtTheEnd(const std::string& text, ULONG stream) {
        const std::vector<unsigned char> expected =
            engine::RenderTone(Wide(text), 0, engine::CurrentVoiceId(), PcmFormat(48000, 16, 1));
        EXPECT_EQ(expected, engine::DeliveredPcm(stream));
        const std::vector<unsigned char> output = OutputBytes();
        ASSERT_GE(output.size(), expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), output.end() - expected.size()));
    }

    // ---- The engine's call log ----

    static bool LogHas(const std::wstring& entry) {
        for (const std::wstring& line : engine::CallLog())
            if (line == entry) return true;
        return false;
    }
    // The calls that begin with the prefix, in order.
    static std::vector<std::wstring> LogLines(const std::wstring& prefix) {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : engine::CallLog())
            if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
        return lines;
    }
    static int LogCount(const std::wstring& prefix) { return static_cast<int>(LogLines(prefix).size()); }
    static std::vector<std::wstring> RateCalls() { return LogLines(L"SetRate("); }
    static std::wstring LastVoiceSet() {
        const std::vector<std::wstring> calls = LogLines(L"SetVoice(");
        return calls.empty() ? L"(none)" : calls.back();
    }

    // ---- The engine's objects ----

    // No object of the kind is alive, and every reference taken on one was given back.
    static void ExpectGivenBack(engine::ObjectKind kind) {
        const engine::RefCounts counts = engine::Counts(kind);
        EXPECT_EQ(0, counts.live) << "objects of kind " << static_cast<int>(kind) << " left alive";
        EXPECT_EQ(counts.addRefs, counts.releases) << "references of kind " << static_cast<int>(kind);
    }
    static void ExpectEngineObjectsGivenBack() {
        for (engine::ObjectKind kind : {engine::ObjectKind::Voice, engine::ObjectKind::Translator,
                                        engine::ObjectKind::Category, engine::ObjectKind::Enumerator,
                                        engine::ObjectKind::Token, engine::ObjectKind::PayloadObject})
            ExpectGivenBack(kind);
    }

    std::unique_ptr<host::PluginHost> host_;
    std::string folder_;
};
