// The leveler's saved state: the sentinel and slider entries 1 to 64 as 32-bit floats.
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Counts the sections a restore runs.
struct CountingLeveler : TParvexEffect {
    int inits = 0, sliders = 0;
    void DoInit() override {
        ++inits;
        TParvexEffect::DoInit();
    }
    void DoSlider() override {
        ++sliders;
        TParvexEffect::DoSlider();
    }
};

struct StateRig {
    leveler_test::FakeHost host;
    CountingLeveler effect;

    StateRig() {
        effect.Host = &host;
        effect.DoReset();
    }

    std::vector<float> Save() {
        void* data = nullptr;
        const int32_t bytes = effect.GetStateChunk(&data, false);
        std::vector<float> values(static_cast<size_t>(bytes) / sizeof(float));
        std::memcpy(values.data(), data, values.size() * sizeof(float));
        return values;
    }
    int32_t Restore(const std::vector<float>& values) {
        return effect.SetStateChunk(values.data(), static_cast<int32_t>(values.size() * sizeof(float)),
                                    false);
    }
};

TEST(LevelerState, DefaultChunk) {
    StateRig rig;
    void* data = nullptr;
    ASSERT_EQ(rig.effect.GetStateChunk(&data, false), 260);
    const auto* bytes = static_cast<const unsigned char*>(data);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x7A);
    EXPECT_EQ(bytes[3], 0xC4);

    std::vector<float> expected = {-1000, 0,  -23, -40, 500, 1, 0, 1, 0, 0, 10,
                                   0,     10, 10,  20,  20,  0, 0, 0, 0, 0};
    expected.resize(65, 0.0f);
    EXPECT_EQ(rig.Save(), expected);
}

TEST(LevelerState, SaveChangeRestore) {
    StateRig rig;
    rig.effect.SliderValues[2] = -16;
    rig.effect.SliderValues[6] = 0.1;
    const std::vector<float> saved = rig.Save();
    rig.effect.SliderValues[2] = -30;
    rig.effect.SliderValues[6] = 0.7;
    rig.effect.DoSlider();
    rig.effect.sliders = 0;

    EXPECT_EQ(rig.Restore(saved), 260);
    EXPECT_EQ(rig.effect.sliders, 1);
    EXPECT_EQ(rig.effect.SliderValues[2], -16);
    EXPECT_EQ(rig.effect.SliderValues[6], static_cast<double>(0.1f));
    // DoSlider ran: the copies and the derived values follow.
    EXPECT_EQ(rig.effect.sliderCopies[2], -16);
    EXPECT_DOUBLE_EQ(rig.effect.targetPower, std::pow(10, -1.6));
    EXPECT_EQ(rig.effect.targetLufs, -16);
}

TEST(LevelerState, ShortChunkSetsOnlyTheFirstSliders) {
    StateRig rig;
    EXPECT_EQ(rig.Restore({-1000, 3, -18, -50}), 16);
    EXPECT_EQ(rig.effect.SliderValues[1], 3);
    EXPECT_EQ(rig.effect.SliderValues[2], -18);
    EXPECT_EQ(rig.effect.SliderValues[3], -50);
    EXPECT_EQ(rig.effect.SliderValues[4], 500);
    EXPECT_EQ(rig.effect.SliderValues[20], 0);
    EXPECT_EQ(rig.effect.sliders, 1);
}

TEST(LevelerState, RejectedChunkChangesNothing) {
    StateRig rig;
    EXPECT_EQ(rig.Restore({-999, 5, 5, 5}), 16);
    EXPECT_EQ(rig.effect.inits, 0);
    EXPECT_EQ(rig.effect.sliders, 0);
    EXPECT_EQ(rig.effect.SliderValues[1], 0);
    EXPECT_EQ(rig.effect.SliderValues[2], -23);
}

TEST(LevelerState, TwoRestoresRunInitOnce) {
    StateRig rig;
    const std::vector<float> saved = rig.Save();
    rig.Restore(saved);
    rig.Restore(saved);
    EXPECT_EQ(rig.effect.inits, 1);
    EXPECT_EQ(rig.effect.sliders, 2);
    EXPECT_EQ(rig.effect.InitCount, 2);
    // The first restore initialised the leveler for the host's rate.
    EXPECT_EQ(rig.effect.latency, 5037);
}

// A restored setting stays within what the host or the panel can set (the wider of the two ranges);
// entries that are no parameter travel as they are.
TEST(LevelerState, RestoredSettingsStayWithinWhatTheHostOrThePanelCanSet) {
    StateRig rig;
    rig.effect.SliderValues[1] = 27.5; // the automatic trim may drift beyond the range
    rig.effect.SliderValues[3] = -95;
    rig.effect.SliderValues[4] = 1e30;
    rig.effect.SliderValues[6] = -0.5;
    rig.effect.SliderValues[20] = 5.75; // the panel's Output Trim reaches 6 dB, the host's 3
    rig.effect.SliderValues[64] = 3;
    const std::vector<float> saved = rig.Save();
    EXPECT_EQ(saved[1], 27.5f) << "saved as it is";
    StateRig other;
    other.Restore(saved);
    EXPECT_EQ(other.effect.SliderValues[1], 20);
    EXPECT_EQ(other.effect.SliderValues[3], -80);
    EXPECT_EQ(other.effect.SliderValues[4], 2000);
    EXPECT_EQ(other.effect.SliderValues[6], 0);
    EXPECT_EQ(other.effect.SliderValues[20], 5.75);
    EXPECT_EQ(other.effect.SliderValues[64], 3);
    EXPECT_DOUBLE_EQ(other.effect.inputTrimGain, 10) << "applied as limited";
}

TEST(LevelerState, NonFiniteValuesInAChunkAreIgnored) {
    StateRig rig;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    rig.Restore({-1000, nan, -20, inf, 300});
    EXPECT_EQ(rig.effect.SliderValues[1], 0);
    EXPECT_EQ(rig.effect.SliderValues[2], -20);
    EXPECT_EQ(rig.effect.SliderValues[3], -40);
    EXPECT_EQ(rig.effect.SliderValues[4], 300);
    EXPECT_EQ(rig.effect.inputTrimGain, 1);
}

} // namespace
