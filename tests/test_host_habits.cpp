// The built VST module and the LV2 bundle put through real hosts' habits (testkit/host_habits.h): blocks
// sliced at random give the bits of whole blocks, a resume starts from silence, and sample rates outside
// those the leveler works at pass the audio through with no latency.
#include "hosting/lv2_plugin.h"
#include "lv2/ports.h"
#include "testkit/host_habits.h"

#include <gtest/gtest.h>

namespace {

class Lv2Instance final : public habits::Instance {
public:
    Lv2Instance(double rate, int32_t blockLength)
        : plugin_(VANDREL_LV2_BUNDLE, lv2port::kPluginUri, {rate, blockLength, blockLength}) {
        plugin_.activate();
    }
    void Process(const float* const* inputs, float* const* outputs, int32_t frames) override {
        plugin_.run(inputs, outputs, static_cast<uint32_t>(frames));
    }
    void Suspend() override { plugin_.deactivate(); }
    void Resume() override { plugin_.activate(); }
    bool SetSampleRate(double) override { return false; }
    double Latency() override { return plugin_.latency(); }

private:
    hosting::Lv2Plugin plugin_;
};

// An LV2 host that is refused a rate gets no instance.
std::unique_ptr<habits::Instance> MakeLv2(double rate, int32_t blockLength) {
    try {
        return std::make_unique<Lv2Instance>(rate, blockLength);
    } catch (const hosting::Lv2Error&) {
        return nullptr;
    }
}

void ExpectAllPass(const std::vector<std::string>& lines) {
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_TRUE(line.ends_with(" ok")) << line;
}

const habits::Factory kVst = habits::VstFactory(VANDREL_PLUGIN_PATH);

TEST(HostHabits, VstSlicedBlocksGiveTheBitsOfWholeBlocks) {
    ExpectAllPass(habits::Slicing(kVst));
}
TEST(HostHabits, VstResumeStartsFromSilenceAtTheSameAndAtANewRate) {
    ExpectAllPass(habits::Resume(kVst));
}
TEST(HostHabits, VstOddRatesPassThroughWithNoLatency) {
    ExpectAllPass(habits::OddRates(kVst));
}
TEST(HostHabits, Lv2SlicedRunsGiveTheBitsOfWholeRuns) {
    ExpectAllPass(habits::Slicing(MakeLv2));
}
TEST(HostHabits, Lv2ActivateAgainStartsFromSilence) {
    ExpectAllPass(habits::Resume(MakeLv2));
}
TEST(HostHabits, Lv2OddRatesPassThroughWithNoLatency) {
    ExpectAllPass(habits::OddRates(MakeLv2));
}

} // namespace
