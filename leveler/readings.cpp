#include "leveler/readings.h"

#include "leveler/leveler.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace leveler {

namespace {

constexpr int32_t IndexOf(std::string_view symbol) {
    for (int32_t index = 0; index < kReadingCount; ++index)
        if (symbol == kReadings[index].symbol) return index;
    return -1;
}
constexpr int32_t kFastGain = IndexOf("fast_stage_gain");
constexpr int32_t kMediumGain = IndexOf("medium_stage_gain");
constexpr int32_t kSlowGain = IndexOf("slow_stage_gain");
constexpr int32_t kOutputLoudness = IndexOf("output_loudness");
constexpr int32_t kLoudnessToTarget = IndexOf("loudness_to_target");
constexpr int32_t kGateLevel = IndexOf("gate_level");
constexpr int32_t kGatingRatio = IndexOf("gating_ratio");
constexpr int32_t kExcessiveGating = IndexOf("excessive_gating");
static_assert(kFastGain >= 0 && kMediumGain >= 0 && kSlowGain >= 0 && kOutputLoudness >= 0 &&
              kLoudnessToTarget >= 0 && kGateLevel >= 0 && kGatingRatio >= 0 && kExcessiveGating >= 0);

// Within the row's range; a value that is not a number reads as the lowest.
float Limited(int32_t index, double value) {
    const ReadingRow& row = kReadings[index];
    if (!(value > row.minimum)) return static_cast<float>(row.minimum);
    return static_cast<float>(std::min(value, row.maximum));
}

// The panel draws a stage gain of 0 as unity, and meters no further than 20 dB either way.
float GainDecibels(int32_t index, double gain) {
    return Limited(index, IsZero(gain) ? 0.0 : 20 * std::log10(gain));
}

} // namespace

void TakeReadings(const TParvexEffect& effect, std::span<float, kReadingCount> values) {
    values[kFastGain] = GainDecibels(kFastGain, effect.fastGain());
    values[kMediumGain] = GainDecibels(kMediumGain, effect.medGain());
    values[kSlowGain] = GainDecibels(kSlowGain, effect.slowGain());
    const float loudness = Limited(kOutputLoudness, 10 * std::log10(effect.displayPower.Load()));
    values[kOutputLoudness] = loudness;
    values[kLoudnessToTarget] = Limited(kLoudnessToTarget, loudness - effect.targetLufs.Load());
    values[kGateLevel] = Limited(kGateLevel, effect.gateLevel.Load());
    values[kGatingRatio] = Limited(kGatingRatio, effect.gatingRatio.Load());
    // The panel's warning: the gate has closed less than a second's worth while most blocks were gated.
    values[kExcessiveGating] =
        effect.gateLevel > effect.gateOneSecond && effect.gatingRatio > 0.8 ? 1.0f : 0.0f;
    for (int32_t index = 0; index < kReadingCount; ++index) {
        const int32_t slider = kReadings[index].slider;
        if (slider > 0) values[index] = static_cast<float>(effect.SliderValues[slider].Load());
    }
}

void ShowReading(TParvexEffect& effect, int32_t index, float value) {
    if (index < 0 || index >= kReadingCount || !std::isfinite(value)) return;
    const double reading = value;
    if (const int32_t slider = kReadings[index].slider; slider > 0) {
        effect.SliderValues[slider] = reading;
        effect.DoSlider();
    } else if (index == kFastGain) {
        effect.fast.gain = std::pow(10, reading / 20);
    } else if (index == kMediumGain) {
        effect.medium.gain = std::pow(10, reading / 20);
    } else if (index == kSlowGain) {
        effect.slow.gain = std::pow(10, reading / 20);
    } else if (index == kOutputLoudness) {
        effect.displayPower = std::pow(10, reading / 10);
    } else if (index == kGateLevel) {
        effect.gateLevel = reading;
    } else if (index == kGatingRatio) {
        effect.gatingRatio = reading;
    }
}

} // namespace leveler
