// The visualisation, DSP and information entries the player lends the plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/call_log.h"
#include "host/output_module.h"
#include "host/player_entries.h"

namespace host {
namespace {

class PlayerEntries : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCallLog();
        SetDspMode(DspMode::Off);
        ScriptDspIsActive({});
        FillHostEntries(module_, reinterpret_cast<HWND>(0x1234), reinterpret_cast<HINSTANCE>(0x5678),
                        OutputModule());
    }
    In_Module module_ = {};
};

TEST_F(PlayerEntries, EveryHostFieldIsFilled) {
    EXPECT_EQ(reinterpret_cast<HWND>(0x1234), module_.hMainWindow);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(0x5678), module_.hDllInstance);
    EXPECT_EQ(OutputModule(), module_.outMod);
    const void* entries[] = {
        reinterpret_cast<void*>(module_.SAVSAInit),  reinterpret_cast<void*>(module_.SAVSADeInit),
        reinterpret_cast<void*>(module_.SAAddPCMData), module_.SAGetMode, module_.SAAdd,
        reinterpret_cast<void*>(module_.VSAAddPCMData), module_.VSAGetMode, module_.VSAAdd,
        reinterpret_cast<void*>(module_.VSASetInfo), reinterpret_cast<void*>(module_.dsp_isactive),
        reinterpret_cast<void*>(module_.dsp_dosamples), reinterpret_cast<void*>(module_.SetInfo)};
    for (const void* entry : entries) EXPECT_NE(nullptr, entry);
    EXPECT_EQ(nullptr, module_.EQSet) << "the plug-in's own field is left alone";
}

TEST(DoubleEveryFrame, RepeatsEachFrameInPlace) {
    short stereo[12] = {1, -1, 2, -2, 3, -3};
    EXPECT_EQ(6, DoubleEveryFrame(stereo, 3, 4));
    const short doubled[12] = {1, -1, 1, -1, 2, -2, 2, -2, 3, -3, 3, -3};
    EXPECT_EQ(0, std::memcmp(doubled, stereo, sizeof stereo));

    unsigned char mono8[6] = {10, 20, 30};
    EXPECT_EQ(6, DoubleEveryFrame(mono8, 3, 1));
    const unsigned char mono8Doubled[6] = {10, 10, 20, 20, 30, 30};
    EXPECT_EQ(0, std::memcmp(mono8Doubled, mono8, sizeof mono8));

    EXPECT_EQ(0, DoubleEveryFrame(mono8, 0, 1));
}

TEST_F(PlayerEntries, DspModes) {
    EXPECT_EQ(0, module_.dsp_isactive());

    short samples[8] = {5, 6, 7, 8, 0x7777, 0x7777, 0x7777, 0x7777};
    SetDspMode(DspMode::PassThrough);
    EXPECT_NE(0, module_.dsp_isactive());
    EXPECT_EQ(2, module_.dsp_dosamples(samples, 2, 16, 2, 8000));
    const short unchanged[8] = {5, 6, 7, 8, 0x7777, 0x7777, 0x7777, 0x7777};
    EXPECT_EQ(0, std::memcmp(unchanged, samples, sizeof samples));

    SetDspMode(DspMode::DoubleFrames);
    EXPECT_NE(0, module_.dsp_isactive());
    EXPECT_EQ(4, module_.dsp_dosamples(samples, 2, 16, 2, 8000));
    const short doubled[8] = {5, 6, 5, 6, 7, 8, 7, 8};
    EXPECT_EQ(0, std::memcmp(doubled, samples, sizeof samples));

    // Claims far more frames than it was given, but writes nothing past them.
    short guarded[6] = {1, 2, 3, 0x5555, 0x5555, 0x5555};
    SetDspMode(DspMode::Oversized);
    EXPECT_GT(OVERSIZED_DSP_FRAMES * 4, 9216);
    EXPECT_EQ(OVERSIZED_DSP_FRAMES, module_.dsp_dosamples(guarded, 3, 16, 1, 8000));
    const short guardedAfter[6] = {1, 2, 3, 0x5555, 0x5555, 0x5555};
    EXPECT_EQ(0, std::memcmp(guardedAfter, guarded, sizeof guarded));

    const std::vector<HostCall> dsp = LoggedCalls(Call::DspDoSamples);
    ASSERT_EQ(3u, dsp.size());
    EXPECT_EQ(2, dsp[1].args[1]);
    EXPECT_EQ(4, dsp[1].result);
    EXPECT_EQ(8000, dsp[1].args[4]);
    const short given[4] = {5, 6, 7, 8};  // the frames as they came, before doubling
    ASSERT_EQ(sizeof given, dsp[1].data.size());
    EXPECT_EQ(0, std::memcmp(given, dsp[1].data.data(), sizeof given));
}

TEST_F(PlayerEntries, ScriptedAnswersComeFirstThenTheModeDecides) {
    SetDspMode(DspMode::Off);
    ScriptDspIsActive({1, 0, 1});
    EXPECT_EQ(1, module_.dsp_isactive());
    EXPECT_EQ(0, module_.dsp_isactive());
    EXPECT_EQ(1, module_.dsp_isactive());
    EXPECT_EQ(0, module_.dsp_isactive());
    SetDspMode(DspMode::PassThrough);
    EXPECT_EQ(1, module_.dsp_isactive());

    const std::vector<HostCall> answers = LoggedCalls(Call::DspIsActive);
    ASSERT_EQ(5u, answers.size());
    EXPECT_EQ(0, answers[3].result);
}

}  // namespace
}  // namespace host
